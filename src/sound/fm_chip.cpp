// One YM2203 FM part, sample by sample. Every quantity is an integer of a
// fixed width; the only floating point is in building the tables.
#include "sound/fm_chip.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "sound/ym2203_registers.h"

namespace qv {

namespace {

constexpr int kLevelTableSize = 13 * 512;     // 6656
constexpr int kSilentAttenuation = 832;       // 832 * 8 = 6656: past the level table
constexpr uint32_t kRefreshMark = 0xFFFFFFFFu;  // operator 1's phaseStep: refresh pending
constexpr uint32_t kEnvTimerOverflow = 3 * 65536;  // one envelope tick every three chip samples

constexpr uint8_t kOff = FmChip::kOff, kRelease = FmChip::kRelease, kSustain = FmChip::kSustain,
                  kDecay = FmChip::kDecay, kAttack = FmChip::kAttack;

constexpr int kPrescalerTable[4] = {24, 24, 72, 36};

constexpr uint8_t kEnvelopeStepTable[19 * 8] = {
    0, 1, 0, 1, 0, 1, 0, 1,          // 0
    0, 1, 0, 1, 1, 1, 0, 1,          // 1
    0, 1, 1, 1, 0, 1, 1, 1,          // 2
    0, 1, 1, 1, 1, 1, 1, 1,          // 3
    1, 1, 1, 1, 1, 1, 1, 1,          // 4
    1, 1, 1, 2, 1, 1, 1, 2,          // 5
    1, 2, 1, 2, 1, 2, 1, 2,          // 6
    1, 2, 2, 2, 1, 2, 2, 2,          // 7
    2, 2, 2, 2, 2, 2, 2, 2,          // 8
    2, 2, 2, 4, 2, 2, 2, 4,          // 9
    2, 4, 2, 4, 2, 4, 2, 4,          // 10
    2, 4, 4, 4, 2, 4, 4, 4,          // 11
    4, 4, 4, 4, 4, 4, 4, 4,          // 12
    4, 4, 4, 8, 4, 4, 4, 8,          // 13
    4, 8, 4, 8, 4, 8, 4, 8,          // 14
    4, 8, 8, 8, 4, 8, 8, 8,          // 15
    8, 8, 8, 8, 8, 8, 8, 8,          // 16
    16, 16, 16, 16, 16, 16, 16, 16,  // 17: instant attack
    0, 0, 0, 0, 0, 0, 0, 0,          // 18: no change
};

// Row of kEnvelopeStepTable for an effective rate (rate + key scaling), as row * 8.
constexpr std::array<uint8_t, 128> makeRateRowTable() {
    std::array<uint8_t, 128> t{};
    for (int i = 0; i < 128; ++i) {
        int row;
        if (i < 32) row = 18;
        else if (i < 80) row = (i - 32) & 3;
        else if (i < 92) row = 4 + (i - 80);
        else row = 16;
        t[i] = static_cast<uint8_t>(row * 8);
    }
    return t;
}
constexpr std::array<uint8_t, 128> makeRateShiftTable() {
    std::array<uint8_t, 128> t{};
    for (int i = 32; i < 80; ++i) t[i] = static_cast<uint8_t>(11 - (i - 32) / 4);
    return t;
}
constexpr std::array<uint8_t, 128> kRateRowTable = makeRateRowTable();
constexpr std::array<uint8_t, 128> kRateShiftTable = makeRateShiftTable();

constexpr uint8_t kDetuneRaw[4][32] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 6, 6, 7, 8, 8, 8, 8},
    {1, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 6, 6, 7, 8, 8, 9, 10, 11, 12, 13, 14, 16, 16, 16, 16},
    {2, 2, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 6, 6, 7, 8, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 20, 22, 22, 22, 22},
};

constexpr uint8_t kKeyCodeTable[16] = {0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 3, 3, 3, 3, 3, 3};

constexpr int sustainLevelOf(int sl) { return sl == 15 ? 992 : 32 * sl; }

// Attenuation-to-amplitude table: 13 octaves of 256 steps, each step stored
// as +n, -n (the sine table's low bit picks the sign).
// The table is followed by zeros up to the largest index the output stage
// can form (832 * 8 + the largest sine entry), so an attenuation clamped to
// 832 needs no bound check: every index from 6656 up reads 0.
constexpr int kLevelTablePadded = kLevelTableSize + 4352;
struct LevelTable {
    std::array<int16_t, kLevelTablePadded> v{};
    LevelTable() {
        for (int x = 0; x < 256; ++x) {
            const int m = static_cast<int>(std::floor(65536.0 / std::pow(2.0, (x + 1) / 256.0)));
            int n = m >> 4;
            n = (n >> 1) + (n & 1);
            n = n << 2;
            for (int i = 0; i < 13; ++i) {
                v[2 * x + 512 * i] = static_cast<int16_t>(n >> i);
                v[2 * x + 1 + 512 * i] = static_cast<int16_t>(-(n >> i));
            }
        }
    }
};

// Log-sine table over a full period: 2 * attenuation + sign bit.
struct SineTable {
    std::array<uint16_t, 1024> v{};
    SineTable() {
        const double pi = 3.14159265358979323846;
        for (int i = 0; i < 1024; ++i) {
            const double m = std::sin((2 * i + 1) * pi / 1024);
            const double o = 256 * std::log2(1.0 / std::fabs(m));
            int n = static_cast<int>(2 * o);
            n = (n >> 1) + (n & 1);
            v[i] = static_cast<uint16_t>(2 * n + (m < 0 ? 1 : 0));
        }
    }
};

// Operator 1's feedback input, (prev + last) >> shift, is formed as
// ((prev + last + 2^15) >> shift) - 2^(15 - shift): the biased sum is never
// negative (every output is below 2^13 in magnitude), and the subtraction
// moves into the phase (the sine repeats every 1024 steps), so the
// sample-to-sample chain is add, shift, two loads. The biased input is at
// most 6143 (shift 3), the phase index below 1024: the table repeats the
// period up to their sum, so no wrap is needed.
constexpr int kFeedbackBias = 1 << 15;
constexpr int kFeedbackSineSize = 1024 + 6144;

// The fixed tables side by side, so the output stage needs one base address.
struct OutputTables {
    SineTable sine;
    LevelTable level;
    std::array<uint16_t, kFeedbackSineSize> feedbackSine{};
    OutputTables() {
        for (size_t j = 0; j < feedbackSine.size(); ++j) feedbackSine[j] = sine.v[j & 1023];
    }
};
const OutputTables& outputTables() {
    static const OutputTables t;
    return t;
}
const LevelTable& levelTable() { return outputTables().level; }
const SineTable& sineTable() { return outputTables().sine; }

struct Operator {
    uint32_t phase = 0;
    uint32_t phaseStep = 0;
    int32_t volume = 0;  // attenuation, 0 loudest .. 1023 silent
    int32_t volOut = 0;  // attenuation seen by the output stage
    int32_t totalLevel = 0;
    int32_t sustainLevel = 0;
    int32_t attackRate = 0, decayRate = 0, sustainRate = 0, releaseRate = 0;
    uint8_t attackShift = 0, decayShift = 0, sustainShift = 0, releaseShift = 0;
    uint8_t attackRow = 0, decayRow = 0, sustainRow = 0, releaseRow = 0;  // row * 8
    uint8_t state = kOff;
    uint8_t keyOn = 0;
    uint8_t ssg = 0;
    uint8_t ssgInvert = 0;
    uint8_t detuneRow = 0;
    uint8_t ksShift = 0;
    uint8_t ksOffset = 0;
    uint32_t mul = 0;
    // Derived from the fields above by updateEnvelopeCache whenever one of
    // them changes: only a tick whose counter has at least envShift trailing
    // zero bits can change the operator (33: no tick can).
    uint8_t envShift = 33;
    int32_t invertXor = 0;  // 511 while the SSG output is inverted
};

struct Channel {
    Operator op[4];  // register order: operator 1, 3, 2, 4
    int algorithm = 0;
    int feedbackShift = 0;
    int32_t op1Out[2] = {0, 0};
    int32_t memValue = 0;
    uint32_t frequency = 0;
    int keyCode = 0;
    int blockFnum = 0;
    // No envelope tick yet in this render call for operator 1 / operators 2-4
    // (the two groups run in separate passes).
    bool firstStale = true;
    bool restStale = true;
};

// Something that happens to one operator inside a block, before sample at:
// its level table offset becomes level, or (restart) an SSG repeat sets its
// phase to 0.
struct LevelEvent {
    int at;
    uint16_t level;
    uint8_t slot;  // lane or register slot, as the pass numbers them
    uint8_t restart;
};

}  // namespace

struct FmChip::Impl {
    uint32_t clock = 0;
    uint32_t sampleRate = 0;
    int prescalerSelect = 2;
    double freqBase = 0;
    uint32_t envTimer = 0;
    uint32_t envTimerAdd = 0;
    // floor(2^40 / envTimerAdd) + 1: floor(x / envTimerAdd) = x * this >> 40
    // for every x below 2^19 while envTimerAdd is below the overflow.
    uint64_t envTimerReciprocal = 0;
    // Below one tick per sample: ceil(overflow / envTimerAdd), the longest
    // gap between ticks, and the timer value from which the gap after a tick
    // is one sample shorter.
    uint32_t envGap = 1;
    uint32_t envShortFrom = 0;
    uint32_t envCounter = 0;
    uint8_t address = 0;
    uint8_t registers[256] = {};
    uint8_t mode = 0;
    int timerA = 0, timerB = 0, timerACount = 0, timerBCount = 0;
    int status = 0;
    int irqMask = 0;
    int irq = 0;
    uint8_t frequencyLatch = 0;
    uint8_t ch3Latch = 0;
    uint32_t ch3Frequency[3] = {};
    int ch3KeyCode[3] = {};
    int ch3BlockFnum[3] = {};
    int32_t detuneTable[8][32] = {};
    uint32_t phaseStepTable[4096] = {};
    uint32_t channelMask = 15;
    Channel ch[3];
    // Envelope ticks of the block being rendered: the sample index of each.
    // Their counters are consecutive, the first one tickBase + 1.
    static constexpr int kBlock = 512;
    std::vector<int> ticks;  // grows only when ticks outnumber samples
    uint32_t tickBase = 0;
    // Operator 1's outputs of the block from the first pass: one row of
    // kBlock + 1 values per sounding channel.
    int32_t firstOut[3 * (kBlock + 1)] = {};
    // The level table offset of every sample of the block, written out when
    // the levels move often: operator 1 of each sounding channel, then
    // operators 3, 2, 4 of the channel being run. Fills store sixteen at a
    // time, hence the slack.
    static constexpr int kLevelStride = kBlock + 16;
    uint16_t firstLevels[3][kLevelStride] = {};
    uint16_t restLevels[3][kLevelStride] = {};
    // Envelope events of the block: at most a change of level and a phase
    // restart per tick and operator. Three lists of eventCap, one per
    // operator of a pass, each ended by a mark, then room for the three
    // merged.
    std::vector<LevelEvent> events;
    int eventCap = 0;
    int nTicks = 0;

    void rebuildFrequencyTables();
    void reset();
    void writeData(uint8_t addr, uint8_t value);
    void writeMode(uint8_t addr, uint8_t value);
    void writeChannel(uint8_t addr, uint8_t value);
    void keyOnOff(uint8_t value);
    void refreshFrequencies();
    void render(int32_t* buffer, int count, bool overwrite);
    void scheduleTicks(int n);

    static void markRefresh(Channel& c) { c.op[0].phaseStep = kRefreshMark; }
};

namespace {

// Shift and row for an effective rate index.
inline void rateLookup(int r, int k, uint8_t& shift, uint8_t& row) {
    shift = kRateShiftTable[r + k];
    row = kRateRowTable[r + k];
}

// Which ticks can change the operator, and its SSG inversion. A state whose
// rate row adds nothing and whose end condition cannot be met is idle.
inline void updateEnvelopeCache(Operator& op) {
    uint8_t shift = 0, row = 0;
    bool idle = false;
    switch (op.state) {
    case kAttack:
        shift = op.attackShift, row = op.attackRow;
        idle = op.volume > 0;
        break;
    case kDecay:
        shift = op.decayShift, row = op.decayRow;
        idle = op.volume < op.sustainLevel;
        break;
    case kSustain:
        // An SSG envelope that holds at the bottom, its hold already taken,
        // only sets the volume back to 1023 at each step: nothing changes.
        if ((op.ssg & 9) == 9 && (op.ssgInvert & 1) && op.volume >= 1023) {
            op.envShift = 33;
            op.invertXor = (op.ssgInvert & 2) ? 511 : 0;
            return;
        }
        shift = op.sustainShift, row = op.sustainRow;
        idle = !(op.ssg & 8) && op.volume <= 1023;
        break;
    case kRelease:
        shift = op.releaseShift, row = op.releaseRow;
        idle = op.volume < 1023;
        break;
    default:
        op.envShift = 33;  // off: never changes
        op.invertXor = 0;
        return;
    }
    op.envShift = (idle && row == 18 * 8) ? 33 : shift;
    op.invertXor = ((op.ssg & 8) && (op.ssgInvert & 2)) ? 511 : 0;
}

inline void setAttack(Operator& op) {
    const int r = op.attackRate + op.ksOffset;
    if (r >= 94) {
        op.attackShift = 0;
        op.attackRow = 17 * 8;
    } else {
        rateLookup(op.attackRate, op.ksOffset, op.attackShift, op.attackRow);
    }
    updateEnvelopeCache(op);
}
inline void setDecay(Operator& op) {
    rateLookup(op.decayRate, op.ksOffset, op.decayShift, op.decayRow);
    updateEnvelopeCache(op);
}
inline void setSustain(Operator& op) {
    rateLookup(op.sustainRate, op.ksOffset, op.sustainShift, op.sustainRow);
    updateEnvelopeCache(op);
}
inline void setRelease(Operator& op) {
    rateLookup(op.releaseRate, op.ksOffset, op.releaseShift, op.releaseRow);
    updateEnvelopeCache(op);
}
inline void setAllRates(Operator& op) {
    setAttack(op);
    setDecay(op);
    setSustain(op);
    setRelease(op);
}

inline void refreshOperator(Operator& op, uint32_t frequency, int keyCode, const int32_t (&dt)[8][32]) {
    op.phaseStep = ((frequency + static_cast<uint32_t>(dt[op.detuneRow][keyCode])) * op.mul) >> 1;
    const uint8_t ks = static_cast<uint8_t>(keyCode >> op.ksShift);
    if (ks != op.ksOffset) {
        op.ksOffset = ks;
        setAllRates(op);
    }
}

// Returns true when an SSG repeat restarted the phase at this tick.
inline bool advanceEnvelope(Operator& op, uint32_t counter) {
    uint8_t alternate = 0;
    bool restarted = false;
    auto stepOf = [counter](uint8_t shift, uint8_t row, int& inc) {
        if (counter & ((1u << shift) - 1)) return false;
        inc = kEnvelopeStepTable[row + ((counter >> shift) & 7)];
        return true;
    };
    int inc = 0;
    switch (op.state) {
    case kAttack:
        if (stepOf(op.attackShift, op.attackRow, inc)) {
            op.volume += (~op.volume * inc) >> 4;
            if (op.volume <= 0) {
                op.volume = 0;
                op.state = kDecay;
            }
        }
        break;
    case kDecay:
        if (stepOf(op.decayShift, op.decayRow, inc)) {
            op.volume += (op.ssg & 8) ? 4 * inc : inc;
            if (op.volume >= op.sustainLevel) op.state = kSustain;
        }
        break;
    case kSustain:
        if (stepOf(op.sustainShift, op.sustainRow, inc)) {
            if (op.ssg & 8) {
                op.volume += 4 * inc;
                if (op.volume >= 512) {
                    op.volume = 1023;
                    if (!(op.ssg & 1)) {
                        op.phase = 0;
                        restarted = true;
                        op.volume = 511;
                        op.state = kAttack;
                        alternate = op.ssg & 2;
                    } else if (!(op.ssgInvert & 1)) {
                        alternate = (op.ssg & 2) | 1;
                    }
                }
            } else {
                op.volume += inc;
                if (op.volume > 1023) op.volume = 1023;
            }
        }
        break;
    case kRelease:
        if (stepOf(op.releaseShift, op.releaseRow, inc)) {
            op.volume += inc;
            if (op.volume >= 1023) {
                op.volume = 1023;
                op.state = kOff;
            }
        }
        break;
    default:
        break;
    }
    op.volOut = op.totalLevel + op.volume;
    if ((op.ssg & 8) && (op.ssgInvert & 2) && op.state != kOff) op.volOut ^= 511;
    op.ssgInvert ^= alternate;
    updateEnvelopeCache(op);
    // A new inversion shows in volOut at the next tick, step or not.
    if (alternate) op.envShift = 0;
    return restarted;
}


// Table values of absurd clock/rate ratios saturate instead of wrapping.
uint32_t toU32(double v) {
    if (!(v > 0)) return 0;
    return v >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}
int32_t toI32(double v) {
    if (v >= 2147483647.0) return 0x7FFFFFFF;
    return v > 0 ? static_cast<int32_t>(v) : 0;
}

}  // namespace

void FmChip::Impl::rebuildFrequencyTables() {
    const int divider = kPrescalerTable[prescalerSelect & 3];
    freqBase = sampleRate ? static_cast<double>(clock) / sampleRate / divider : 0.0;
    envTimerAdd = toU32(freqBase * 65536);
    envTimerReciprocal = envTimerAdd ? (uint64_t{1} << 40) / envTimerAdd + 1 : 0;
    if (envTimerAdd != 0 && envTimerAdd < kEnvTimerOverflow) {
        envGap = (kEnvTimerOverflow + envTimerAdd - 1) / envTimerAdd;
        envShortFrom = kEnvTimerOverflow - (envGap - 1) * envTimerAdd;
    } else {
        envGap = 1;
        envShortFrom = 0;
    }
    for (int d = 0; d < 4; ++d) {
        for (int k = 0; k < 32; ++k) {
            const int32_t v = toI32(kDetuneRaw[d][k] * 1024 * freqBase * 65536 / (1 << 20));
            detuneTable[d][k] = v;
            detuneTable[d + 4][k] = -v;
        }
    }
    for (int i = 0; i < 4096; ++i) phaseStepTable[i] = toU32(i * 32 * freqBase * 64);
}

void FmChip::Impl::reset() {
    prescalerSelect = 2;
    rebuildFrequencyTables();
    irqMask = 3;
    writeData(0x27, 0x30);
    envTimer = 0;
    envCounter = 0;
    status = 0;
    mode = 0;
    timerA = timerB = timerACount = timerBCount = 0;
    for (Channel& c : ch) {
        c.frequency = 0;
        for (Operator& op : c.op) {
            op.ssg = 0;
            op.ssgInvert = 0;
            op.state = kOff;
            op.volume = 1023;
            op.volOut = 1023;
            updateEnvelopeCache(op);
        }
    }
    for (int a = 0xB2; a >= 0x30; --a) writeData(static_cast<uint8_t>(a), 0);
    for (int a = 0x26; a >= 0x20; --a) writeData(static_cast<uint8_t>(a), 0);
}

void FmChip::Impl::writeData(uint8_t addr, uint8_t value) {
    registers[addr] = value;
    if (addr < 0x10) return;  // SSG part: stored only
    if (addr >= 0x20 && addr < 0x30) {
        writeMode(addr, value);
        return;
    }
    writeChannel(addr, value);
}

void FmChip::Impl::writeMode(uint8_t addr, uint8_t value) {
    switch (addr) {
    case 0x24:
        timerA = (timerA & 3) | (value << 2);
        break;
    case 0x25:
        timerA = (timerA & 0x3FC) | (value & 3);
        break;
    case 0x26:
        timerB = value;
        break;
    case ym2203::kModeTimers:
        mode = value;
        if (value & 0x20) status &= ~2;
        if (value & 0x10) status &= ~1;
        if (value & 2) {
            if (timerBCount == 0) timerBCount = (256 - timerB) << 4;
        } else {
            timerBCount = 0;
        }
        if (value & 1) {
            if (timerACount == 0) timerACount = 1024 - timerA;
        } else {
            timerACount = 0;
        }
        break;
    case ym2203::kKeyOnOff:
        keyOnOff(value);
        break;
    default:
        break;
    }
}

void FmChip::Impl::keyOnOff(uint8_t value) {
    const int c = value & 3;
    if (c == 3) return;
    // Bits 4, 5, 6, 7 key operators 1, 2, 3, 4, which sit at register slots 0, 2, 1, 3.
    static constexpr int kSlotOfBit[4] = {0, 2, 1, 3};
    for (int b = 0; b < 4; ++b) {
        Operator& op = ch[c].op[kSlotOfBit[b]];
        if (value & (0x10 << b)) {
            if (!op.keyOn) {
                op.keyOn = 1;
                op.phase = 0;
                op.state = kAttack;
                if (op.volume >= 1023) op.volume = 511;
            }
        } else if (op.keyOn) {
            op.keyOn = 0;
            if (op.state == kAttack || op.state == kDecay || op.state == kSustain) op.state = kRelease;
        }
        updateEnvelopeCache(op);
    }
}

void FmChip::Impl::writeChannel(uint8_t addr, uint8_t value) {
    if ((addr & 3) == 3) return;
    Channel& c = ch[addr & 3];
    Operator& op = c.op[(addr >> 2) & 3];
    switch (addr & 0xF0) {
    case ym2203::kDetuneMultiple: {
        const int m = value & 15;
        op.mul = m ? 2u * m : 1u;
        op.detuneRow = (value >> 4) & 7;
        markRefresh(c);
        break;
    }
    case ym2203::kTotalLevel:
        op.totalLevel = (value & 0x7F) << 3;
        break;
    case ym2203::kKeyScaleAttack: {
        const int ar = value & 0x1F;
        op.attackRate = ar ? 32 + 2 * ar : 0;
        const uint8_t ksShift = static_cast<uint8_t>(3 - (value >> 6));
        // The attack rate takes effect at once with the current key scaling
        // offset; a new key scaling value also marks the channel, so the next
        // refresh recomputes every rate when the offset itself changes. (Only
        // marking would leave a new attack rate unused whenever the offset
        // happens to stay the same, e.g. for every note with key code 0.)
        if (ksShift != op.ksShift) {
            op.ksShift = ksShift;
            markRefresh(c);
        }
        setAttack(op);
        break;
    }
    case ym2203::kDecayRate: {
        const int r = value & 0x1F;
        op.decayRate = r ? 32 + 2 * r : 0;
        setDecay(op);
        break;
    }
    case ym2203::kSustainRate: {
        const int r = value & 0x1F;
        op.sustainRate = r ? 32 + 2 * r : 0;
        setSustain(op);
        break;
    }
    case ym2203::kSustainRelease:
        op.sustainLevel = sustainLevelOf(value >> 4);
        op.releaseRate = 34 + 4 * (value & 15);
        setRelease(op);
        break;
    case ym2203::kSsgEnvelope:
        op.ssg = value & 0x0F;
        op.ssgInvert = static_cast<uint8_t>((value & 4) >> 1);
        updateEnvelopeCache(op);
        break;
    case ym2203::kFrequencyLow: {
        const int reg = addr & 0x0C;  // 0xA0-A2, 0xA4-A6, 0xA8-AA, 0xAC-AE
        if (reg == 0x00 || reg == 0x08) {
            const uint8_t latch = reg == 0 ? frequencyLatch : ch3Latch;
            const int fnum = ((latch & 7) << 8) | value;
            const int block = latch >> 3;
            const int keyCode = (block << 2) | kKeyCodeTable[fnum >> 7];
            const uint32_t frequency = phaseStepTable[2 * fnum] >> (7 - block);
            const int blockFnum = (block << 11) | fnum;
            if (reg == 0) {
                c.keyCode = keyCode;
                c.frequency = frequency;
                c.blockFnum = blockFnum;
                markRefresh(c);
            } else {
                const int i = addr & 3;
                ch3KeyCode[i] = keyCode;
                ch3Frequency[i] = frequency;
                ch3BlockFnum[i] = blockFnum;
                markRefresh(ch[2]);
            }
        } else if (reg == 0x04) {
            frequencyLatch = value & 0x3F;
        } else {
            ch3Latch = value & 0x3F;
        }
        break;
    }
    case ym2203::kFeedbackAlgorithm:
        if (addr <= 0xB2) {
            c.algorithm = value & 7;
            const int fb = (value >> 3) & 7;
            c.feedbackShift = fb ? fb + 6 : 0;
        }
        break;
    default:
        break;
    }
}

void FmChip::Impl::refreshFrequencies() {
    for (int n = 0; n < 3; ++n) {
        Channel& c = ch[n];
        if (c.op[0].phaseStep != kRefreshMark) continue;
        if (n == 2 && (mode & 0xC0)) {
            // Special mode: operators 1, 3, 2 take the frequencies written at
            // 0xA9, 0xA8, 0xAA; operator 4 the channel's own.
            refreshOperator(c.op[0], ch3Frequency[1], ch3KeyCode[1], detuneTable);
            refreshOperator(c.op[1], ch3Frequency[0], ch3KeyCode[0], detuneTable);
            refreshOperator(c.op[2], ch3Frequency[2], ch3KeyCode[2], detuneTable);
            refreshOperator(c.op[3], c.frequency, c.keyCode, detuneTable);
        } else {
            for (Operator& op : c.op) refreshOperator(op, c.frequency, c.keyCode, detuneTable);
        }
    }
}

namespace {

// A block's envelope ticks as the passes see them.
struct TickList {
    const int* at;  // sample index of each tick
    uint32_t base;  // counter before the first tick
    uint32_t counter(int t) const { return base + static_cast<uint32_t>(t) + 1; }
    // Trailing zero bits of the counter (32 for 0).
    int zeros(int t) const { return std::countr_zero(counter(t)); }
};

// Attenuation as an offset into the padded level table.
inline uint32_t levelBase(const Operator& op) {
    return static_cast<uint32_t>(op.volOut < kSilentAttenuation ? op.volOut : kSilentAttenuation) * 8;
}
constexpr uint32_t kSilent = kSilentAttenuation * 8;

// Four 32-bit lanes (a compiler vector type; plain SSE2 on x86-64).
typedef uint32_t Phases __attribute__((vector_size(16)));

// The first tick from t on whose counter has at least minShift trailing zero
// bits, or nTicks. The counters of a block's ticks are consecutive, so it is
// the one whose counter is the next multiple of 2^minShift.
inline int nextTickFrom(const TickList& ticks, int t, int nTicks, int minShift) {
    if (t >= nTicks || minShift > 32) return nTicks;
    const uint64_t mask = (uint64_t{1} << minShift) - 1;
    const uint64_t skip = (uint64_t{0} - ticks.counter(t)) & mask;
    return skip < static_cast<uint64_t>(nTicks - t) ? t + static_cast<int>(skip) : nTicks;
}

// A channel whose operators are all off and whose delayed values are zero
// stays silent for a whole block.
inline bool channelOff(const Channel& c) {
    if (c.op1Out[0] != 0 || c.op1Out[1] != 0 || c.memValue != 0) return false;
    for (const Operator& op : c.op)
        if (op.state != kOff || op.totalLevel + op.volume < kSilentAttenuation) return false;
    return true;
}

// What running a silent, off channel through n samples would do: the phases
// move on, and a tick recomputes the (unchanging) output attenuations.
inline void skipChannel(Channel& c, int n, bool ticked) {
    for (Operator& op : c.op) {
        op.phase += op.phaseStep * static_cast<uint32_t>(n);
        if (ticked) op.volOut = op.totalLevel + op.volume;
    }
    if (ticked) c.firstStale = c.restStale = false;
}

constexpr int kLevelStride = FmChip::Impl::kLevelStride;
using LevelRow = uint16_t[kLevelStride];

// Writes v to out[from..to), sixteen at a time: may write up to fifteen
// entries past to, which the row's slack or a later fill covers.
inline void fillLevels(uint16_t* out, int from, int to, uint16_t v) {
    typedef uint16_t Eight __attribute__((vector_size(16)));
    const Eight x = {v, v, v, v, v, v, v, v};
    for (int i = from; i < to; i += 16) {
        std::memcpy(out + i, &x, sizeof x);
        std::memcpy(out + i + 8, &x, sizeof x);
    }
}

// What an operator's envelope did over a block: the level of sample 0, then
// events in order of sample, as LevelEvents of its own slot.
struct EnvelopeRun {
    uint16_t first;  // level table offset of sample 0
    bool silent;     // every sample's level is at or past full attenuation
    int changes;     // level events
    int restarts;    // phase restart events
};

// Writes the levels of samples 0..n-1 from an envelope's events.
void expandLevels(const EnvelopeRun& run, const LevelEvent* ev, int nEv, uint16_t* out, int n) {
    int pos = 0;
    uint16_t cur = run.first;
    for (int e = 0; e < nEv; ++e) {
        if (ev[e].restart) continue;
        if (ev[e].at > pos) {
            fillLevels(out, pos, ev[e].at, cur);
            pos = ev[e].at;
        }
        cur = ev[e].level;
    }
    fillLevels(out, pos, n, cur);
}

// The end of an event list.
constexpr int kNoEvent = 0x7FFFFFFF;
constexpr LevelEvent kNoEvents[1] = {{kNoEvent, 0, 0, 0}};

// Where an operator's envelope has got to in a block.
struct LevelWriter {
    LevelEvent* ev;
    uint8_t slot;
    int n = 0;           // events written
    int changes = 0;
    uint32_t cur;        // level from the last event on
    uint32_t first;      // level of sample 0
    uint32_t loudest;
    // The level changes to next before sample at.
    void set(int at, uint32_t next) {
        if (next == cur) return;
        cur = next;
        loudest = std::min(loudest, next);
        if (at == 0) {
            first = next;
            return;
        }
        ev[n++] = LevelEvent{at, static_cast<uint16_t>(next), slot, 0};
        ++changes;
    }
    void restart(int at) { ev[n++] = LevelEvent{at, static_cast<uint16_t>(cur), slot, 1}; }
};

// Ticks from t on that move an operator's volume within its state: each
// costs a table lookup and an add. Returns the first tick that needs
// advanceEnvelope (a change of state, or an SSG inversion just flipped), or
// nTicks. Every tick visited has a counter with at least the state's shift
// trailing zero bits, so the next one is 2^shift ticks on.
inline int plainTicks(Operator& op, int t, const TickList& ticks, int nTicks, LevelWriter& w) {
    int32_t volume = op.volume;
    const int32_t tl = op.totalLevel;
    const bool ssg = op.ssg & 8;
    // While the state lasts the SSG inversion stays as it is.
    const int32_t invert = op.invertXor;
    const int t0 = t;
    auto emit = [&](int tick, int32_t v) {
        const int32_t o = (tl + v) ^ invert;
        w.set(ticks.at[tick], static_cast<uint32_t>(o < kSilentAttenuation ? o : kSilentAttenuation) * 8);
    };
    auto inc = [&ticks](int tick, uint8_t shift, uint8_t row) {
        return int32_t{kEnvelopeStepTable[row + ((ticks.counter(tick) >> shift) & 7)]};
    };
    switch (op.state) {
    case kAttack:
        if (op.envShift != op.attackShift) return t;
        for (const int stride = 1 << op.attackShift; t < nTicks; t += stride) {
            const int32_t v = volume + ((~volume * inc(t, op.attackShift, op.attackRow)) >> 4);
            if (v <= 0) break;
            volume = v;
            emit(t, v);
        }
        break;
    case kDecay: {
        if (op.envShift != op.decayShift) return t;
        const int scale = ssg ? 4 : 1;
        for (const int stride = 1 << op.decayShift; t < nTicks; t += stride) {
            const int32_t v = volume + scale * inc(t, op.decayShift, op.decayRow);
            if (v >= op.sustainLevel) break;
            volume = v;
            emit(t, v);
        }
        break;
    }
    case kSustain:
        if (op.envShift != op.sustainShift) return t;
        if (ssg) {
            for (const int stride = 1 << op.sustainShift; t < nTicks; t += stride) {
                const int32_t v = volume + 4 * inc(t, op.sustainShift, op.sustainRow);
                if (v >= 512) break;
                volume = v;
                emit(t, v);
            }
            break;
        }
        for (const int stride = 1 << op.sustainShift; t < nTicks; t += stride) {
            // At the bottom every further tick gives the same level.
            if (volume >= 1023) {
                t = nTicks;
                break;
            }
            const int32_t v = std::min(volume + inc(t, op.sustainShift, op.sustainRow), 1023);
            volume = v;
            emit(t, v);
        }
        break;
    case kRelease:
        if (op.envShift != op.releaseShift) return t;
        for (const int stride = 1 << op.releaseShift; t < nTicks; t += stride) {
            const int32_t v = volume + inc(t, op.releaseShift, op.releaseRow);
            if (v >= 1023) break;
            volume = v;
            emit(t, v);
        }
        break;
    default:
        return nTicks;
    }
    if (t != t0) {
        op.volume = volume;
        op.volOut = (tl + volume) ^ invert;
    }
    return t;
}

// One operator's envelope over a block: every tick that can change it, in
// order, with each change of level and each phase restart written to ev as
// events of the given slot, and an end mark. stale: no tick yet in this
// render call, so the first one brings the operator up to date whatever its
// rate. The phase itself is left to the sample loops. (The summary goes out
// through run: packed into a returned value it would pass through a store
// and a wider load, which stalls.)
void runEnvelope(Operator& op, bool stale, const TickList& ticks, int nTicks, LevelEvent* ev, uint8_t slot,
                 EnvelopeRun& run) {
    const uint32_t phase = op.phase;
    const uint32_t start = levelBase(op);
    LevelWriter w{ev, slot, 0, 0, start, start, start};
    int t = stale ? 0 : nextTickFrom(ticks, 0, nTicks, op.envShift);
    bool general = stale;
    while (t < nTicks) {
        // After the first tick of a call the level registers have taken
        // effect, and most ticks move the volume by plain steps.
        if (!general) {
            t = plainTicks(op, t, ticks, nTicks, w);
            if (t >= nTicks) break;
        }
        general = false;
        const int at = ticks.at[t];
        const bool restarted = advanceEnvelope(op, ticks.counter(t));
        w.set(at, levelBase(op));
        if (restarted) w.restart(at);
        t = nextTickFrom(ticks, t + 1, nTicks, op.envShift);
    }
    ev[w.n] = kNoEvents[0];
    op.phase = phase;
    run.first = static_cast<uint16_t>(w.first);
    run.silent = w.loudest >= kSilent;
    run.changes = w.changes;
    run.restarts = w.n - w.changes;
}

// Merges three event lists, each in order of sample and ended by an event
// at kNoEvent, into out, in order of sample; restartsOnly leaves level
// events out. Returns the count.
int mergeEvents(const LevelEvent* a, const LevelEvent* b, const LevelEvent* c, LevelEvent* out, bool restartsOnly) {
    int n = 0;
    for (;;) {
        const LevelEvent* m = a;
        if (b->at < m->at) m = b;
        if (c->at < m->at) m = c;
        if (m->at == kNoEvent) return n;
        if (!restartsOnly || m->restart) out[n++] = *m;
        if (m == a) ++a;
        else if (m == b) ++b;
        else ++c;
    }
}
// Operator 1 of one channel inside the first pass.
struct FirstLane {
    const uint16_t* levels;  // level table offset of each sample
    const int16_t* fixed;    // the level table, when the level stays fixed
    uint32_t bias;           // the feedback bias as a phase (shifted left by 6)
    uint32_t phase, step;
    int32_t prev, last;      // outputs of the two samples before
    uint32_t shift;          // 16 - feedback shift; 16: no feedback
};

// The loops keep phases shifted left by 6, so the sine index (bits 16-25) is
// the top ten bits and wraps by itself.
constexpr int kIndexShift = 22;
constexpr int kFirstStride = FmChip::Impl::kBlock + 1;

// The level table at sample i's attenuation. Formed apart (the empty asm
// statement keeps the compiler from folding the offset into the index), it
// stays off the sample-to-sample chain.
inline const int16_t* levelAt(const int16_t* table, const uint16_t* levels, int i) {
    const int16_t* l = table + levels[i];
    asm("" : "+r"(l));
    return l;
}

// Operator 1's output for the two previous outputs a, b at shifted phase ph.
// The table row for the phase and a + bias do not depend on b, the output
// just computed: formed apart, they stay off the sample-to-sample chain,
// which is then add, shift, two loads.
inline int32_t firstOutput(const FirstLane& l, const uint16_t* sine, const int16_t* level, int32_t a, int32_t b,
                           uint32_t ph) {
    const uint16_t* row = sine + size_t{ph >> kIndexShift};
    asm("" : "+r"(row));
    int32_t biasedA = a + kFeedbackBias;
    asm("" : "+r"(biasedA));
    const uint32_t biased = static_cast<uint32_t>(b + biasedA);
    return level[row[biased >> l.shift]];
}

// Two samples of a lane, out[i + 1] and out[i + 2], with the feedback sine
// table and the level table.
template <bool Fixed>
inline void firstPair(FirstLane& l, const uint16_t* sine, const int16_t* table, uint32_t& ph, uint32_t step,
                      int32_t* out, int i) {
    const int16_t* la = Fixed ? l.fixed : levelAt(table, l.levels, i);
    const int16_t* lb = Fixed ? l.fixed : levelAt(table, l.levels, i + 1);
    const int32_t v = firstOutput(l, sine, la, l.prev, l.last, ph);
    const int32_t w = firstOutput(l, sine, lb, l.last, v, ph + step);
    ph += 2 * step;
    out[i + 1] = v;
    out[i + 2] = w;
    l.prev = v;
    l.last = w;
}
template <bool Fixed>
inline void firstSingle(FirstLane& l, const uint16_t* sine, const int16_t* table, uint32_t ph, int32_t* out, int i) {
    const int32_t v = firstOutput(l, sine, Fixed ? l.fixed : levelAt(table, l.levels, i), l.prev, l.last, ph);
    out[i + 1] = v;
    l.prev = l.last;
    l.last = v;
}

// Up to three operator-1 feedback chains side by side: each depends only on
// itself, so their latencies overlap. Lane k writes rows + k * kFirstStride.
// Fixed: every lane's level stays as it is.
template <int N, bool Fixed>
void runFirstLanes(FirstLane* lanes, const int16_t* table, int32_t* rows, int from, int to) {
    const uint16_t* sine = outputTables().feedbackSine.data();
    FirstLane a = lanes[0];
    FirstLane b = N > 1 ? lanes[1] : lanes[0];
    FirstLane c = N > 2 ? lanes[2] : lanes[0];
    uint32_t pa = (a.phase << 6) + a.bias, pb = (b.phase << 6) + b.bias, pc = (c.phase << 6) + c.bias;
    const uint32_t sa = a.step << 6, sb = b.step << 6, sc = c.step << 6;
    int i = from;
    for (; i + 1 < to; i += 2) {
        firstPair<Fixed>(a, sine, table, pa, sa, rows, i);
        if constexpr (N > 1) firstPair<Fixed>(b, sine, table, pb, sb, rows + kFirstStride, i);
        if constexpr (N > 2) firstPair<Fixed>(c, sine, table, pc, sc, rows + 2 * kFirstStride, i);
    }
    if (i < to) {
        firstSingle<Fixed>(a, sine, table, pa, rows, i);
        if constexpr (N > 1) firstSingle<Fixed>(b, sine, table, pb, rows + kFirstStride, i);
        if constexpr (N > 2) firstSingle<Fixed>(c, sine, table, pc, rows + 2 * kFirstStride, i);
    }
    const uint32_t len = static_cast<uint32_t>(to - from);
    a.phase += a.step * len;
    b.phase += b.step * len;
    c.phase += c.step * len;
    lanes[0] = a;
    if constexpr (N > 1) lanes[1] = b;
    if constexpr (N > 2) lanes[2] = c;
}

template <bool Fixed>
void runFirstLanes(int count, FirstLane* lanes, const int16_t* table, int32_t* rows, int from, int to) {
    if (count == 1) runFirstLanes<1, Fixed>(lanes, table, rows, from, to);
    else if (count == 2) runFirstLanes<2, Fixed>(lanes, table, rows, from, to);
    else if (count == 3) runFirstLanes<3, Fixed>(lanes, table, rows, from, to);
}

// First pass over a block: operator 1 of every given channel, whose output
// depends on nothing but its own phase, envelope and feedback. Its envelope
// runs first, over the whole block; the samples then run in stretches
// between changes of level and phase restarts, or, when the levels move
// often, reading each sample's level. Writes out[k][0] = the last output before the
// block, out[k][i + 1] = the output of sample i, out being
// rows + k * kFirstStride. quiet[k] tells that every value written is 0.
void runFirstOperators(Channel* const* chans, int32_t* rows, bool* quiet, int count, int n, const TickList& ticks,
                       int nTicks, LevelRow* levels, LevelEvent* events, int eventCap) {
    const OutputTables& tab = outputTables();
    FirstLane lane[3];
    const LevelEvent* lists[3] = {kNoEvents, kNoEvents, kNoEvents};
    EnvelopeRun env[3];
    int restartCount = 0, changes = 0;
    for (int k = 0; k < count; ++k) {
        Channel& c = *chans[k];
        LevelEvent* ev = events + k * eventCap;
        runEnvelope(c.op[0], c.firstStale, ticks, nTicks, ev, static_cast<uint8_t>(k), env[k]);
        if (nTicks > 0) c.firstStale = false;
        lists[k] = ev;
        restartCount += env[k].restarts;
        changes += env[k].changes;
    }
    const int16_t* table = tab.level.v.data();
    // A few changes of level: stretches of fixed levels between them. Many:
    // the levels of each sample are written out.
    const bool fixed = changes * 16 <= n;
    for (int k = 0; k < count; ++k) {
        Channel& c = *chans[k];
        const Operator& op = c.op[0];
        if (!fixed) expandLevels(env[k], lists[k], env[k].changes + env[k].restarts, levels[k], n);
        const uint32_t shift = static_cast<uint32_t>(16 - c.feedbackShift);
        lane[k] = FirstLane{levels[k],
                            table + env[k].first,
                            // -2^(15 - shift) steps, as a shifted phase
                            (0u - (kFeedbackBias >> shift)) << kIndexShift,
                            op.phase,
                            op.phaseStep,
                            c.op1Out[0],
                            c.op1Out[1],
                            shift};
        rows[k * kFirstStride] = c.op1Out[1];
        // A silent operator's every output is 0, whatever its feedback.
        quiet[k] = env[k].silent && c.op1Out[1] == 0;
    }
    LevelEvent* merged = events + 3 * eventCap;
    const int nEvents = (fixed && changes > 0) || restartCount > 0
                            ? mergeEvents(lists[0], lists[1], lists[2], merged, !fixed)
                            : 0;
    int from = 0;
    for (int e = 0; e <= nEvents; ++e) {
        const int to = e < nEvents ? merged[e].at : n;
        if (to > from) {
            if (fixed) runFirstLanes<true>(count, lane, table, rows, from, to);
            else runFirstLanes<false>(count, lane, table, rows, from, to);
            from = to;
        }
        if (e < nEvents) {
            const LevelEvent& ev = merged[e];
            if (ev.restart) lane[ev.slot].phase = 0;
            else lane[ev.slot].fixed = table + ev.level;
        }
    }
    for (int k = 0; k < count; ++k) {
        Channel& c = *chans[k];
        c.op[0].phase = lane[k].phase;
        c.op1Out[0] = lane[k].prev;
        c.op1Out[1] = lane[k].last;
    }
}

// A stretch of samples of the second pass: the level table, each operator's
// level offsets of each sample (v1..v3 = operators 3, 2, 4), operator 1's
// outputs, the output buffer, the shifted phases and steps (lane 0 unused),
// and, when the levels stay fixed over the stretch, the level table at each.
struct RestSegment {
    const uint16_t* sine;
    const int16_t* level;
    const uint16_t *v1, *v2, *v3;
    const int32_t* first;
    int32_t* buf;
    Phases phase, step;
    const int16_t* fixed[3];  // the level table at each fixed level
};

// Samples from..to of the second pass; returns the last mem. Kept out of
// line, so the level pointers stay separate base registers. The phases are
// scalars here: a modulation pm goes in as pm << 22 added to the shifted
// phase, whose top ten bits are the sine index, so the sum wraps as the
// index does and one shift gives the index. Two samples a round.
//
// Silent (bits 1, 2, 4 = operators 3, 2, 4) names operators at full
// attenuation all through: their every output is 0 whatever modulates them,
// so they are not computed, nor is what only they would read. The mem
// returned is then only right when it is read by no silent operator: the
// caller runs a block's last sample with every operator.
template <int Alg, bool Audible, bool Varies, int Silent = 0>
[[gnu::noinline]] int32_t restSamples(const RestSegment& r, int from, int to, int32_t memv) {
    const uint16_t* sine = r.sine;
    const int16_t* level = r.level;
    const int16_t *c1 = r.fixed[0], *c2 = r.fixed[1], *c3 = r.fixed[2];
    const uint16_t *v1 = r.v1, *v2 = r.v2, *v3 = r.v3;
    const int32_t* first = r.first;
    int32_t* buf = r.buf;
    auto outAt = [sine, level](const int16_t* fixed, const uint16_t* row, int i, uint32_t ph) {
        if constexpr (Varies) return int32_t{level[size_t{row[i]} + sine[ph >> kIndexShift]]};
        else return int32_t{fixed[sine[ph >> kIndexShift]]};
    };
    auto pmOf = [](int32_t x) { return static_cast<uint32_t>(x >> 1) << kIndexShift; };
    // Operator 3's modulation, mem carried in, is 0 in these algorithms.
    // (A modulation that stays 0 adds nothing once compiled.)
    constexpr bool kM2Zero = !(Alg <= 2 || Alg == 5);
    // What is computed: operator 3 feeds operator 4 up to algorithm 4, the
    // output after; operator 2 feeds mem up to algorithm 3, which operator 3
    // reads (operator 4 in algorithm 3), and the output after.
    constexpr bool kRun3 = !(Silent & 1) && (Alg >= 5 || !(Silent & 4));
    constexpr bool kMemRead = Alg == 3 ? !(Silent & 4) : !kM2Zero && !(Silent & 1);
    constexpr bool kRun2 = !(Silent & 2) && (Alg >= 4 || kMemRead);
    constexpr bool kRun4 = !(Silent & 4);
    uint32_t p1 = r.phase[1], p2 = r.phase[2], p3 = r.phase[3];
    const uint32_t s1 = r.step[1], s2 = r.step[2], s3 = r.step[3];
    auto sample = [&](int i) __attribute__((always_inline)) {
        int32_t m2 = 0, mc1 = 0, mc2 = 0, mem = 0, sum = 0;
        if constexpr (!kM2Zero) m2 = memv;
        if constexpr (Alg == 3) mc2 = memv;
        const int32_t o0 = first[i];
        if constexpr (Alg == 0 || Alg == 3 || Alg == 4 || Alg == 6) mc1 += o0;
        if constexpr (Alg == 1) mem += o0;
        if constexpr (Alg == 2) mc2 += o0;
        if constexpr (Alg == 5) mem = mc1 = mc2 = o0;
        if constexpr (Alg == 7) sum += o0;
        (void)m2, (void)mc1, (void)mc2;  // unread when their operator is not run
        int32_t o3 = 0;
        if constexpr (kRun3) o3 = outAt(c1, v1, i, p1 + pmOf(m2));
        if constexpr (Alg <= 4) mc2 += o3;
        else sum += o3;
        int32_t o2 = 0;
        if constexpr (kRun2) o2 = outAt(c2, v2, i, p2 + pmOf(mc1));
        if constexpr (Alg <= 3) mem += o2;
        else sum += o2;
        if constexpr (kRun4) sum += outAt(c3, v3, i, p3 + pmOf(mc2));
        memv = mem;
        p1 += s1;
        p2 += s2;
        p3 += s3;
        if constexpr (Audible) buf[i] += sum;
    };
    int i = from;
    for (; i + 1 < to; i += 2) {
        sample(i);
        sample(i + 1);
    }
    if (i < to) sample(i);
    return memv;
}

using RestKernel = int32_t (*)(const RestSegment&, int, int, int32_t);

// The kernel for a heard channel of algorithm Alg whose operators in
// silentOps (bits as restSamples' Silent) stay silent: one per set of
// silent operators that can occur (when every operator reaching the output
// is silent the channel is muted instead).
template <int Alg>
constexpr int prunedSet(int silentOps) {
    if (Alg <= 3) return silentOps & 3;
    if (Alg == 4) return (silentOps & 6) == 6 ? 0 : silentOps;
    if (Alg <= 6) return silentOps == 7 ? 0 : silentOps;
    return silentOps;
}
template <int Alg, bool Varies, int... S>
constexpr std::array<RestKernel, 8> prunedKernels(std::integer_sequence<int, S...>) {
    return {restSamples<Alg, true, Varies, prunedSet<Alg>(S)>...};
}
template <int Alg>
RestKernel prunedKernel(bool varies, int silentOps) {
    static constexpr auto kFixed = prunedKernels<Alg, false>(std::make_integer_sequence<int, 8>{});
    static constexpr auto kVaries = prunedKernels<Alg, true>(std::make_integer_sequence<int, 8>{});
    return varies ? kVaries[silentOps] : kFixed[silentOps];
}

// Second pass: operators 3, 2 and 4 of one channel over a block, with
// operator 1's outputs from the first pass (first[i] = its output of the
// sample before sample i). Operators are independent of each other's
// envelopes, so running channel by channel, operator 1 apart and each
// envelope ahead of the samples gives the same samples as running sample by
// sample across the chip.
//
// Each sample starts with the scratch sums m2, c1, c2, mem at 0. Operator 3
// is modulated by m2, operator 2 by c1, operator 4 by c2; operator 4 always
// feeds the output. Operator 1's output arrives one sample late, and mem
// carries a value into the next sample:
//
//   algorithm  operator 1   operator 3  operator 2  last mem restored into
//       0      c1           c2          mem         m2
//       1      mem          c2          mem         m2
//       2      c2           c2          mem         m2
//       3      c1           c2          mem         c2
//       4      c1           c2          output      -
//       5      mem=c1=c2    output      output      m2
//       6      c1           output      output      -
//       7      output       output      output      -
template <int Alg, bool Audible>
void runRest(Channel& c, const int32_t* first, bool firstQuiet, int32_t* buf, int n, const TickList& ticks,
             int nTicks, LevelRow* levels, LevelEvent* events, int eventCap) {
    const OutputTables& tab = outputTables();
    Operator* op = c.op;
    EnvelopeRun env[3];
    const LevelEvent* lists[3];
    int counts[3];
    int changes = 0, restarts = 0;
    bool silent = true;
    for (int k = 0; k < 3; ++k) {
        LevelEvent* ev = events + k * eventCap;
        runEnvelope(op[k + 1], c.restStale, ticks, nTicks, ev, static_cast<uint8_t>(k + 1), env[k]);
        lists[k] = ev;
        counts[k] = env[k].changes + env[k].restarts;
        changes += env[k].changes;
        restarts += env[k].restarts;
        silent &= env[k].silent;
    }
    if (nTicks > 0) c.restStale = false;
    // A few changes of level: stretches of fixed levels between them, each
    // with the table addresses of the stretch. Many: every sample reads its
    // levels, and only phase restarts break the loop.
    const bool varies = changes * 16 > n;
    if (varies)
        for (int k = 0; k < 3; ++k) expandLevels(env[k], lists[k], counts[k], levels[k], n);
    LevelEvent* merged = events + 3 * eventCap;
    const int nEvents = varies && restarts == 0 ? 0 : mergeEvents(lists[0], lists[1], lists[2], merged, varies);
    // Nothing sounds: every output and so every mem is 0.
    const bool skip = firstQuiet && silent;
    // Every operator that reaches the output is silent (env: operators 3,
    // 2, 4): the block adds nothing, and only the mem of its last sample is
    // needed, which no output feeds.
    const bool mute = !skip && env[2].silent && (Alg < 4 || env[1].silent) && (Alg < 5 || env[0].silent) &&
                      (Alg < 7 || firstQuiet);
    constexpr bool kHasMem = Alg <= 3 || Alg == 5;
    // The samples computed: none, the last one (for its mem), or all.
    const int computeFrom = skip ? n : mute ? (kHasMem ? n - 1 : n) : 0;
    // Every operator computed, and (on a heard channel with silent
    // operators) the operators that matter, up to the last sample.
    const RestKernel full = mute ? (varies ? restSamples<Alg, false, true> : restSamples<Alg, false, false>)
                                 : (varies ? restSamples<Alg, Audible, true> : restSamples<Alg, Audible, false>);
    const int silentOps = (env[0].silent ? 1 : 0) | (env[1].silent ? 2 : 0) | (env[2].silent ? 4 : 0);
    const RestKernel pruned = Audible && !mute && !skip && silentOps ? prunedKernel<Alg>(varies, silentOps) : full;
    const int fullFrom = pruned == full ? computeFrom : kHasMem ? n - 1 : n;
    uint32_t p[4] = {0, op[1].phase, op[2].phase, op[3].phase};
    const uint32_t s[4] = {0, op[1].phaseStep, op[2].phaseStep, op[3].phaseStep};
    uint16_t level[4] = {0, env[0].first, env[1].first, env[2].first};
    int32_t memv = skip || mute ? 0 : c.memValue;
    int from = 0;
    // Samples from..to through kernel (none: the phases only move on).
    auto runStretch = [&](RestKernel kernel, int a, int b) {
        if (kernel) {
            RestSegment seg{tab.sine.v.data(), tab.level.v.data(), levels[0], levels[1], levels[2], first, buf,
                            Phases{0, p[1], p[2], p[3]} << 6, Phases{0, s[1], s[2], s[3]} << 6, {}};
            for (int k = 0; k < 3; ++k) seg.fixed[k] = tab.level.v.data() + level[k + 1];
            memv = kernel(seg, a, b, memv);
        }
        for (int k = 1; k < 4; ++k) p[k] += s[k] * static_cast<uint32_t>(b - a);
        from = b;
    };
    for (int e = 0; e <= nEvents; ++e) {
        const int to = e < nEvents ? merged[e].at : n;
        // Samples before computeFrom move the phases only; from fullFrom on
        // every operator is computed.
        const int start = std::clamp(computeFrom, from, to);
        const int mid = std::clamp(fullFrom, start, to);
        if (start > from) runStretch(nullptr, from, start);
        if (mid > start) runStretch(pruned, start, mid);
        if (to > mid) runStretch(full, mid, to);
        if (e < nEvents) {
            const LevelEvent& ev = merged[e];
            if (ev.restart) p[ev.slot] = 0;
            else level[ev.slot] = ev.level;
        }
    }
    for (int k = 1; k < 4; ++k) op[k].phase = p[k];
    c.memValue = memv;
}

using RunRest = void (*)(Channel&, const int32_t*, bool, int32_t*, int, const TickList&, int, LevelRow*, LevelEvent*, int);
template <bool Audible>
constexpr RunRest kRunRest[8] = {runRest<0, Audible>, runRest<1, Audible>, runRest<2, Audible>, runRest<3, Audible>,
                                 runRest<4, Audible>, runRest<5, Audible>, runRest<6, Audible>, runRest<7, Audible>};

RunRest restRunner(bool audible, int algorithm) {
    return audible ? kRunRest<true>[algorithm] : kRunRest<false>[algorithm];
}

}  // namespace

// The envelope ticks of the next n samples: every sample adds envTimerAdd to
// envTimer, and each overflow during sample i is a tick before sample i is
// computed. Below one tick per sample the gaps are computed, not counted.
void FmChip::Impl::scheduleTicks(int n) {
    nTicks = 0;
    if (envTimerAdd == 0) return;
    uint32_t timer = envTimer, counter = envCounter;
    tickBase = counter;
    const uint32_t add = envTimerAdd;
    if (add >= kEnvTimerOverflow || timer >= kEnvTimerOverflow || 2 * Impl::kBlock < n) {
        for (int i = 0; i < n; ++i) {
            timer += add;
            while (timer >= kEnvTimerOverflow) {
                timer -= kEnvTimerOverflow;
                ++counter;
                if (nTicks == static_cast<int>(ticks.size())) ticks.resize(ticks.size() * 2);
                ticks[static_cast<size_t>(nTicks++)] = i;
            }
        }
    } else {
        // At most one tick per sample: room for n ticks is there already.
        // Samples until the timer reaches the overflow, at least one: first
        // ceil(rest / add) by the reciprocal (exact for these ranges). After
        // a tick the timer is below add, so every later gap is envGap - 1 or
        // envGap samples, the shorter one once the timer has reached
        // envShortFrom.
        // The timer steps of the two gaps are fixed, so the loop carries no
        // multiply from tick to tick.
        int* out = ticks.data();
        const uint64_t x = kEnvTimerOverflow - timer + add - 1;
        const uint32_t k = static_cast<uint32_t>((x * envTimerReciprocal) >> 40);
        uint32_t left = static_cast<uint32_t>(n);
        if (k <= left) {
            const uint32_t gap = envGap, shortFrom = envShortFrom;
            const uint32_t longStep = gap * add - kEnvTimerOverflow, shortStep = longStep - add;
            timer += k * add - kEnvTimerOverflow;
            left -= k;
            int i = static_cast<int>(k);
            *out++ = i - 1;
            for (;;) {
                const bool shortGap = timer >= shortFrom;
                const uint32_t g = shortGap ? gap - 1 : gap;
                if (g > left) break;
                timer += shortGap ? shortStep : longStep;
                left -= g;
                i += static_cast<int>(g);
                *out++ = i - 1;
            }
        }
        timer += left * add;
        nTicks = static_cast<int>(out - ticks.data());
        counter += static_cast<uint32_t>(nTicks);
    }
    envTimer = timer;
    envCounter = counter;
}

void FmChip::Impl::render(int32_t* buffer, int count, bool overwrite) {
    refreshFrequencies();
    for (Channel& c : ch) c.firstStale = c.restStale = true;
    while (count > 0) {
        // Shorter blocks when the envelope ticks several times per sample
        // (absurd clock/rate ratios), so the tick list stays small.
        const int perSample = static_cast<int>(envTimerAdd / kEnvTimerOverflow) + 1;
        const int limit = perSample > 2 ? std::max(1, 2 * kBlock / perSample) : kBlock;
        const int n = std::min(count, limit);
        if (overwrite) std::fill_n(buffer, n, 0);
        Channel* live[3];
        bool quiet[3];
        int nLive = 0;
        for (Channel& c : ch)
            if (!channelOff(c)) live[nLive++] = &c;
        if (nLive == 0 && envTimerAdd < kEnvTimerOverflow && envTimer < kEnvTimerOverflow) {
            // A silent chip (the audition chip, mostly) needs only the tick
            // count: the timer sum stays far below 2^64.
            const uint64_t total = envTimer + uint64_t{envTimerAdd} * static_cast<uint32_t>(n);
            const uint32_t ticked = static_cast<uint32_t>(total / kEnvTimerOverflow);
            envTimer = static_cast<uint32_t>(total % kEnvTimerOverflow);
            envCounter += ticked;
            for (Channel& c : ch) skipChannel(c, n, ticked > 0);
            buffer += n;
            count -= n;
            continue;
        }
        scheduleTicks(n);
        for (Channel& c : ch)
            if (channelOff(c)) skipChannel(c, n, nTicks > 0);
        const TickList tickList{ticks.data(), tickBase};
        if (eventCap < 2 * nTicks + 2) {
            eventCap = static_cast<int>(2 * ticks.size() + 2);
            events.resize(6 * static_cast<size_t>(eventCap));
        }
        runFirstOperators(live, firstOut, quiet, nLive, n, tickList, nTicks, firstLevels, events.data(), eventCap);
        for (int k = 0; k < nLive; ++k) {
            Channel& c = *live[k];
            const int index = static_cast<int>(&c - ch);
            restRunner((channelMask >> index) & 1, c.algorithm)(c, firstOut + k * (kBlock + 1), quiet[k], buffer, n, tickList,
                                                                nTicks, restLevels, events.data(), eventCap);
        }
        buffer += n;
        count -= n;
    }
}

FmChip::FmChip() = default;
FmChip::~FmChip() = default;

std::unique_ptr<FmChip> FmChip::create(uint32_t clock, uint32_t sampleRate) {
    try {
        std::unique_ptr<FmChip> chip(new FmChip());
        chip->impl_ = std::make_unique<Impl>();
        chip->impl_->ticks.resize(2 * Impl::kBlock);
        chip->impl_->eventCap = 4 * Impl::kBlock + 2;
        chip->impl_->events.resize(6 * static_cast<size_t>(chip->impl_->eventCap));
        outputTables();
        chip->impl_->clock = clock;
        chip->impl_->sampleRate = sampleRate;
        chip->impl_->channelMask = 15;
        chip->impl_->reset();
        return chip;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void FmChip::reset() { impl_->reset(); }

int FmChip::write(int port, uint8_t value) {
    Impl& s = *impl_;
    if (port == 0) {
        s.address = value;
        if (value >= 0x2D && value <= 0x2F) {
            if (value == 0x2D) s.prescalerSelect |= 2;
            else if (value == 0x2E) s.prescalerSelect |= 1;
            else s.prescalerSelect = 0;
            s.rebuildFrequencyTables();
        }
    } else if (port == 1) {
        s.writeData(s.address, value);
    }
    return s.irq;
}

void FmChip::setChannelMask(uint32_t mask) { impl_->channelMask = mask & 7; }

void FmChip::render(int32_t* buffer, int count, bool overwrite) { impl_->render(buffer, count, overwrite); }

uint8_t FmChip::registerValue(uint8_t address) const { return impl_->registers[address]; }

FmChip::OperatorState FmChip::operatorState(int channel, int slot) const {
    const Operator& op = impl_->ch[channel % 3].op[slot & 3];
    return OperatorState{op.phase, op.phaseStep, op.volume, op.volOut, op.state, op.keyOn != 0};
}
uint32_t FmChip::envTimerAdd() const { return impl_->envTimerAdd; }
uint32_t FmChip::envCounter() const { return impl_->envCounter; }
int32_t FmChip::detune(int row, int keyCode) const { return impl_->detuneTable[row & 7][keyCode & 31]; }
uint32_t FmChip::phaseStepTableEntry(int index) const { return impl_->phaseStepTable[index & 4095]; }
int32_t FmChip::levelTableEntry(int index) {
    return index >= 0 && index < kLevelTableSize ? levelTable().v[index] : 0;
}
int32_t FmChip::sineTableEntry(int index) { return sineTable().v[index & 1023]; }

}  // namespace qv
