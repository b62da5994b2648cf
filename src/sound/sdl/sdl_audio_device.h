// The sound card through SDL2's audio subsystem: the default output device,
// 44 100 Hz mono signed 16-bit, SDL converting to whatever the hardware wants.
// SDL's audio thread takes the samples from our own queue through a callback,
// which counts the samples it had to make up as silence when the queue ran
// dry. Each open device holds one reference on SDL's audio
// subsystem, so devices may come and go in any order.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "sound/audio_device.h"

namespace qv {

class SdlAudioDevice final : public AudioDevice {
  public:
    SdlAudioDevice() = default;
    ~SdlAudioDevice() override;
    SdlAudioDevice(const SdlAudioDevice&) = delete;
    SdlAudioDevice& operator=(const SdlAudioDevice&) = delete;

    bool open(const AudioDeviceFormat& format) override;
    void close() override;
    bool queue(const int16_t* samples, std::size_t count) override;
    std::size_t queuedBytes() override;
    bool failed() override;
    uint64_t underrunSamples() override { return underrunSamples_.load(std::memory_order_acquire); }
    void raiseThreadPriority() override;
    std::string error() const override { return error_; }

    bool isOpen() const { return device_ != 0; }
    // The driver SDL chose ("pulseaudio", "alsa", "dummy", "disk", ...) while open.
    const std::string& driverName() const { return driver_; }
    // Samples the device takes from the queue at a time, as SDL granted.
    int periodSamples() const { return periodSamples_; }

  private:
    static void callback(void* self, uint8_t* stream, int len);
    void fill(int16_t* out, std::size_t count);

    // The queue: a ring of samples, touched only under SDL's device lock
    // (which the callback runs under).
    std::vector<int16_t> ring_;
    std::size_t head_ = 0, size_ = 0;
    bool started_ = false;  // a sample was queued since open
    bool callbackRaised_ = false;  // the callback's thread has its priority raised
    std::atomic<uint64_t> underrunSamples_{0};

    uint32_t device_ = 0;
    std::string error_;
    std::string driver_;
    int periodSamples_ = 0;
};

}  // namespace qv
