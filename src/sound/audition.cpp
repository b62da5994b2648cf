#include "sound/audition.h"

#include <algorithm>

#include "sound/ym2203_registers.h"

namespace qv {

namespace {
bool playableNote(int note) { return note >= 0 && note <= kMaxPitch; }
}  // namespace

void Audition::write(int reg, int value) {
    chips_.writeRegister(kAuditionChip, static_cast<uint8_t>(reg), static_cast<uint8_t>(value));
}

void Audition::writeNotePitch(int voice, int note) {
    const int fnumber = tables_.noteFrequency(32 * (note % 12));
    write(ym2203::kFrequencyHigh + voice, ((fnumber >> 8) & 7) | (note / 12) << 3);
    write(ym2203::kFrequencyLow + voice, fnumber & 0xFF);
}

void Audition::load(int voice, int key, int note) {
    const Instrument& ins = instrument_;
    for (int k = 0; k < 4; ++k) {
        const Operator& op = ins.operators[k];
        const int o = ym2203::operatorSlot(k + 1) + voice;
        write(ym2203::kDetuneMultiple + o, dtCode(op.DT) << 4 | (op.MULT & 0x0F));
        write(ym2203::kTotalLevel + o, op.TL & 127);
        write(ym2203::kKeyScaleAttack + o, (op.AR & 0x1F) | op.RS << 6);
        write(ym2203::kDecayRate + o, op.DR & 31);
        write(ym2203::kSustainRate + o, op.SR & 31);
        write(ym2203::kSustainRelease + o, (op.RR & 0x0F) | op.SL << 4);
        write(ym2203::kSsgEnvelope + o, op.SSGEG & 0x0F);
    }
    write(ym2203::kFeedbackAlgorithm + voice, (ins.algorithm & 7) | (ins.FB << 3 & 0x38));
    writeNotePitch(voice, note);
    write(ym2203::kKeyOnOff, ym2203::keyOn(voice));
    voices_[voice] = Voice{key, note};
}

void Audition::keyOffAndFree(int voice) {
    write(ym2203::kKeyOnOff, ym2203::keyOff(voice));
    voices_[voice] = Voice{};
}

void Audition::forgetHeld(int key, int note) {
    int kept = 0;
    for (int i = 0; i < heldCount_; ++i) {
        const bool match = key >= 0 ? held_[i].key == key : held_[i].note == note;
        if (!match) held_[kept++] = held_[i];
    }
    heldCount_ = kept;
}

bool Audition::auditionStart(int key, int note, bool poly) {
    if (!playableNote(note)) return true;
    if (poly) {
        heldCount_ = 0;
        for (const Voice& v : voices_)
            if (v.note == note) return false;
        for (int v = 0; v < kVoices; ++v) {
            if (voices_[v].note < 0) {
                load(v, key, note);
                return true;
            }
        }
        return false;
    }
    // The newest held key goes on top (a key pressed again moves up).
    forgetHeld(key, -1);
    if (heldCount_ == kHeldKeys) {
        std::copy(held_.begin() + 1, held_.end(), held_.begin());
        --heldCount_;
    }
    held_[heldCount_++] = Voice{key, note};
    if (voices_[0].note == note) return true;
    for (int v = 0; v < kVoices; ++v) keyOffAndFree(v);
    load(0, key, note);
    return true;
}

bool Audition::auditionSetPitch(int note, bool poly) {
    if (poly) return false;
    if (!playableNote(note)) return true;
    // Only the frequency changes: the voice keeps its note and key records,
    // so a release by the starting key still finds it.
    writeNotePitch(0, note);
    return true;
}

bool Audition::auditionRelease(int key, int note) {
    forgetHeld(key, key >= 0 ? -1 : note);
    const Voice& mono = voices_[0];
    const bool monoVoice = mono.note >= 0 && voices_[1].note < 0 && voices_[2].note < 0;
    if (monoVoice && heldCount_ > 0 &&
        (key >= 0 ? mono.key == key : (playableNote(note) && mono.note == note))) {
        // Back to the most recent key still held, without a new attack.
        const Voice back = held_[heldCount_ - 1];
        if (back.note != mono.note) writeNotePitch(0, back.note);
        voices_[0] = back;
        return true;
    }
    bool released = false;
    for (int v = 0; v < kVoices; ++v) {
        if (voices_[v].note < 0) continue;
        const bool match = key >= 0 ? voices_[v].key == key
                                    : (playableNote(note) && voices_[v].note == note);
        if (match) {
            keyOffAndFree(v);
            released = true;
        }
    }
    return released;
}

bool Audition::auditionReleaseAll() {
    heldCount_ = 0;
    bool released = false;
    for (int v = 0; v < kVoices; ++v) {
        if (voices_[v].note >= 0) {
            keyOffAndFree(v);
            released = true;
        }
    }
    return released;
}

}  // namespace qv
