// The sound card through SDL2's audio subsystem: the default output device in
// queue mode, 44 100 Hz mono signed 16-bit, SDL converting to whatever the
// hardware wants. Each open device holds one reference on SDL's audio
// subsystem, so devices may come and go in any order.
#pragma once

#include <cstdint>
#include <string>

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
    void raiseThreadPriority() override;
    std::string error() const override { return error_; }

    bool isOpen() const { return device_ != 0; }
    // The driver SDL chose ("pulseaudio", "alsa", "dummy", "disk", ...) while open.
    const std::string& driverName() const { return driver_; }
    // Samples the device takes from the queue at a time, as SDL granted.
    int periodSamples() const { return periodSamples_; }

  private:
    uint32_t device_ = 0;
    std::string error_;
    std::string driver_;
    int periodSamples_ = 0;
};

}  // namespace qv
