#include "sound/channel_writes.h"

#include <algorithm>

namespace qv {

namespace {

constexpr int kEffectE = 14;

// Operator 1..4 whose level effect 8, 9, C or D sets, or 0.
int levelEffectOperator(int effect) {
    switch (effect) {
        case 8: return 1;
        case 9: return 2;
        case 12: return 3;
        case 13: return 4;
        default: return 0;
    }
}

}  // namespace

void ChannelWriter::queue(int channel, int reg, int value) {
    queue_.push(static_cast<uint8_t>(channel / 3), static_cast<uint8_t>(reg),
                static_cast<uint8_t>(value));
}

void ChannelWriter::keyOff(int channel) { queue(channel, 0x28, channel % 3); }

void ChannelWriter::keyOn(int channel) { queue(channel, 0x28, 0xF0 | channel % 3); }

void ChannelWriter::writePitch(int channel, int pitch, int channel3Mode) {
    const int cc = channel % 3;
    auto write = [&](int high, int low, int p) {
        const ChipFrequency f = tables_.frequency(p);
        queue(channel, high, f.high());
        queue(channel, low, f.low());
    };
    if (channel3Mode != 0 && channel == 2) {
        write(0xA6, 0xA2, pitch);
        write(0xAC, 0xA8, pitch + (channel3Mode & 0x0F) * 32);
        write(0xAE, 0xAA, pitch + (channel3Mode >> 4) * 32);
        write(0xAD, 0xA9, pitch + kPitchStepsPerOctave);
        return;
    }
    write(0xA4 + cc, 0xA0 + cc, pitch);
}

const Instrument* ChannelWriter::currentInstrument(int channel) const {
    const int n = channels_[channel].currentInstrument;
    return validInstrument(n) ? &song_.instrument(n) : nullptr;
}

ChannelWriter::Levels ChannelWriter::computeLevels(const Instrument& ins, int channelVolume,
                                                   int effect, int param) const {
    Levels out;
    for (int k = 0; k < 4; ++k) out.level[k] = ins.operators[k].TL & 0x7F;
    if (int op = levelEffectOperator(effect)) {
        out.level[op - 1] = param & 0x7F;
        out.marked |= 1u << (op - 1);
    }
    const int a = kVolumeTable[std::clamp(channelVolume, 0, kMaxChannelVolume) / 8];
    const int carriers = kCarrierTable[ins.algorithm & 7];
    for (int k = 0; k < 4; ++k) {
        if (carriers & (1 << k)) {
            out.level[k] = 127 - a * (127 - out.level[k]) / 127;
            out.marked |= 1u << k;
        }
    }
    return out;
}

void ChannelWriter::updateVolume(int channel, int v, int effect, int param) {
    PlayerChannel& ch = channels_[channel];
    if (v != 0) ch.channelVolume = std::clamp(v, 0, kMaxChannelVolume);
    // A channel without an instrument (only after resetChannels during
    // playback) has no levels to scale.
    const Instrument* ins = currentInstrument(channel);
    if (!ins) return;
    const Levels lv = computeLevels(*ins, ch.channelVolume, effect, param);
    const int cc = channel % 3;
    for (int k = 1; k <= 4; ++k)
        if (lv.marked & (1u << (k - 1))) queue(channel, 0x40 + operatorOffset(k) + cc, lv.level[k - 1]);
}

void ChannelWriter::loadInstrument(int channel, int n, int cellVolume, int effect, int param) {
    // Instrument numbers beyond 1..255 (damaged cells) load nothing.
    if (!validInstrument(n)) return;
    PlayerChannel& ch = channels_[channel];
    ch.reloadInstrument = false;
    ch.currentInstrument = n;
    if (cellVolume != 0) ch.channelVolume = std::clamp(cellVolume * 8, 0, kMaxChannelVolume);
    const Instrument& ins = song_.instrument(n);
    const Levels lv = computeLevels(ins, ch.channelVolume, effect, param);
    const int cc = channel % 3;
    const int sub = param & 0xF0;
    const int x = param & 0x0F;

    for (int k = 1; k <= 4; ++k) {
        const int level = (lv.marked & (1u << (k - 1))) ? 0xFF : (ins.operators[k - 1].TL & 0x7F);
        queue(channel, 0x40 + operatorOffset(k) + cc, level);
    }
    const int fb = (effect == kEffectE && sub == 0xF0) ? x : ins.FB;
    queue(channel, 0xB0 + cc, (ins.algorithm & 7) | (fb << 3 & 0x38));
    for (int k = 1; k <= 4; ++k) {
        const Operator& op = ins.operators[k - 1];
        int mult = op.MULT;
        if (effect == kEffectE && sub <= 0x30 && (sub >> 4) == k - 1) mult = x;
        queue(channel, 0x30 + operatorOffset(k) + cc, dtCode(op.DT) << 4 | (mult & 0x0F));
    }
    for (int k = 1; k <= 4; ++k) {
        const Operator& op = ins.operators[k - 1];
        queue(channel, 0x50 + operatorOffset(k) + cc, (op.AR & 0x1F) | (op.RS << 6 & 0xC0));
    }
    for (int k = 1; k <= 4; ++k)
        queue(channel, 0x60 + operatorOffset(k) + cc, ins.operators[k - 1].DR & 0x1F);
    for (int k = 1; k <= 4; ++k)
        queue(channel, 0x70 + operatorOffset(k) + cc, ins.operators[k - 1].SR & 0x1F);
    for (int k = 1; k <= 4; ++k) {
        const Operator& op = ins.operators[k - 1];
        queue(channel, 0x80 + operatorOffset(k) + cc, (op.RR & 0x0F) | (op.SL << 4 & 0xF0));
    }
    for (int k = 1; k <= 4; ++k)
        queue(channel, 0x90 + operatorOffset(k) + cc, ins.operators[k - 1].SSGEG & 0x0F);
    for (int k = 1; k <= 4; ++k)
        if (lv.marked & (1u << (k - 1))) queue(channel, 0x40 + operatorOffset(k) + cc, lv.level[k - 1]);
}

}  // namespace qv
