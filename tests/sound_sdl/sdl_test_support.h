// Helpers for the tests of the SDL2 audio path: a device wrapper that keeps
// count of what went in, so that a watcher can see when sound first leaves the
// queue, and the audio thread's CPU clock.
#pragma once

#include <SDL.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>

#include "sound/audio_device.h"
#include "sound/audio_output.h"

namespace qv::test {

class CountingDevice final : public qv::AudioDevice {
  public:
    explicit CountingDevice(qv::AudioDevice& inner) : inner_(inner) {}

    bool open(const qv::AudioDeviceFormat& format) override {
        std::lock_guard lock(mutex_);
        total_ = 0;
        maxQueued_ = 0;
        return inner_.open(format);
    }
    void close() override { inner_.close(); }
    bool queue(const int16_t* samples, std::size_t count) override {
        std::lock_guard lock(mutex_);
        const bool ok = inner_.queue(samples, count);
        if (ok) total_ += count * 2;
        maxQueued_ = std::max(maxQueued_, inner_.queuedBytes());
        return ok;
    }
    std::size_t queuedBytes() override { return inner_.queuedBytes(); }
    bool failed() override { return inner_.failed(); }
    void raiseThreadPriority() override { inner_.raiseThreadPriority(); }
    std::string error() const override { return inner_.error(); }

    // Bytes that have left the device's queue since open.
    std::size_t playedBytes() {
        std::lock_guard lock(mutex_);
        return total_ - inner_.queuedBytes();
    }
    std::size_t queuedTotal() {
        std::lock_guard lock(mutex_);
        return total_;
    }
    std::size_t maxQueuedBytes() {
        std::lock_guard lock(mutex_);
        return maxQueued_;
    }

  private:
    qv::AudioDevice& inner_;
    std::mutex mutex_;
    std::size_t total_ = 0;
    std::size_t maxQueued_ = 0;
};

// Passes renders through and notes the audio thread's CPU time after each.
class CpuTimedProducer final : public qv::SampleProducer {
  public:
    explicit CpuTimedProducer(qv::SampleProducer& inner) : inner_(inner) {}
    void produce(int16_t* output, int count) override {
        inner_.produce(output, count);
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        cpuNanos.store(static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec, std::memory_order_release);
    }
    void streamOpened() override { inner_.streamOpened(); }

    std::atomic<int64_t> cpuNanos{0};

  private:
    qv::SampleProducer& inner_;
};

inline bool sdlAudioUp() { return SDL_WasInit(SDL_INIT_AUDIO) != 0; }

}  // namespace qv::test
