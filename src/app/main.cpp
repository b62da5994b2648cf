// Program entry. Batch switches are handled before any Qt object exists, so a
// conversion needs no display; otherwise the editor window opens.
#include <QApplication>
#include <QSettings>
#include <memory>

#include "app/app_context.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "editor/form_main.h"
#include "io/batch.h"
#include "sound/sdl/sdl_audio_device.h"

int main(int argc, char** argv) {
    bool handled = false;
    const int batchResult = qv::runBatch(argc, argv, handled, [] {
        return qv::Settings::readWaveOutputVolume(*qv::Settings::openUserStore());
    });
    if (handled) return batchResult;

    QApplication app(argc, argv);
    QApplication::setOrganizationName("Nostrel");
    QApplication::setApplicationName("Qorvette");
    const QStringList args = QApplication::arguments().mid(1);

    // Single-instance mode: hand the argument to the running copy and leave.
    std::unique_ptr<qv::SingleInstance> instance;
    if (qv::Settings::readOneInstance(*qv::Settings::openUserStore())) {
        instance = std::make_unique<qv::SingleInstance>();
        if (instance->start(qv::SingleInstance::argumentText(args)) ==
            qv::SingleInstance::Result::HandedOver)
            return 0;
    }

    auto ctx = std::make_unique<qv::AppContext>(std::make_unique<qv::SdlAudioDevice>());
    {
        auto store = qv::Settings::openUserStore();
        ctx->settings.load(*store);
    }
    const qv::LayoutSelection layout =
        qv::selectLayout(ctx->layout, ctx->settings.keyboardLayout.toStdString(),
                         QApplication::applicationDirPath().toStdString());
    ctx->settings.keyboardLayout = QString::fromStdString(layout.setting);

    ctx->document.buildNoteTables(qv::kChipClock);
    ctx->chips.create(qv::kSampleRate, qv::kChipClock, ctx->settings.waveOutputVolume);
    ctx->audio.open(ctx->settings.waveBlockSize, ctx->settings.waveBlockCount);

    int result = 0;
    {
        qv::TFormMain window(*ctx);
        if (!layout.failedPath.empty())
            window.messageBox("Can't load keyboard layout '" +
                                  QString::fromStdString(layout.failedPath) +
                                  "'\nDefault layout will be used instead\n",
                              "Error", QMessageBox::Ok);
        window.checkSoundOutput();
        // The module named on the command line; a failing load stays silent.
        if (!args.isEmpty()) window.loadStartupModule(args.first());
        if (instance)
            instance->setReceiver([&window](const QString& text) { window.handOver(text); });
        window.show();
        result = QApplication::exec();
        if (instance) instance->setReceiver({});

        // Shutdown: the stream, then the chips, then the settings.
        ctx->audio.close();
        ctx->chips.destroy();
        auto store = qv::Settings::openUserStore();
        ctx->settings.save(*store);
    }
    instance.reset();
    ctx.reset();
    return result;
}
