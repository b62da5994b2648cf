// Program entry. Batch switches are handled before any Qt object exists, so a
// conversion needs no display; otherwise the editor window opens.
#include <QApplication>
#include <QSettings>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/app_context.h"
#include "app/data_paths.h"
#include "app/settings.h"
#include "app/single_instance.h"
#include "editor/file_flow.h"
#include "editor/form_main.h"
#include "editor/recovery.h"
#include "io/batch.h"
#include "sound/sdl/sdl_audio_device.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--check-data") == 0) return qv::checkData(argc, argv);
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
    // Paths go over made absolute: the running copy works in a folder of its own.
    std::unique_ptr<qv::SingleInstance> instance;
    if (qv::Settings::readOneInstance(*qv::Settings::openUserStore())) {
        instance = std::make_unique<qv::SingleInstance>();
        switch (instance->start(qv::SingleInstance::handOverText(args))) {
            case qv::SingleInstance::Result::HandedOver: return 0;
            case qv::SingleInstance::Result::NoAnswer:
                std::fprintf(stderr,
                             "qorvette: the running copy did not answer within %d s; "
                             "opening a window of its own\n",
                             qv::SingleInstance::kDefaultAnswerTimeoutMs / 1000);
                break;
            default: break;
        }
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
                                  QString::fromStdString(layout.failedPath) + "'\n" +
                                  QString::fromStdString(layout.report.text()) +
                                  "Default layout will be used instead\n",
                              "Error", QMessageBox::Ok);
        else if (!layout.report.empty())
            window.messageBox("Keyboard layout '" + ctx->settings.keyboardLayout +
                                  "' has unknown names:\n" +
                                  QString::fromStdString(layout.report.text()),
                              "Warning", QMessageBox::Ok);
        window.checkSoundOutput();
        // The module named on the command line; a failing load stays silent.
        if (!args.isEmpty()) window.fileFlow().loadStartupModule(args.first());
        if (instance)
            instance->setReceiver([&window](const QString& text) { window.fileFlow().handOver(text); });
        // Unsaved work is copied to the user's data folder now and then; a
        // copy left by a session that ended without closing is offered.
        qv::Recovery recovery(qv::Recovery::defaultFolder(), qv::Recovery::intervalFromEnvironment());
        window.fileFlow().setRecovery(&recovery);
        window.show();
        window.fileFlow().offerRecovery();
        result = QApplication::exec();
        if (instance) instance->setReceiver({});
        window.fileFlow().setRecovery(nullptr);

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
