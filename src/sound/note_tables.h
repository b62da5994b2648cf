// Tuning and level tables of the sound engine: the F-number table (32 steps
// per semitone) for one chip clock, the vibrato table, the volume curve, the
// carrier set of each algorithm and the chip's detune coding.
#pragma once

#include <array>
#include <cstdint>

namespace qv {

// Pitch is held in 1/32 semitone: 32 per semitone, 384 per octave, 0..3071
// for the eight octaves of a song (0 = C of octave 1).
constexpr int kPitchStepsPerSemitone = 32;
constexpr int kPitchStepsPerOctave = 384;
constexpr int kMaxEnginePitch = 3071;

// Scaling factor by volume 0..31 (31 keeps the instrument's level).
constexpr std::array<int, 32> kVolumeTable = {
    0,   0,   88,  90,  91,  93,  95,  96,  97,  98,  100, 102, 104, 106, 107, 109,
    110, 112, 113, 114, 115, 116, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127};

// By algorithm 0..7: bit k-1 set means operator k feeds the channel output.
constexpr std::array<int, 8> kCarrierTable = {8, 8, 8, 8, 12, 14, 14, 15};

// The chip's 3-bit detune field for an instrument DT of -3..3; 0 otherwise.
constexpr int dtCode(int dt) {
    switch (dt) {
        case -3: return 7;
        case -2: return 6;
        case -1: return 5;
        case 1: return 1;
        case 2: return 2;
        case 3: return 3;
        default: return 0;
    }
}

// Block and F-number that sound one pitch.
struct ChipFrequency {
    int block = 0;   // 0..7
    int fnumber = 0; // 11 bits
    // Value of register 0xA4 (high byte: F-number bits 8-10 and the block).
    uint8_t high() const { return static_cast<uint8_t>(((fnumber >> 8) & 7) | block << 3); }
    // Value of register 0xA0.
    uint8_t low() const { return static_cast<uint8_t>(fnumber & 0xFF); }
};

// The note table for one chip clock and the vibrato table. Owned by whoever
// drives the channel writes (the Player) and rebuilt when an exporter needs
// another clock.
class NoteTables {
public:
    explicit NoteTables(uint32_t clock = 3500000) { buildNoteTables(clock); }

    // 3 835 221 Hz builds the Mega Drive table; any other clock the table of
    // the live chips at 3 500 000 Hz.
    void buildNoteTables(uint32_t clock);
    uint32_t clock() const { return clock_; }

    // F-number of pitch step 0..383 within one octave.
    int noteFrequency(int step) const { return noteFrequency_[step]; }
    // Offset in 1/32 semitone for depth 0..15 and step 0..31.
    int vibrato(int depth, int step) const { return vibrato_[depth][step]; }

    // Block and F-number of a pitch, clamped to 0..3071 first.
    ChipFrequency frequency(int pitch) const;

private:
    uint32_t clock_ = 0;
    std::array<uint16_t, 384> noteFrequency_{};
    std::array<std::array<int8_t, 32>, 16> vibrato_{};
};

}  // namespace qv
