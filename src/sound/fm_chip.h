// One emulated YM2203 FM part: three 4-operator channels fed by writes to the
// chip's address and data ports, rendered sample by sample at the output rate.
// Output is the signed 32-bit sum of the three channels, neither shifted nor
// clipped. The SSG part, the timers and the LFO are not emulated.
#pragma once

#include <cstdint>
#include <memory>

namespace qv {

class FmChip {
public:
    // Builds the tables, sets the channel mask to all on and resets the chip.
    // Returns null when memory or the table build fails.
    static std::unique_ptr<FmChip> create(uint32_t clock, uint32_t sampleRate);

    void reset();
    // port 0 = address, port 1 = data. Returns the irq flag (always 0).
    int write(int port, uint8_t value);
    // Bits 0-2 enable channels 1-3 in the output sum.
    void setChannelMask(uint32_t mask);
    // count samples into buffer; overwrite replaces, otherwise adds.
    void render(int32_t* buffer, int count, bool overwrite);

    // Inspection for tests and tools.
    uint8_t registerValue(uint8_t address) const;

    // Envelope states of an operator.
    enum EnvelopeState { kOff = 0, kRelease = 1, kSustain = 2, kDecay = 3, kAttack = 4 };
    struct OperatorState {
        uint32_t phase;      // 16 fractional bits
        uint32_t phaseStep;  // all bits set on operator 1: frequency refresh pending
        int32_t volume;      // attenuation 0 (loudest) .. 1023 (silent)
        int32_t volOut;      // attenuation used by the output stage
        int state;           // EnvelopeState
        bool keyOn;
    };
    // channel 0..2; slot in register order (0..3 = operators 1, 3, 2, 4).
    OperatorState operatorState(int channel, int slot) const;
    uint32_t envTimerAdd() const;
    uint32_t envCounter() const;
    int32_t detune(int row, int keyCode) const;      // row 0..7, keyCode 0..31
    uint32_t phaseStepTableEntry(int index) const;  // 0..4095
    static int32_t levelTableEntry(int index);       // 0..6655
    static int32_t sineTableEntry(int index);        // 0..1023

    // --- private state: owned by the chip implementation -----------------
    // (the implementation may reorganise everything below this line)
    struct Impl;
    ~FmChip();

private:
    FmChip();
    std::unique_ptr<Impl> impl_;
};

}  // namespace qv
