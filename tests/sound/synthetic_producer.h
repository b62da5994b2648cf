// A stand-in for the frame-clocked sample source in the audio stream tests:
// a fixed pseudo-random sequence that never contains 0 (so device silence can
// be told from it), with a frame clock that "ticks" every 882 samples unless
// the export flag is set.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <thread>
#include <vector>

#include "sound/audio_output.h"

namespace qv::test {

inline int16_t syntheticSample(uint64_t n) {
    uint32_t x = static_cast<uint32_t>(n) * 2654435761u;
    x ^= x >> 15;
    x *= 2246822519u;
    x ^= x >> 13;
    const auto s = static_cast<int16_t>(x >> 16);
    return s == 0 ? int16_t{1} : s;
}

inline std::vector<int16_t> syntheticSamples(uint64_t count) {
    std::vector<int16_t> out(count);
    for (uint64_t i = 0; i < count; ++i) out[i] = syntheticSample(i);
    return out;
}

class SyntheticProducer final : public qv::SampleProducer {
  public:
    void produce(int16_t* output, int count) override {
        inRender.store(true, std::memory_order_release);
        const bool driving = exportDriving && exportDriving->load(std::memory_order_acquire);
        if (renderDelay.count() > 0) std::this_thread::sleep_for(renderDelay);
        for (int i = 0; i < count; ++i) {
            output[i] = syntheticSample(next_++);
            if (++frameSamplePos_ == 882) {
                frameSamplePos_ = 0;
                if (!driving) {
                    ++stateTouchedByTick;  // what a Player tick would write
                    ticks.fetch_add(1, std::memory_order_acq_rel);
                }
            }
        }
        produced.fetch_add(static_cast<uint64_t>(count), std::memory_order_acq_rel);
        inRender.store(false, std::memory_order_release);
    }
    void streamOpened() override {
        next_ = 0;
        frameSamplePos_ = 0;
        opened.fetch_add(1, std::memory_order_acq_rel);
    }

    std::atomic<bool>* exportDriving = nullptr;
    std::chrono::microseconds renderDelay{0};
    std::atomic<uint64_t> produced{0};
    std::atomic<uint64_t> ticks{0};
    std::atomic<int> opened{0};
    std::atomic<bool> inRender{false};
    // Plain on purpose: the exporter writes it too, so a tick during an
    // export is a data race that ThreadSanitizer names.
    long stateTouchedByTick = 0;

  private:
    uint64_t next_ = 0;
    int frameSamplePos_ = 0;
};

// Polls cond every millisecond for at most timeout; reports whether it held.
template <class Cond>
bool waitFor(Cond cond, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Threads of this process (Linux), to tell that none are left behind.
inline std::size_t threadCount() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}

}  // namespace qv::test
