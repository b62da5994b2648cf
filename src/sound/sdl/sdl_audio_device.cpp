#include "sound/sdl/sdl_audio_device.h"

#include <SDL.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>

namespace qv {

SdlAudioDevice::~SdlAudioDevice() { close(); }

bool SdlAudioDevice::open(const AudioDeviceFormat& format) {
    close();
    // Audio only: SDL must not take over SIGINT and SIGTERM.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        error_ = std::string("no audio driver could be started (") + SDL_GetError() + ")";
        return false;
    }
    SDL_AudioSpec want{};
    want.freq = format.sampleRate;
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(format.channels);
    // The sound server holds about one period of ours (SDL asks it for that
    // latency): below 2048 samples (46 ms) a busy machine makes it run dry.
    want.samples = static_cast<Uint16>(std::clamp(format.periodSamples, 2048, 32768));
    want.callback = &SdlAudioDevice::callback;
    want.userdata = this;
    ring_.assign(1 << 16, 0);
    head_ = size_ = 0;
    started_ = false;
    callbackRaised_ = false;
    underrunSamples_.store(0, std::memory_order_release);
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device == 0) {
        error_ = std::string("the audio device could not be opened (") + SDL_GetError() + ")";
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    device_ = device;
    const char* driver = SDL_GetCurrentAudioDriver();
    driver_ = driver ? driver : "";
    periodSamples_ = have.samples;
    error_.clear();
    SDL_PauseAudioDevice(device_, 0);
    return true;
}

void SdlAudioDevice::close() {
    if (device_ == 0) return;
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    driver_.clear();
    periodSamples_ = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool SdlAudioDevice::queue(const int16_t* samples, std::size_t count) {
    if (device_ == 0) return false;
    if (count == 0) return true;
    SDL_LockAudioDevice(device_);
    if (size_ + count > ring_.size()) {
        // Grow (rarely: the stream never holds more than its buffers).
        std::size_t capacity = ring_.size();
        while (capacity < size_ + count) capacity *= 2;
        std::vector<int16_t> grown(capacity);
        for (std::size_t i = 0; i < size_; ++i) grown[i] = ring_[(head_ + i) % ring_.size()];
        ring_.swap(grown);
        head_ = 0;
    }
    std::size_t tail = (head_ + size_) % ring_.size();
    for (std::size_t left = count; left > 0;) {
        const std::size_t n = std::min(left, ring_.size() - tail);
        std::copy_n(samples, n, ring_.begin() + static_cast<std::ptrdiff_t>(tail));
        samples += n;
        left -= n;
        tail = (tail + n) % ring_.size();
    }
    size_ += count;
    started_ = true;
    SDL_UnlockAudioDevice(device_);
    return true;
}

std::size_t SdlAudioDevice::queuedBytes() {
    if (device_ == 0) return 0;
    SDL_LockAudioDevice(device_);
    const std::size_t bytes = size_ * sizeof(int16_t);
    SDL_UnlockAudioDevice(device_);
    return bytes;
}

void SdlAudioDevice::callback(void* self, uint8_t* stream, int len) {
    static_cast<SdlAudioDevice*>(self)->fill(reinterpret_cast<int16_t*>(stream),
                                             static_cast<std::size_t>(len) / sizeof(int16_t));
}

// SDL's audio thread, under the device lock.
void SdlAudioDevice::fill(int16_t* out, std::size_t count) {
    if (!callbackRaised_) {
        // The thread that hands our samples to the sound server must keep its
        // deadlines on a busy machine as much as ours does.
        callbackRaised_ = true;
        raiseThreadPriority();
    }
    const std::size_t taken = std::min(count, size_);
    for (std::size_t done = 0; done < taken;) {
        const std::size_t n = std::min(taken - done, ring_.size() - head_);
        std::copy_n(ring_.begin() + static_cast<std::ptrdiff_t>(head_), n, out + done);
        done += n;
        head_ = (head_ + n) % ring_.size();
    }
    size_ -= taken;
    if (taken < count) {
        std::fill(out + taken, out + count, int16_t{0});
        if (started_) underrunSamples_.fetch_add(count - taken, std::memory_order_acq_rel);
    }
}

bool SdlAudioDevice::failed() {
    return device_ != 0 && SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED;
}

void SdlAudioDevice::raiseThreadPriority() {
    // Best effort: a higher priority for this thread alone where allowed
    // (root, CAP_SYS_NICE or a raised RLIMIT_NICE); otherwise it stays as is.
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    if (setpriority(PRIO_PROCESS, tid, -10) != 0) setpriority(PRIO_PROCESS, tid, -5);
}

}  // namespace qv
