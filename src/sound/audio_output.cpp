#include "sound/audio_output.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <system_error>

namespace qv {

namespace {

constexpr auto kPollStep = std::chrono::milliseconds(10);

}  // namespace

int blockSizeForIndex(int index) { return 2048 << std::clamp(index, 0, kBlockSizeItems - 1); }

int blockCountForIndex(int index) { return std::clamp(index, 0, kBlockCountItems - 1) + 2; }

double streamLatencySeconds(int blockSize, int blockCount) {
    return static_cast<double>(blockSize) * blockCount / kStreamBytesPerSecond;
}

AudioOutput::AudioOutput(AudioDevice& device, SampleProducer& producer)
    : device_(device), producer_(producer) {}

AudioOutput::~AudioOutput() { close(); }

bool AudioOutput::open(int blockSizeIndex, int blockCountIndex) {
    close();
    blockSize_ = blockSizeForIndex(blockSizeIndex);
    blockCount_ = blockCountForIndex(blockCountIndex);
    // The device takes half a block at a time, at most 1024 samples: small
    // enough that two blocks keep it busy, and closing a device costs a few
    // of its periods.
    periodSamples_ = std::clamp(blockSize_ / 4, 256, 1024);
    block_.assign(static_cast<std::size_t>(blockSize_ / 2), 0);
    blockFill_ = 0;
    // A stream that was closed before left its thread's acknowledgement here.
    stopRequest_.store(kRun, std::memory_order_release);
    producer_.streamOpened();

    AudioDeviceFormat format;
    format.sampleRate = 44100;
    format.channels = 1;
    format.periodSamples = periodSamples_;
    if (!device_.open(format)) {
        lastError_ = device_.error();
        if (lastError_.empty()) lastError_ = "the audio device could not be opened";
        block_ = {};
        return false;
    }
    try {
        thread_ = std::thread(&AudioOutput::run, this);
    } catch (const std::system_error&) {
        device_.close();
        block_ = {};
        lastError_ = "the audio thread could not be started";
        return false;
    }
    lastError_.clear();
    closeTimedOut_ = false;
    open_ = true;
    return true;
}

void AudioOutput::close() {
    if (!open_) return;
    {
        std::lock_guard lock(wakeMutex_);
        stopRequest_.store(kStopRequested, std::memory_order_release);
    }
    wake_.notify_all();
    {
        std::unique_lock lock(wakeMutex_);
        while (!wake_.wait_for(lock, kPollStep,
                               [this] { return stopRequest_.load(std::memory_order_acquire) == kStopped; })) {
        }
    }
    thread_.join();

    // Let the device play what it holds. A device that stopped on its own or
    // stopped taking samples gets the latency plus a second, then is closed
    // with whatever it still holds.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(latencySeconds() + 1.0));
    closeTimedOut_ = false;
    while (device_.queuedBytes() > 0) {
        if (device_.failed() || Clock::now() >= deadline) {
            closeTimedOut_ = true;
            break;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    earlierUnderruns_ += device_.underrunSamples();
    device_.close();
    block_ = {};
    blockFill_ = 0;
    open_ = false;
}

void AudioOutput::syncWithRenderer() { std::lock_guard lock(renderMutex_); }

void AudioOutput::setFlagBetweenRenders(std::atomic<bool>& flag, bool value) {
    std::lock_guard lock(renderMutex_);
    flag.store(value, std::memory_order_release);
}

AudioOutput::DrivingScope::DrivingScope(AudioOutput* output, std::atomic<bool>& flag)
    : output_(output), flag_(flag) {
    if (output_)
        output_->setFlagBetweenRenders(flag_, true);
    else
        flag_.store(true, std::memory_order_release);
}

AudioOutput::DrivingScope::~DrivingScope() {
    if (output_)
        output_->setFlagBetweenRenders(flag_, false);
    else
        flag_.store(false, std::memory_order_release);
}

void AudioOutput::run() {
    device_.raiseThreadPriority();
    std::array<int16_t, kSamplesPerRender> buffer{};
    while (stopRequest_.load(std::memory_order_acquire) == kRun) {
        {
            std::lock_guard lock(renderMutex_);
            producer_.produce(buffer.data(), kSamplesPerRender);
        }
        renderCalls_.fetch_add(1, std::memory_order_acq_rel);
        write(buffer.data(), kSamplesPerRender);
    }
    {
        std::lock_guard lock(wakeMutex_);
        stopRequest_.store(kStopped, std::memory_order_release);
    }
    wake_.notify_all();
}

void AudioOutput::write(const int16_t* samples, int count) {
    const std::size_t blockSamples = block_.size();
    auto remaining = static_cast<std::size_t>(count);
    while (remaining > 0) {
        const std::size_t n = std::min(remaining, blockSamples - blockFill_);
        std::copy_n(samples, n, block_.begin() + static_cast<std::ptrdiff_t>(blockFill_));
        blockFill_ += n;
        samples += n;
        remaining -= n;
        if (blockFill_ < blockSamples) return;
        // A full block goes out at once.
        const bool queued = device_.queue(block_.data(), blockSamples);
        blockFill_ = 0;
        if (queued) {
            blocksQueued_.fetch_add(1, std::memory_order_acq_rel);
            if (!waitWhileFull()) return;
        } else if (!pause()) {
            // The device refused the block; pace the thread as if it had
            // played it rather than spin.
            return;
        }
    }
}

bool AudioOutput::waitWhileFull() {
    // Room for the next block comes when the device holds no more than
    // blockCount - 1 blocks. Waking right then, not up to a poll step later,
    // leaves the device a whole block to play while the next one is made.
    const auto limit = static_cast<std::size_t>(blockCount_ - 1) * static_cast<std::size_t>(blockSize_);
    for (;;) {
        const std::size_t queued = device_.queuedBytes();
        if (queued <= limit) return true;
        // Bytes to play before there is room, at 88.2 bytes per millisecond.
        const auto wait = std::chrono::microseconds((queued - limit) * 1000000 / kStreamBytesPerSecond);
        if (!pause(std::clamp(wait, std::chrono::microseconds(500), std::chrono::microseconds(kPollStep)))) return false;
    }
}

uint64_t AudioOutput::underrunSamples() {
    return earlierUnderruns_ + (open_ ? device_.underrunSamples() : 0);
}

bool AudioOutput::pause(std::chrono::microseconds step) {
    std::unique_lock lock(wakeMutex_);
    return !wake_.wait_for(lock, step, [this] { return stopRequest_.load(std::memory_order_acquire) != kRun; });
}

}  // namespace qv
