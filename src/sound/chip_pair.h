// The sound hardware as the rest of the program sees it: the two YM2203 chips
// of the target (chip 0 = channels 1-3, chip 1 = channels 4-6) plus a third
// chip of the same kind for the instrument audition, the register write queue
// that the Player fills once per frame, and the mixer.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "sound/fm_chip.h"

namespace qv {

constexpr uint32_t kChipClock = 3500000;
constexpr uint32_t kMegaDriveClock = 3835221;
constexpr uint32_t kSampleRate = 44100;
constexpr int kFramesPerSecond = 50;
constexpr int kSamplesPerFrame = 882;

struct RegisterWrite {
    uint8_t chip;      // 0 or 1
    uint8_t reg;       // 255 = placeholder (loop mark), skipped when applied
    uint8_t value;
};

// One frame's register writes in the order they must reach the chips.
struct RegisterWriteQueue {
    static constexpr int kCapacity = 16384;
    static constexpr int kFrameLimit = 16381;  // producers add only below this
    std::array<RegisterWrite, kCapacity> entries{};
    int count = 0;
    int applyPos = 0;

    void clear() { count = applyPos = 0; }
    // Appends when fewer than kFrameLimit entries are queued; drops otherwise.
    void push(uint8_t chip, uint8_t reg, uint8_t value) {
        if (count < kFrameLimit) entries[count++] = RegisterWrite{chip, reg, value};
    }
};

class ChipPair {
public:
    ChipPair();
    ~ChipPair();
    ChipPair(const ChipPair&) = delete;
    ChipPair& operator=(const ChipPair&) = delete;

    // Creates the three chips (clock 3 500 000 Hz, 44 100 Hz) with the given
    // output volume. Returns false when a chip cannot be created.
    bool create(uint32_t sampleRate, uint32_t clock, int volume);
    void destroy();

    void writeRegister(int chip, uint8_t reg, uint8_t value);
    void reset();
    void setChannelMask(uint8_t mask);
    uint8_t channelMask() const;
    void beginExport(bool allChannels);
    // Also stops the second render thread.
    void endExport();
    // Starts a second thread that renders chip 1 while the calling thread
    // renders chip 0 and the audition chip (for renders faster than real
    // time; the output is the same). Returns false, leaving every chip on
    // the calling thread, when the thread cannot be started.
    bool startRenderThread();
    void stopRenderThread();
    bool renderThreadRunning() const;
    void setVolume(int value);
    int volume() const;
    // Applies the pending queue entries, one sample after each key on/off
    // write, and renders count mixed 16-bit samples.
    void renderWithQueue(int16_t* output, int count);
    // Mixes count samples without touching the queue (used while an exporter
    // drives the Player from another thread and owns the queue).
    void renderMixOnly(int16_t* output, int count);
    // renderWithQueue in two steps, for a caller with other work to do while
    // the second render thread renders chip 1: startQueuedRender applies the
    // queue and starts the render of up to 2048 samples into output (returns
    // how many); the queue may be refilled and more renders started before
    // finishQueuedRender, after which every started output holds its mixed
    // samples (the caller leaves those outputs alone until then). Without
    // the thread the work is all done in the first step.
    int startQueuedRender(int16_t* output, int count);
    void finishQueuedRender();

    RegisterWriteQueue& queue() { return queue_; }
    const RegisterWriteQueue& queue() const { return queue_; }
    FmChip* chip(int index) { return chips_[index].get(); }

    // Set to 1 by the mixer when a sample was clipped; the level display clears it.
    std::atomic<uint8_t> clipFlag{0};

private:
    struct RenderHelper;

    void mix(int16_t* output, int count);
    bool renderOnThreadsLocked(int16_t* output, int count, bool fromQueue);
    int startLocked(int16_t* output, int count, bool fromQueue);
    void settleLocked();
    static bool scaleAndClip(const int32_t* buf, int16_t* output, int n, int32_t vol);
    void writeRegisterLocked(int chip, uint8_t reg, uint8_t value);

    // Serialises the chips between the audio thread (rendering, queued
    // writes) and the user interface thread (audition writes, reset).
    std::mutex chipMutex_;

    std::array<std::unique_ptr<FmChip>, 3> chips_;
    std::array<int32_t, 2048> mixBuffer_{};
    std::atomic<uint8_t> channelMask_{255};
    uint8_t savedMask_ = 255;
    std::atomic<bool> auditionEnabled_{true};
    std::atomic<int> volume_{128};
    RegisterWriteQueue queue_;
    // Present while the second render thread runs.
    std::unique_ptr<RenderHelper> helper_;
    std::atomic<bool> helperRunning_{false};
};

}  // namespace qv
