#include "sound/audio_device.h"

#include <algorithm>

namespace qv {

NullAudioDevice::NullAudioDevice() : NullAudioDevice(Options{}) {}

NullAudioDevice::NullAudioDevice(Options options) : options_(options) {}

bool NullAudioDevice::open(const AudioDeviceFormat& format) {
    std::lock_guard lock(mutex_);
    if (options_.failOpen || format.periodSamples <= 0) return false;
    format_ = format;
    failed_ = false;
    const Stats previous = stats_;
    stats_ = Stats{};
    stats_.open = true;
    stats_.opens = previous.opens + 1;
    stats_.closes = previous.closes;
    queue_.clear();
    head_ = 0;
    recording_.clear();
    epoch_ = Clock::now();
    periodsDone_ = 0;
    positionAtEpoch_ = 0;
    watching_ = watchingQueue_ = true;
    return true;
}

void NullAudioDevice::close() {
    std::lock_guard lock(mutex_);
    if (!stats_.open) return;
    advance();
    stats_.droppedAtClose = queue_.size() - head_;
    queue_.clear();
    head_ = 0;
    stats_.open = false;
    ++stats_.closes;
}

bool NullAudioDevice::queue(const int16_t* samples, std::size_t count) {
    std::lock_guard lock(mutex_);
    if (!stats_.open) return false;
    advance();
    if (head_ > 0 && head_ * 2 >= queue_.size()) {
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    if (watchingQueue_ && std::any_of(samples, samples + count, [](int16_t v) { return v != 0; })) {
        stats_.firstSoundQueued = clockNow();
        watchingQueue_ = false;
    }
    queue_.insert(queue_.end(), samples, samples + count);
    stats_.queued += count;
    stats_.maxQueuedBytes = std::max(stats_.maxQueuedBytes, (queue_.size() - head_) * 2);
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
    if (!stats_.open || failed_ || options_.speed <= 0) return;
    const double periodSeconds =
        format_.periodSamples / (static_cast<double>(format_.sampleRate) * options_.speed);
    const double elapsed = std::chrono::duration<double>(Clock::now() - epoch_).count();
    const auto due = static_cast<long long>(elapsed / periodSeconds);
    const auto period = static_cast<std::size_t>(format_.periodSamples);
    while (periodsDone_ < due) {
        const std::size_t available = queue_.size() - head_;
        if (available == 0) {
            // Nothing left: the rest of the due periods all play silence.
            if (stats_.queued > 0) {
                const long long silent = due - periodsDone_;
                stats_.underruns += static_cast<int>(std::min<long long>(silent, 1 << 20));
                stats_.underrunSamples += static_cast<uint64_t>(silent) * period;
            }
            periodsDone_ = due;
            break;
        }
        if (available < period && stats_.queued > 0) {
            ++stats_.underruns;
            stats_.underrunSamples += period - available;
        }
        take(std::min(available, period));
        ++periodsDone_;
    }
}

void NullAudioDevice::take(std::size_t count) {
    if (count == 0) return;
    const auto first = queue_.begin() + static_cast<std::ptrdiff_t>(head_);
    if (watching_) {
        const auto sound = std::find_if(first, first + static_cast<std::ptrdiff_t>(count),
                                        [](int16_t v) { return v != 0; });
        if (sound != first + static_cast<std::ptrdiff_t>(count)) {
            // Played from the start of the current period on.
            stats_.firstSound = positionAtEpoch_ + periodsDone_ * format_.periodSamples + (sound - first);
            watching_ = false;
        }
    }
    if (options_.record) recording_.insert(recording_.end(), first, first + static_cast<std::ptrdiff_t>(count));
    head_ += count;
    stats_.played += count;
}

uint64_t NullAudioDevice::underrunSamples() {
    std::lock_guard lock(mutex_);
    advance();
    return stats_.underrunSamples;
}

double NullAudioDevice::clockSamples() {
    std::lock_guard lock(mutex_);
    advance();
    return clockNow();
}

double NullAudioDevice::clockNow() const {
    if (!stats_.open || failed_ || options_.speed <= 0)
        return static_cast<double>(positionAtEpoch_ + periodsDone_ * format_.periodSamples);
    const double elapsed = std::chrono::duration<double>(Clock::now() - epoch_).count();
    return static_cast<double>(positionAtEpoch_) + elapsed * format_.sampleRate * options_.speed;
}

void NullAudioDevice::watchForSound() {
    std::lock_guard lock(mutex_);
    advance();
    watching_ = watchingQueue_ = true;
    stats_.firstSound = -1;
    stats_.firstSoundQueued = -1;
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
    positionAtEpoch_ += periodsDone_ * format_.periodSamples;
    epoch_ = Clock::now();
    periodsDone_ = 0;
}

void NullAudioDevice::setFailed(bool failed) {
    std::lock_guard lock(mutex_);
    advance();
    failed_ = failed;
}

void NullAudioDevice::setFailOpen(bool failOpen) {
    std::lock_guard lock(mutex_);
    options_.failOpen = failOpen;
}

NullAudioDevice::Stats NullAudioDevice::stats() {
    std::lock_guard lock(mutex_);
    advance();
    return stats_;
}

std::vector<int16_t> NullAudioDevice::recording() const {
    std::lock_guard lock(mutex_);
    return recording_;
}

// ---- SilentFallbackDevice ----------------------------------------------------

SilentFallbackDevice::SilentFallbackDevice(std::unique_ptr<AudioDevice> card)
    : card_(std::move(card)) {}

bool SilentFallbackDevice::open(const AudioDeviceFormat& format) {
    close();
    format_ = format;
    formatKnown_ = true;
    nextRetry_ = {};
    if (card_ && card_->open(format)) {
        cardOpen_ = true;
        silent_.store(false, std::memory_order_release);
        std::lock_guard lock(errorMutex_);
        cardError_.clear();
        return true;
    }
    {
        std::lock_guard lock(errorMutex_);
        cardError_ = card_ ? card_->error() : std::string();
        if (cardError_.empty()) cardError_ = "the audio device could not be opened";
    }
    silent_.store(true, std::memory_order_release);
    return standIn_.open(format);
}

void SilentFallbackDevice::close() {
    if (cardOpen_) card_->close();
    cardOpen_ = false;
    standIn_.close();
    formatKnown_ = false;
}

bool SilentFallbackDevice::retryCard() {
    if (!silent()) return true;
    if (!card_ || !formatKnown_) return false;
    if (cardOpen_) card_->close();
    cardOpen_ = card_->open(format_);
    if (!cardOpen_) {
        std::lock_guard lock(errorMutex_);
        const std::string why = card_->error();
        if (!why.empty()) cardError_ = why;
        return false;
    }
    {
        std::lock_guard lock(errorMutex_);
        cardError_.clear();
    }
    nextRetry_ = {};
    // The stand-in stays open until close(): the audio thread may still be
    // inside one of its calls.
    silent_.store(false, std::memory_order_release);
    return true;
}

bool SilentFallbackDevice::retryCardIfDue(std::chrono::steady_clock::time_point now) {
    if (!silent()) return true;
    if (nextRetry_ == std::chrono::steady_clock::time_point{}) {
        nextRetry_ = now + kRetryInterval;
        return false;
    }
    if (now < nextRetry_) return false;
    nextRetry_ = now + kRetryInterval;
    return retryCard();
}

void SilentFallbackDevice::checkCard() {
    if (silent() || !cardOpen_ || !card_->failed()) return;
    {
        std::lock_guard lock(errorMutex_);
        cardError_ = "the audio device stopped";
    }
    // The card stays open (closing it is the user-interface thread's part);
    // from now on the stand-in keeps time.
    if (standIn_.open(format_)) silent_.store(true, std::memory_order_release);
}

bool SilentFallbackDevice::queue(const int16_t* samples, std::size_t count) {
    checkCard();
    return active().queue(samples, count);
}

std::size_t SilentFallbackDevice::queuedBytes() {
    checkCard();
    return active().queuedBytes();
}

bool SilentFallbackDevice::failed() { return active().failed(); }

uint64_t SilentFallbackDevice::underrunSamples() {
    // The stand-in counts none while the card had played: it starts at 0.
    return (cardOpen_ ? card_->underrunSamples() : 0) + (silent() ? standIn_.underrunSamples() : 0);
}

void SilentFallbackDevice::raiseThreadPriority() { active().raiseThreadPriority(); }

std::string SilentFallbackDevice::error() const {
    if (!silent()) return {};
    std::lock_guard lock(errorMutex_);
    return cardError_;
}

}  // namespace qv

