#include "editor/export_commands.h"

#include <QFileInfo>
#include <QWidget>

#include "editor/form_render_wav.h"
#include "io/register_dump.h"
#include "io/vgm_export.h"
#include "song/module_file.h"

namespace qv {

ExportCommands::ExportCommands(AppContext& ctx, UserDialogs& dialogs, QWidget* dialogParent)
    : QObject(dialogParent), ctx_(ctx), dialogs_(dialogs) {
    setObjectName("ExportCommands");
    renderWav_ = new TFormRenderWav(dialogParent);
}

void ExportCommands::setModuleFileName(const QString& path) { moduleFileName_ = path; }

void ExportCommands::moduleSaved(const QString& path) {
    exportBaseName_ = QString::fromStdString(fileTitle(path.toStdString()));
}

QString ExportCommands::exportStart(const QString& suffix) const {
    QString base = exportBaseName_;
    if (base.isEmpty())
        base = QString::fromStdString(fileTitle(moduleFileName_.toStdString()));
    return existingFolder(ctx_.settings.pathExport) + "/" + base + "." + suffix;
}

void ExportCommands::rememberExportFolder(const QString& path) {
    ctx_.settings.pathExport = folderOf(path);
}

bool ExportCommands::exportWaveTo(const QString& path, bool allChannels) {
    // The render drives the chips itself: the stream is closed around it.
    const bool wasOpen = ctx_.audio.isOpen();
    const bool testOn = ctx_.source.testSignalOn.exchange(false);
    ctx_.audio.close();
    lastExportOk_ = false;
    const bool started = renderWav_->run(ctx_, path, allChannels);
    lastExportOk_ = started && renderWav_->job().succeeded.load();
    ctx_.source.testSignalOn.store(testOn);
    if (wasOpen) emit audioReopenRequested();
    rememberExportFolder(path);
    if (!lastExportOk_ && !renderWav_->job().cancelled.load())
        dialogs_.showError("Can't write file '" + path + "'!");
    return lastExportOk_;
}

void ExportCommands::ExportWaveClick(bool unmuted) {
    emit stopRequested();
    emit renderStarting();
    const QString title =
        QString("Export wave file (") + (unmuted ? "unmuted" : "all") + " channels)";
    const QString path =
        dialogs_.saveDialogFn(title, exportStart("wav"), "Windows wave file (*.wav)", "wav");
    if (!path.isEmpty()) exportWaveTo(path, !unmuted);
    emit renderFinished();
}

bool ExportCommands::drivenExport(const QString& path, bool (*write)(Player&, ChipPair&, Song&,
                                                                 const std::string&)) {
    bool ok;
    {
        // The Player is driven from here; the audio thread keeps the device fed.
        AudioOutput::DrivingScope scope(&ctx_.audio, ctx_.player.exportDriving);
        ok = write(ctx_.player, ctx_.chips, *ctx_.song, path.toStdString());
    }
    ctx_.chips.reset();
    lastExportOk_ = ok;
    rememberExportFolder(path);
    if (!ok) dialogs_.showError("Can't write file '" + path + "'!");
    return ok;
}

bool ExportCommands::exportVgmTo(const QString& path) { return drivenExport(path, exportVgm); }

void ExportCommands::ExportVGMClick() {
    emit stopRequested();
    const QString path =
        dialogs_.saveDialogFn("Export VGM file", exportStart("vgm"), "VGM file (*.vgm)", "vgm");
    if (!path.isEmpty()) exportVgmTo(path);
}

bool ExportCommands::exportVgm2203To(const QString& path) { return drivenExport(path, exportVgm2203); }

void ExportCommands::ExportVGM2203Click() {
    emit stopRequested();
    const QString path = dialogs_.saveDialogFn("Export VGM file for the sound extension",
                                               exportStart("2203.vgm"), "VGM file (*.vgm)", "vgm");
    if (!path.isEmpty()) exportVgm2203To(path);
}

bool ExportCommands::exportStemsTo(const QString& path) {
    // The stems render on chips of their own; the stream stays closed as for
    // any render, so the machine's cores go to the stems.
    const bool wasOpen = ctx_.audio.isOpen();
    ctx_.audio.close();
    const bool started = renderWav_->runStems(ctx_, path);
    lastExportOk_ = started && renderWav_->job().succeeded.load();
    if (wasOpen) emit audioReopenRequested();
    rememberExportFolder(path);
    if (!lastExportOk_ && !renderWav_->job().cancelled.load())
        dialogs_.showError("Can't write file '" + path + "'!");
    return lastExportOk_;
}

void ExportCommands::ExportWaveChannelsClick() {
    emit stopRequested();
    emit renderStarting();
    const QString path = dialogs_.saveDialogFn("Export wave files, one per channel", exportStart("wav"),
                                               "Windows wave file (*.wav)", "wav");
    if (!path.isEmpty()) exportStemsTo(path);
    emit renderFinished();
}

bool ExportCommands::exportRegistersTo(const QString& path, bool megaDrive) {
    if (megaDrive)
        return drivenExport(path, [](Player& p, ChipPair& c, Song& s, const std::string& f) {
            return exportRegisterDump(p, c, s, f, kMegaDriveClock);
        });
    return drivenExport(path, [](Player& p, ChipPair& c, Song& s, const std::string& f) {
        return exportRegisterDump(p, c, s, f, kChipClock);
    });
}

void ExportCommands::ExporRegQZMClick() {
    emit stopRequested();
    const QString path = dialogs_.saveDialogFn("Export QZD registers dump for QZM",
                                               exportStart("qzd"), "QZM registers dump (*.qzd)",
                                               "qzd");
    if (!path.isEmpty()) exportRegistersTo(path, false);
}

void ExportCommands::ExporRegSMDClick() {
    emit stopRequested();
    const QString path = dialogs_.saveDialogFn("Export QZD registers dump for SMD",
                                               exportStart("qzd"), "QZM registers dump (*.qzd)",
                                               "qzd");
    if (!path.isEmpty()) exportRegistersTo(path, true);
}

}  // namespace qv
