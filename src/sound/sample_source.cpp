#include "sound/sample_source.h"

#include <algorithm>

namespace qv {

SampleSource::SampleSource(Player& player, ChipPair& chips) : player_(player), chips_(chips) {}

void SampleSource::restartFrameClock() { frameSamplePos_ = 0; }

void SampleSource::renderSamples(int16_t* output, int count) {
    // Sequentially consistent with the exporter's exchange of exportDriving
    // and its read of renderBusy: either it sees this call busy, or this call
    // sees the export flag.
    player_.renderBusy.store(true, std::memory_order_seq_cst);
    // With the chips' second render thread the frames' renders are only
    // started here (the ticks run while that thread renders chip 1) and are
    // all finished at the end: the samples from pendingFrom on.
    int16_t* pendingFrom = output;
    int pendingCount = 0;
    auto settle = [&] {
        if (pendingCount == 0) return;
        chips_.finishQueuedRender();
        finish(pendingFrom, pendingCount);
        pendingCount = 0;
    };
    while (count > 0) {
        const bool split = chips_.renderThreadRunning();
        bool pending = false;
        const int n = segment(output, count, split, pending);
        if (pending) {
            if (pendingCount == 0) pendingFrom = output;
            pendingCount += n;
        } else {
            settle();
            finish(output, n);
        }
        output += n;
        count -= n;
        frameSamplePos_ += n;
        if (frameSamplePos_ == kSamplesPerFrame) {
            frameSamplePos_ = 0;
            // While an exporter drives the Player from its own thread the frame
            // clock keeps running, but the ticks and the queue are the exporter's.
            if (!player_.exportDriving.load(std::memory_order_seq_cst)) {
                std::lock_guard<std::mutex> lock(player_.songMutex());
                player_.tick();
            }
        }
    }
    settle();
    player_.renderBusy.store(false, std::memory_order_release);
}

int SampleSource::segment(int16_t* output, int count, bool split, bool& pending) {
    int n;
    if (player_.exportDriving.load(std::memory_order_seq_cst)) {
        n = std::min(count, kSamplesPerFrame - frameSamplePos_);
        chips_.renderMixOnly(output, n);
    } else {
        // The queue is also emptied by start and stop on the interface
        // thread, under the song lock: apply it under the same lock.
        std::lock_guard<std::mutex> lock(player_.songMutex());
        const bool playing = player_.isPlaying();
        if (playing && !wasPlaying_) frameSamplePos_ = 0;
        wasPlaying_ = playing;
        n = std::min(count, kSamplesPerFrame - frameSamplePos_);
        if (split) {
            pending = true;
            return chips_.startQueuedRender(output, n);
        }
        chips_.renderWithQueue(output, n);
    }
    return n;
}

void SampleSource::finish(int16_t* output, int count) {

    if (testSignalOn.load(std::memory_order_acquire)) {
        for (int i = 0; i < count; ++i) {
            float x = testPhase_;
            float x2 = x * x;
            output[i] = static_cast<int16_t>((x2 * (2.0f * x2 - 4.0f) + 1.0f) * 16384.0f);
            testPhase_ += testStep_;
            if (testPhase_ >= 1.0f) testPhase_ -= 2.0f;
        }
    }
    if (scopeOn.load(std::memory_order_acquire)) capture(output, count);
}

void SampleSource::setupScope(int width, int height) {
    std::lock_guard<std::mutex> lock(scopeMutex_);
    scopeWidth_ = std::max(width, 0) + 1;
    scopeHeight_ = std::max(height, 1);
    scopeCounter_ = 0;
    scopeCapture_.assign(static_cast<size_t>(scopeWidth_), scopeHeight_ / 2);
    scopeDisplay_ = scopeCapture_;
}

std::vector<int> SampleSource::scopeDisplay() const {
    std::lock_guard<std::mutex> lock(scopeMutex_);
    return scopeDisplay_;
}

void SampleSource::capture(const int16_t* samples, int count) {
    std::lock_guard<std::mutex> lock(scopeMutex_);
    if (scopeWidth_ == 0) return;
    for (int i = 0; i < count; ++i) {
        if (scopeCounter_ % 4 == 0) {
            int y = scopeHeight_ / 2 + ((scopeHeight_ * samples[i]) >> 15);
            scopeCapture_[static_cast<size_t>(scopeCounter_ / 4)] = std::clamp(y, 0, scopeHeight_ - 1);
        }
        if (++scopeCounter_ >= scopeWidth_ * 4) {
            scopeDisplay_ = scopeCapture_;
            scopeCounter_ = 0;
        }
    }
}

}  // namespace qv
