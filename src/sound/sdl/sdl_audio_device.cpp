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
    want.samples = static_cast<Uint16>(std::clamp(format.periodSamples, 64, 32768));
    want.callback = nullptr;  // queue mode: SDL_QueueAudio feeds the device
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
    return SDL_QueueAudio(device_, samples, static_cast<Uint32>(count * sizeof(int16_t))) == 0;
}

std::size_t SdlAudioDevice::queuedBytes() {
    if (device_ == 0) return 0;
    return SDL_GetQueuedAudioSize(device_);
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
