#include "sound/channel_writes.h"

#include <algorithm>

#include "song/effects.h"
#include "sound/ym2203_registers.h"

namespace qv {

namespace {

}  // namespace

void ChannelWriter::queue(int channel, int reg, int value) {
    queue_.push(static_cast<uint8_t>(channel / 3), static_cast<uint8_t>(reg),
                static_cast<uint8_t>(value));
}

void ChannelWriter::keyOff(int channel) { queue(channel, ym2203::kKeyOnOff, ym2203::keyOff(channel % 3)); }

void ChannelWriter::keyOn(int channel) { queue(channel, ym2203::kKeyOnOff, ym2203::keyOn(channel % 3)); }

void ChannelWriter::writePitch(int channel, int pitch, int channel3Mode) {
    const int cc = channel % 3;
    auto write = [&](int high, int low, int p) {
        const ChipFrequency f = tables_.frequency(p);
        queue(channel, high, f.high());
        queue(channel, low, f.low());
    };
    if (channel3Mode != 0 && channel == 2) {
        write(ym2203::kFrequencyHigh + 2, ym2203::kFrequencyLow + 2, pitch);
        write(ym2203::kChannel3FrequencyHigh, ym2203::kChannel3FrequencyLow, pitch + (channel3Mode & 0x0F) * 32);
        write(ym2203::kChannel3FrequencyHigh + 2, ym2203::kChannel3FrequencyLow + 2, pitch + (channel3Mode >> 4) * 32);
        write(ym2203::kChannel3FrequencyHigh + 1, ym2203::kChannel3FrequencyLow + 1, pitch + kPitchStepsPerOctave);
        return;
    }
    write(ym2203::kFrequencyHigh + cc, ym2203::kFrequencyLow + cc, pitch);
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
        if (lv.marked & (1u << (k - 1))) queue(channel, ym2203::operatorRegister(ym2203::kTotalLevel, k, cc), lv.level[k - 1]);
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
        queue(channel, ym2203::operatorRegister(ym2203::kTotalLevel, k, cc), level);
    }
    const int fb = (effect == kEffectExtended && sub == kExtFeedback) ? x : ins.FB;
    queue(channel, ym2203::kFeedbackAlgorithm + cc, (ins.algorithm & 7) | (fb << 3 & 0x38));
    for (int k = 1; k <= 4; ++k) {
        const Operator& op = ins.operators[k - 1];
        int mult = op.MULT;
        if (effect == kEffectExtended && sub <= kExtMultiple4 && (sub >> 4) == k - 1) mult = x;
        queue(channel, ym2203::operatorRegister(ym2203::kDetuneMultiple, k, cc), dtCode(op.DT) << 4 | (mult & 0x0F));
    }
    for (int k = 1; k <= 4; ++k) {
        const Operator& op = ins.operators[k - 1];
        queue(channel, ym2203::operatorRegister(ym2203::kKeyScaleAttack, k, cc), (op.AR & 0x1F) | (op.RS << 6 & 0xC0));
    }
    for (int k = 1; k <= 4; ++k)
        queue(channel, ym2203::operatorRegister(ym2203::kDecayRate, k, cc), ins.operators[k - 1].DR & 0x1F);
    for (int k = 1; k <= 4; ++k)
        queue(channel, ym2203::operatorRegister(ym2203::kSustainRate, k, cc), ins.operators[k - 1].SR & 0x1F);
    for (int k = 1; k <= 4; ++k) {
        const Operator& op = ins.operators[k - 1];
        queue(channel, ym2203::operatorRegister(ym2203::kSustainRelease, k, cc), (op.RR & 0x0F) | (op.SL << 4 & 0xF0));
    }
    for (int k = 1; k <= 4; ++k)
        queue(channel, ym2203::operatorRegister(ym2203::kSsgEnvelope, k, cc), ins.operators[k - 1].SSGEG & 0x0F);
    for (int k = 1; k <= 4; ++k)
        if (lv.marked & (1u << (k - 1))) queue(channel, ym2203::operatorRegister(ym2203::kTotalLevel, k, cc), lv.level[k - 1]);
}

}  // namespace qv
