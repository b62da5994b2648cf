// The FM registers of one YM2203 as the engine writes them, named once.
//
// The chip has three FM channels of four operators each. Registers 0x30-0x9F
// hold one byte per operator slot and channel: the low two bits of the
// address pick the channel (0-2, 3 is unused) and bits 2-3 the slot (offsets
// 0, 4, 8, 12). The editor's operators 1-4 are the slots in address order.
// Registers 0xA0-0xBF hold one
// byte per channel. A frequency is an 11-bit F-number with a 3-bit block
// (octave); its high byte must be written before its low byte, which is when
// the chip takes both.
#pragma once

#include <cstdint>

namespace qv::ym2203 {

// Timer control and the channel 3 mode: bits 6-7 = 01 give each operator of
// channel 3 its own frequency (registers 0xA8-0xAE); 00 is the normal mode.
constexpr uint8_t kModeTimers = 0x27;
constexpr uint8_t kChannel3Special = 0x80;
// Key on/off: bits 0-1 the channel, bits 4-7 key the slots 0, 2, 1, 3 on
// (a bit of 0 releases the slot into its release phase).
constexpr uint8_t kKeyOnOff = 0x28;
constexpr uint8_t kAllOperatorsOn = 0xF0;
constexpr uint8_t keyOnOff(int channel, int operatorMask) {
    return static_cast<uint8_t>((operatorMask & 0x0F) << 4 | (channel & 3));
}
constexpr uint8_t keyOn(int channel) { return keyOnOff(channel, 0x0F); }
constexpr uint8_t keyOff(int channel) { return keyOnOff(channel, 0); }

// Per operator (add operatorSlot and the channel): detune (bits 4-6) and
// frequency multiple (bits 0-3).
constexpr uint8_t kDetuneMultiple = 0x30;
// Total level 0-127, 0.75 dB a step (0 is loudest).
constexpr uint8_t kTotalLevel = 0x40;
// Key scale (bits 6-7) and attack rate 0-31.
constexpr uint8_t kKeyScaleAttack = 0x50;
// Decay rate 0-31 (first decay, down to the sustain level).
constexpr uint8_t kDecayRate = 0x60;
// Sustain rate 0-31 (second decay, while the key is held).
constexpr uint8_t kSustainRate = 0x70;
// Sustain level (bits 4-7) and release rate 0-15.
constexpr uint8_t kSustainRelease = 0x80;
// SSG-type envelope: bit 3 enables, bits 0-2 pick the shape.
constexpr uint8_t kSsgEnvelope = 0x90;

// Per channel (add the channel 0-2): F-number low byte, and block (bits 3-5)
// with the F-number's top three bits.
constexpr uint8_t kFrequencyLow = 0xA0;
constexpr uint8_t kFrequencyHigh = 0xA4;
// Channel 3 special mode: three more frequencies, low bytes at 0xA8-0xAA and
// high bytes at 0xAC-0xAE, one for each of three slots; the fourth slot keeps
// the channel's own (0xA2/0xA6).
constexpr uint8_t kChannel3FrequencyLow = 0xA8;
constexpr uint8_t kChannel3FrequencyHigh = 0xAC;
// Feedback of operator 1 (bits 3-5) and algorithm 0-7 (bits 0-2).
constexpr uint8_t kFeedbackAlgorithm = 0xB0;
// Output to the left (bit 7) and right (bit 6) speaker; the YM2203 ignores
// it, the two stereo chips of the mix read it.
constexpr uint8_t kPanning = 0xB4;

// Register offset of operator 1-4 within a per-operator block.
constexpr int operatorSlot(int op) { return 4 * (op - 1); }
// The register of operator 1-4 of a channel 0-2 in the block at `base`.
constexpr uint8_t operatorRegister(uint8_t base, int op, int channel) {
    return static_cast<uint8_t>(base + operatorSlot(op) + channel);
}

}  // namespace qv::ym2203
