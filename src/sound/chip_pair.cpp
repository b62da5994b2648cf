#include "sound/chip_pair.h"

#include "sound/ym2203_registers.h"

#include <algorithm>

namespace qv {

bool ChipPair::create(uint32_t sampleRate, uint32_t clock, int volume) {
    std::lock_guard<std::mutex> lock(chipMutex_);
    for (auto& c : chips_) c.reset();
    mixBuffer_.fill(0);
    queue_.clear();
    channelMask_.store(255);
    savedMask_ = 255;
    auditionEnabled_.store(true);
    clipFlag.store(0);
    volume_.store(std::clamp(volume, 0, 255));
    for (auto& c : chips_) {
        c = FmChip::create(clock, sampleRate);
        if (!c) {
            for (auto& d : chips_) d.reset();
            return false;
        }
    }
    return true;
}

void ChipPair::destroy() {
    std::lock_guard<std::mutex> lock(chipMutex_);
    for (auto& c : chips_) c.reset();
}

void ChipPair::writeRegisterLocked(int chip, uint8_t reg, uint8_t value) {
    if (chip < 0 || chip > 2 || !chips_[chip]) return;
    chips_[chip]->write(0, reg);
    chips_[chip]->write(1, value);
}

void ChipPair::writeRegister(int chip, uint8_t reg, uint8_t value) {
    std::lock_guard<std::mutex> lock(chipMutex_);
    writeRegisterLocked(chip, reg, value);
}

void ChipPair::reset() {
    std::lock_guard<std::mutex> lock(chipMutex_);
    for (int i = 0; i < 3; ++i) {
        if (!chips_[i]) continue;
        chips_[i]->reset();
        writeRegisterLocked(i, ym2203::kModeTimers, 0);
    }
}

// The chips' own masks are updated by the mixer from the audio thread, so
// the user interface thread only touches the atomic.
void ChipPair::setChannelMask(uint8_t mask) { channelMask_.store(mask, std::memory_order_release); }

uint8_t ChipPair::channelMask() const { return channelMask_.load(std::memory_order_acquire); }

void ChipPair::beginExport(bool allChannels) {
    savedMask_ = channelMask();
    auditionEnabled_.store(false, std::memory_order_release);
    if (allChannels) setChannelMask(255);
}

void ChipPair::endExport() {
    auditionEnabled_.store(true, std::memory_order_release);
    setChannelMask(savedMask_);
}

void ChipPair::setVolume(int value) { volume_.store(std::clamp(value, 0, 255), std::memory_order_release); }

int ChipPair::volume() const { return volume_.load(std::memory_order_acquire); }

void ChipPair::renderWithQueue(int16_t* output, int count) {
    // Nothing to spend on key events: the queue waits for the next call.
    if (count <= 0) return;
    std::lock_guard<std::mutex> lock(chipMutex_);
    const uint8_t mask = channelMask_.load(std::memory_order_acquire);
    const int32_t vol = volume_.load(std::memory_order_acquire);
    const bool audition = auditionEnabled_.load(std::memory_order_acquire);
    FmChip* chips[3] = {chips_[0].get(), chips_[1].get(), audition ? chips_[2].get() : nullptr};
    if (chips[0]) chips[0]->setChannelMask(mask & 7u);
    if (chips[1]) chips[1]->setChannelMask((mask >> 3) & 7u);
    bool clipped = false;
    while (count > 0) {
        const int n = std::min(count, static_cast<int>(mixBuffer_.size()));
        int32_t* buf = mixBuffer_.data();
        std::fill_n(buf, n, 0);
        // Key events are at least one sample apart: the entries are applied
        // at sample pos, which each key event moves on by one. The chips do
        // not hear each other, so a chip is rendered only up to the sample
        // where a write to it lands (done[c] samples so far), and a key event
        // costs a render call on its own chip only.
        int done[3] = {0, 0, 0};
        int pos = 0;
        while (pos < n && queue_.applyPos < queue_.count) {
            const RegisterWrite w = queue_.entries[queue_.applyPos];
            ++queue_.applyPos;
            if (w.reg == 255) continue;  // placeholder
            if (w.chip < 3 && chips[w.chip] && done[w.chip] < pos) {
                chips[w.chip]->render(buf + done[w.chip], pos - done[w.chip], false);
                done[w.chip] = pos;
            }
            writeRegisterLocked(w.chip, w.reg, w.value);
            if (w.reg == ym2203::kKeyOnOff) ++pos;
        }
        for (int c = 0; c < 3; ++c)
            if (chips[c] && done[c] < n) chips[c]->render(buf + done[c], n - done[c], false);
        if (scaleAndClip(buf, output, n, vol)) clipped = true;
        output += n;
        count -= n;
    }
    if (clipped) clipFlag.store(1, std::memory_order_release);
}

void ChipPair::renderMixOnly(int16_t* output, int count) {
    if (count <= 0) return;
    std::lock_guard<std::mutex> lock(chipMutex_);
    mix(output, count);
}

// Scales and clips n mixed samples into output; true when any was clipped.
bool ChipPair::scaleAndClip(const int32_t* buf, int16_t* output, int n, int32_t vol) {
    int32_t over = 0;
    // over is non-zero once any sample was clipped. Runs of 16 give the
    // compiler a fixed trip count to vectorise.
    auto scale = [vol, &over](int32_t s) {
        const int32_t v = (s * vol) >> 8;
        const int32_t c = std::clamp(v, -32767, 32767);
        over |= v ^ c;
        return static_cast<int16_t>(c);
    };
    int i = 0;
    for (; i + 16 <= n; i += 16)
        for (int j = 0; j < 16; ++j) output[i + j] = scale(buf[i + j]);
    for (; i < n; ++i) output[i] = scale(buf[i]);
    return over != 0;
}

// Called with chipMutex_ held.
void ChipPair::mix(int16_t* output, int count) {
    const uint8_t mask = channelMask_.load(std::memory_order_acquire);
    const int32_t vol = volume_.load(std::memory_order_acquire);
    const bool audition = auditionEnabled_.load(std::memory_order_acquire);
    FmChip* c0 = chips_[0].get();
    FmChip* c1 = chips_[1].get();
    FmChip* c2 = audition ? chips_[2].get() : nullptr;
    if (c0) c0->setChannelMask(mask & 7u);
    if (c1) c1->setChannelMask((mask >> 3) & 7u);
    bool clipped = false;
    while (count > 0) {
        const int n = std::min(count, static_cast<int>(mixBuffer_.size()));
        int32_t* buf = mixBuffer_.data();
        if (c0) c0->render(buf, n, true);
        else std::fill_n(buf, n, 0);
        if (c1) c1->render(buf, n, false);
        if (c2) c2->render(buf, n, false);
        if (scaleAndClip(buf, output, n, vol)) clipped = true;
        output += n;
        count -= n;
    }
    if (clipped) clipFlag.store(1, std::memory_order_release);
}

}  // namespace qv
