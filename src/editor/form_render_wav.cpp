#include "editor/form_render_wav.h"

#include <QApplication>
#include <QCloseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <mutex>
#include <thread>

#include "app/app_context.h"

namespace qv {

TFormRenderWav::TFormRenderWav(QWidget* parent) : QDialog(parent) {
    setObjectName("FormRenderWav");
    setWindowTitle("Render to WAV file");
    // No close button in the title bar: the button is the only way out.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    progress_ = new QProgressBar(this);
    progress_->setObjectName("ProgressBar");
    progress_->setRange(0, 100);
    progress_->setMinimumWidth(280);
    button_ = new QPushButton("Cancel", this);
    button_->setObjectName("ButtonCancel");
    layout->addWidget(progress_);
    layout->addWidget(button_, 0, Qt::AlignHCenter);
    connect(button_, &QPushButton::clicked, this, &TFormRenderWav::ButtonCancelClick);
    poll_ = new QTimer(this);
    poll_->setInterval(20);
    connect(poll_, &QTimer::timeout, this, &TFormRenderWav::poll);
}

TFormRenderWav::~TFormRenderWav() {
    worker_.cancel(job_);
    worker_.join();
}

bool TFormRenderWav::run(AppContext& ctx, const QString& path, bool allChannels) {
    job_.fileName = path.toStdString();
    progress_->setValue(0);
    button_->setText("Cancel");
    button_->setEnabled(true);
    job_.allChannels = allChannels;
    AudioOutput* audio = &ctx.audio;
    if (!worker_.start(ctx.player, ctx.chips, ctx.source, job_, {},
                       [audio] { return audio->isOpen(); }))
        return false;
    return showWhileRunning();
}

bool TFormRenderWav::runStems(AppContext& ctx, const QString& path) {
    job_.fileName = path.toStdString();
    job_.allChannels = true;
    progress_->setValue(0);
    button_->setText("Cancel");
    button_->setEnabled(true);
    stemsSong_ = std::make_unique<Song>();
    ctx.document.copySongInto(*stemsSong_);
    const int volume = ctx.chips.volume();
    const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const Song* song = stemsSong_.get();
    if (!worker_.startTask(job_, [song, volume, threads](RenderJob& job) {
            return renderStems(*song, volume, stemPaths(job.fileName), threads, &job);
        }))
        return false;
    const bool shown = showWhileRunning();
    stemsSong_.reset();
    return shown;
}

bool TFormRenderWav::showWhileRunning() {
    poll_->start();
    exec();
    poll_->stop();
    worker_.join();
    return true;
}

void TFormRenderWav::poll() {
    const int p = job_.progress.load();
    if (p >= 0 && p != progress_->value()) progress_->setValue(p);
    if (job_.state.load() == RenderJob::Finished && !job_.active.load()) {
        poll_->stop();
        finished();
    }
}

void TFormRenderWav::finished() {
    if (!job_.cancelled.load()) progress_->setValue(100);
    button_->setText("Done");
    QApplication::beep();
    // A moment to read "Done", then the dialog closes itself.
    QTimer::singleShot(250, this, [this] { ButtonCancelClick(); });
}

void TFormRenderWav::ButtonCancelClick() {
    if (job_.active.load()) {
        if (job_.state.load() == RenderJob::Running) worker_.cancel(job_);
        return;
    }
    if (job_.state.load() == RenderJob::Finished && poll_->isActive()) return;
    if (isVisible()) done(QDialog::Accepted);
}

void TFormRenderWav::closeEvent(QCloseEvent* event) {
    if (job_.active.load()) event->ignore();
    else QDialog::closeEvent(event);
}

void TFormRenderWav::reject() {
    // Escape behaves like the button.
    ButtonCancelClick();
}

}  // namespace qv
