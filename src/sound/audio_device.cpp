#include "sound/audio_device.h"

#include <algorithm>

namespace qv {

NullAudioDevice::NullAudioDevice() : NullAudioDevice(Options{}) {}

NullAudioDevice::NullAudioDevice(Options options) : options_(options) {}

bool NullAudioDevice::open(const AudioDeviceFormat& format) {
    std::lock_guard lock(mutex_);
    if (options_.failOpen || format.periodSamples <= 0) return false;
    format_ = format;
    open_ = true;
    failed_ = false;
    ++openCount_;
    queue_.clear();
    head_ = 0;
    maxQueuedBytes_ = queuedTotal_ = playedTotal_ = droppedAtClose_ = 0;
    underruns_ = 0;
    recording_.clear();
    epoch_ = Clock::now();
    periodsDone_ = 0;
    played_ = false;
    return true;
}

void NullAudioDevice::close() {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    advance();
    droppedAtClose_ = queue_.size() - head_;
    queue_.clear();
    head_ = 0;
    open_ = false;
    ++closeCount_;
}

bool NullAudioDevice::queue(const int16_t* samples, std::size_t count) {
    std::lock_guard lock(mutex_);
    if (!open_) return false;
    advance();
    if (head_ > 0 && head_ * 2 >= queue_.size()) {
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    queue_.insert(queue_.end(), samples, samples + count);
    queuedTotal_ += count;
    maxQueuedBytes_ = std::max(maxQueuedBytes_, (queue_.size() - head_) * 2);
    return true;
}

std::size_t NullAudioDevice::queuedBytes() {
    std::lock_guard lock(mutex_);
    advance();
    return (queue_.size() - head_) * 2;
}

bool NullAudioDevice::failed() {
    std::lock_guard lock(mutex_);
    return failed_;
}

std::string NullAudioDevice::error() const {
    std::lock_guard lock(mutex_);
    return options_.failOpen ? "no audio device present" : "";
}

void NullAudioDevice::advance() {
    if (!open_ || failed_ || options_.speed <= 0) return;
    const double periodSeconds =
        format_.periodSamples / (static_cast<double>(format_.sampleRate) * options_.speed);
    const double elapsed = std::chrono::duration<double>(Clock::now() - epoch_).count();
    const auto due = static_cast<long long>(elapsed / periodSeconds);
    while (periodsDone_ < due) {
        const std::size_t available = queue_.size() - head_;
        if (available == 0) {
            // Nothing left: the rest of the due periods all play silence.
            if (queuedTotal_ > 0) underruns_ += static_cast<int>(std::min<long long>(due - periodsDone_, 1 << 20));
            periodsDone_ = due;
            break;
        }
        const auto period = static_cast<std::size_t>(format_.periodSamples);
        if (available < period && queuedTotal_ > 0) ++underruns_;
        take(std::min(available, period));
        ++periodsDone_;
    }
}

void NullAudioDevice::take(std::size_t count) {
    if (count == 0) return;
    if (!played_) {
        played_ = true;
        firstPlay_ = Clock::now();
    }
    if (options_.record) {
        recording_.insert(recording_.end(), queue_.begin() + static_cast<std::ptrdiff_t>(head_),
                          queue_.begin() + static_cast<std::ptrdiff_t>(head_ + count));
    }
    head_ += count;
    playedTotal_ += count;
}

void NullAudioDevice::consume(std::size_t count) {
    std::lock_guard lock(mutex_);
    advance();
    take(std::min(count, queue_.size() - head_));
}

void NullAudioDevice::setSpeed(double speed) {
    std::lock_guard lock(mutex_);
    advance();
    options_.speed = speed;
    epoch_ = Clock::now();
    periodsDone_ = 0;
}

void NullAudioDevice::setFailed(bool failed) {
    std::lock_guard lock(mutex_);
    advance();
    failed_ = failed;
}

bool NullAudioDevice::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

int NullAudioDevice::openCount() const {
    std::lock_guard lock(mutex_);
    return openCount_;
}

int NullAudioDevice::closeCount() const {
    std::lock_guard lock(mutex_);
    return closeCount_;
}

int NullAudioDevice::underruns() const {
    std::lock_guard lock(mutex_);
    return underruns_;
}

std::size_t NullAudioDevice::maxQueuedBytes() const {
    std::lock_guard lock(mutex_);
    return maxQueuedBytes_;
}

std::size_t NullAudioDevice::queuedTotal() const {
    std::lock_guard lock(mutex_);
    return queuedTotal_;
}

std::size_t NullAudioDevice::playedTotal() const {
    std::lock_guard lock(mutex_);
    return playedTotal_;
}

std::size_t NullAudioDevice::droppedAtClose() const {
    std::lock_guard lock(mutex_);
    return droppedAtClose_;
}

std::vector<int16_t> NullAudioDevice::recording() const {
    std::lock_guard lock(mutex_);
    return recording_;
}

bool NullAudioDevice::firstPlayTime(std::chrono::steady_clock::time_point& when) const {
    std::lock_guard lock(mutex_);
    if (!played_) return false;
    when = firstPlay_;
    return true;
}

}  // namespace qv
