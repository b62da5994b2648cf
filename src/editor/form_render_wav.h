// The wave render's progress dialog: a progress bar and one button that
// cancels the render while it runs and reads "Done" once it has finished.
#pragma once
#include <QDialog>
#include <memory>

#include "io/wav_export.h"

class QProgressBar;
class QPushButton;
class QTimer;

namespace qv {

struct AppContext;

class TFormRenderWav : public QDialog {
    Q_OBJECT
public:
    explicit TFormRenderWav(QWidget* parent = nullptr);
    ~TFormRenderWav() override;

    // Renders the song to path on a worker thread while the dialog is shown
    // modally. The audio stream must be closed. Returns false when the
    // worker could not be started (the dialog is then not shown); otherwise
    // true once the dialog has closed, whatever the render's outcome
    // (see job()).
    bool run(AppContext& ctx, const QString& path, bool allChannels);
    // The same for the six per-channel files of path (stemPaths): one bar
    // for the whole job, one Cancel. The stems render from a copy of the
    // song on chips of their own, on as many threads as there are cores.
    bool runStems(AppContext& ctx, const QString& path);
    const RenderJob& job() const { return job_; }

public slots:
    void ButtonCancelClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    bool showWhileRunning();
    void poll();
    void finished();

    RenderJob job_;
    std::unique_ptr<Song> stemsSong_;
    RenderWorker worker_;
    QProgressBar* progress_ = nullptr;
    QPushButton* button_ = nullptr;
    QTimer* poll_ = nullptr;
};

}  // namespace qv
