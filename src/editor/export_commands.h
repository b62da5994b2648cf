// The export commands of the File menu: the wave render (all or unmuted
// channels, behind the TFormRenderWav progress dialog), the VGM file and the
// two register dumps. Each asks for a target in the export folder, named
// after the module, and reports a failed write. The window stops playback,
// pauses its display timer and reopens the audio stream when asked through
// the signals.
#pragma once

#include <QObject>
#include <QString>

#include "app/app_context.h"
#include "editor/user_dialogs.h"

class QWidget;

namespace qv {

class TFormRenderWav;

class ExportCommands : public QObject {
    Q_OBJECT
public:
    // dialogParent: the window the render's progress dialog belongs to.
    ExportCommands(AppContext& ctx, UserDialogs& dialogs, QWidget* dialogParent);

    // Exports with a known path (the menu handlers ask for it first).
    bool exportWaveTo(const QString& path, bool allChannels);
    bool exportVgmTo(const QString& path);
    bool exportVgm2203To(const QString& path);
    // path names the stems' base: NAME.wav gives NAME.ch1.wav ... NAME.ch6.wav.
    bool exportStemsTo(const QString& path);
    bool exportRegistersTo(const QString& path, bool megaDrive);
    // Whether the last export ran to success.
    bool lastExportOk() const { return lastExportOk_; }
    TFormRenderWav& renderDialog() { return *renderWav_; }

public slots:
    void ExportWaveClick(bool unmuted);
    void ExportVGMClick();
    void ExportVGM2203Click();
    void ExportWaveChannelsClick();
    void ExporRegQZMClick();
    void ExporRegSMDClick();
    // The module's current name: targets are named after it.
    void setModuleFileName(const QString& path);
    // The module was saved to path: targets take its base name.
    void moduleSaved(const QString& path);

signals:
    // Playback must stop and the chips be reset before an export.
    void stopRequested();
    // The wave render runs: the window's display timer pauses meanwhile.
    void renderStarting();
    void renderFinished();
    // The stream was closed around the render and must open again.
    void audioReopenRequested();

private:
    // Runs an export that drives the Player frame by frame, then reports.
    bool drivenExport(const QString& path,
                      bool (*write)(Player&, ChipPair&, Song&, const std::string&));
    QString exportStart(const QString& suffix) const;
    void rememberExportFolder(const QString& path);

    AppContext& ctx_;
    UserDialogs& dialogs_;
    QString moduleFileName_;
    QString exportBaseName_;
    bool lastExportOk_ = false;
    TFormRenderWav* renderWav_ = nullptr;
};

}  // namespace qv
