// Editor speed in the offscreen window system: the start-up path from an
// empty process state to a shown main window holding the demo song, and one
// full repaint of the pattern view in a 1920x1080 window after a cursor move
// (the view redraws on every key that moves the cursor, and 60 times a second
// while a song plays).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTest>
#include <cstdlib>
#include <memory>

#include "app/app_context.h"
#include "editor/file_flow.h"
#include "editor/form_main.h"
#include "editor/pattern_view.h"
#include "sound/sdl/sdl_audio_device.h"

namespace {

const QString kDemo = QStringLiteral(QV_SOURCE_DIR "/examples/demo.qze");

struct Editor {
    std::unique_ptr<qv::AppContext> ctx;
    std::unique_ptr<qv::TFormMain> window;

    // What the program does between creating the application object and
    // entering the message loop.
    Editor() {
        ctx = std::make_unique<qv::AppContext>(std::make_unique<qv::SdlAudioDevice>());
        ctx->layout.loadDefault();
        {
            std::lock_guard<std::mutex> lock(ctx->player.songMutex());
            ctx->player.buildNoteTables(qv::kChipClock);
        }
        ctx->chips.create(qv::kSampleRate, qv::kChipClock, ctx->settings.waveOutputVolume);
        ctx->audio.open(ctx->settings.waveBlockSize, ctx->settings.waveBlockCount);
        window = std::make_unique<qv::TFormMain>(*ctx);
        window->fileFlow().askOnClose = false;
        window->fileFlow().loadStartupModule(kDemo);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get())) std::abort();
    }
    ~Editor() {
        window.reset();
        ctx->player.stop();
        ctx->audio.close();
        ctx->chips.destroy();
    }
};

void BM_StartupToShownWindow(benchmark::State& state) {
    for (auto _ : state) {
        auto editor = std::make_unique<Editor>();
        state.PauseTiming();
        editor.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartupToShownWindow)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_PatternViewPaint1920x1080(benchmark::State& state) {
    Editor editor;
    editor.window->setGeometry(0, 0, 1920, 1080);
    QApplication::processEvents();
    auto* view = editor.window->findChild<qv::PatternView*>("PaintBoxPtn");
    if (!view) std::abort();
    state.counters["lines"] = view->height() / view->lineHeight();
    int row = 0;
    for (auto _ : state) {
        row = (row + 1) % 64;
        editor.ctx->view.cursorRow = row;
        view->repaint();
    }
}
BENCHMARK(BM_PatternViewPaint1920x1080)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER")) qputenv("SDL_AUDIODRIVER", "dummy");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
