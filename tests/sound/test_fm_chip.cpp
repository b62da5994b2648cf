// FmChip: tables, register write path, envelopes, algorithms, tuning and the
// golden output of fixed register scripts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "sound/fm_chip.h"

namespace qv {
namespace {

constexpr uint32_t kClock = 3500000;
constexpr uint32_t kRate = 44100;

// Register offsets of operators 1..4 within a channel's register group.
constexpr int kOpOffset[4] = {0x0, 0x8, 0x4, 0xC};
// Register slots (as seen by operatorState) of operators 1..4.
constexpr int kOpSlot[4] = {0, 2, 1, 3};

struct TestChip {
    std::unique_ptr<FmChip> chip;
    explicit TestChip(uint32_t clock = kClock, uint32_t rate = kRate) : chip(FmChip::create(clock, rate)) {}
    void w(int reg, int value) {
        chip->write(0, static_cast<uint8_t>(reg));
        chip->write(1, static_cast<uint8_t>(value));
    }
    // Operator k (1..4) of channel ch: register base + offset.
    void op(int base, int ch, int k, int value) { w(base + kOpOffset[k - 1] + ch, value); }
    std::vector<int32_t> render(int n) {
        std::vector<int32_t> out(static_cast<size_t>(n));
        chip->render(out.data(), n, true);
        return out;
    }
    FmChip::OperatorState state(int ch, int k) const { return chip->operatorState(ch, kOpSlot[k - 1]); }

    void frequency(int ch, int block, int fnum) {
        w(0xA4 + ch, (block << 3) | (fnum >> 8));
        w(0xA0 + ch, fnum & 0xFF);
    }
    // Operator k: full level, instant attack, no decay, fast release.
    void plainOperator(int ch, int k, int mul, int tl = 0) {
        op(0x30, ch, k, mul);
        op(0x40, ch, k, tl);
        op(0x50, ch, k, 31);
        op(0x60, ch, k, 0);
        op(0x70, ch, k, 0);
        op(0x80, ch, k, 0x0F);
    }
    // Algorithm 7 with only operator 4 audible: a plain sine.
    void sineVoice(int ch, int block, int fnum, int mul) {
        w(0xB0 + ch, 7);
        for (int k = 1; k <= 3; ++k) plainOperator(ch, k, 1, 127);
        plainOperator(ch, 4, mul, 0);
        frequency(ch, block, fnum);
    }
    void keyOn(int ch, int ops = 0xF0) { w(0x28, ops | ch); }
    void keyOff(int ch) { w(0x28, ch); }
};

// Frequency in Hz from upward zero crossings, interpolated between samples.
double measureFrequency(const std::vector<int32_t>& s, int skip) {
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = static_cast<size_t>(skip) + 1; i < s.size(); ++i) {
        if (s[i - 1] < 0 && s[i] >= 0) {
            const double t = static_cast<double>(i - 1) + double(s[i - 1]) / double(s[i - 1] - s[i]);
            if (first < 0) first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2) return 0;
    return (crossings - 1) / (last - first) * kRate;
}

double expectedFrequency(int block, int fnum, int mul) {
    const double f = fnum * 3500000.0 / 72.0 / std::pow(2.0, 21 - block);
    return mul ? f * mul : f / 2;
}

uint64_t fnv1a(const std::vector<int32_t>& s, uint64_t h = 1469598103934665603ull) {
    for (int32_t v : s) {
        const uint32_t u = static_cast<uint32_t>(v);
        for (int b = 0; b < 4; ++b) {
            h ^= (u >> (8 * b)) & 0xFF;
            h *= 1099511628211ull;
        }
    }
    return h;
}

// ---------------------------------------------------------------------------
TEST(FmChipTables, LevelTableValues) {
    EXPECT_EQ(FmChip::levelTableEntry(0), 8168);
    EXPECT_EQ(FmChip::levelTableEntry(1), -8168);
    EXPECT_EQ(FmChip::levelTableEntry(2), 8148);
    EXPECT_EQ(FmChip::levelTableEntry(256), 5776);
    EXPECT_EQ(FmChip::levelTableEntry(510), 4096);  // one octave down: exactly half of 8192
    EXPECT_EQ(FmChip::levelTableEntry(511), -4096);
    // Each further row of 512 halves the row above.
    EXPECT_EQ(FmChip::levelTableEntry(512), 8168 >> 1);
    EXPECT_EQ(FmChip::levelTableEntry(512 * 12), 8168 >> 12);
    EXPECT_EQ(FmChip::levelTableEntry(512 * 12 + 1), -(8168 >> 12));
    EXPECT_EQ(FmChip::levelTableEntry(512 * 12 + 510), 1);
    int32_t maxValue = 0;
    for (int i = 0; i < 6656; ++i) {
        maxValue = std::max(maxValue, FmChip::levelTableEntry(i));
        EXPECT_EQ(FmChip::levelTableEntry(i | 1), -FmChip::levelTableEntry(i & ~1)) << i;
    }
    EXPECT_EQ(maxValue, 8168);
}

TEST(FmChipTables, SineTableValues) {
    EXPECT_EQ(FmChip::sineTableEntry(0), 4274);   // smallest |sin|: largest attenuation
    EXPECT_EQ(FmChip::sineTableEntry(255), 0);    // peaks carry no attenuation
    EXPECT_EQ(FmChip::sineTableEntry(256), 0);
    EXPECT_EQ(FmChip::sineTableEntry(767), 1);    // negative peak: sign bit only
    EXPECT_EQ(FmChip::sineTableEntry(512), 4275);
    EXPECT_EQ(FmChip::sineTableEntry(1023), 4275);
    for (int i = 0; i < 512; ++i) {
        EXPECT_EQ(FmChip::sineTableEntry(i) & 1, 0) << i;
        EXPECT_EQ(FmChip::sineTableEntry(i + 512) & 1, 1) << i;
    }
}

TEST(FmChipTables, FrequencyDependentTables) {
    TestChip t;
    EXPECT_EQ(t.chip->envTimerAdd(), 72239u);
    EXPECT_EQ(t.chip->detune(0, 31), 0);
    EXPECT_EQ(t.chip->detune(1, 4), 70);      // 1 * 64 * freqBase
    EXPECT_EQ(t.chip->detune(3, 31), 1552);   // 22 * 64 * freqBase
    EXPECT_EQ(t.chip->detune(7, 31), -1552);
    EXPECT_EQ(t.chip->detune(6, 28), -1128);
    EXPECT_EQ(t.chip->phaseStepTableEntry(0), 0u);
    EXPECT_EQ(t.chip->phaseStepTableEntry(2048), 4623350u);
}

TEST(FmChipTables, PrescalerRegistersRebuildTables) {
    TestChip t;
    t.chip->write(0, 0x2E);  // select 3: divider 36
    EXPECT_EQ(t.chip->envTimerAdd(), 144479u);
    t.chip->write(0, 0x2F);  // select 0: divider 24
    EXPECT_EQ(t.chip->envTimerAdd(), 216719u);
    EXPECT_EQ(t.chip->detune(3, 31), 4656);  // three times the /72 value, truncated once
    t.chip->write(0, 0x2D);  // select 2: divider 72
    EXPECT_EQ(t.chip->envTimerAdd(), 72239u);
    t.chip->write(0, 0x2E);
    t.chip->reset();  // back to divider 72
    EXPECT_EQ(t.chip->envTimerAdd(), 72239u);
}

// ---------------------------------------------------------------------------
TEST(FmChipWrites, FrequencyLatchIsUsedByTheLowByteWrite) {
    TestChip t;
    t.sineVoice(0, 4, 0x40F, 1);
    t.render(1);
    const uint32_t step = t.state(0, 4).phaseStep;
    // Same F-number written low byte first: the old latch (block 0) applies.
    TestChip u;
    u.sineVoice(0, 0, 0x000, 1);
    u.w(0xA0, 0x0F);
    u.w(0xA4, (4 << 3) | 4);
    u.render(1);
    EXPECT_EQ(u.state(0, 4).phaseStep, (u.chip->phaseStepTableEntry(2 * 0x00F) >> 7) * 2 >> 1);
    // Writing the low byte again now uses the latched block and high bits.
    u.w(0xA0, 0x0F);
    u.render(1);
    EXPECT_EQ(u.state(0, 4).phaseStep, step);
    EXPECT_EQ(step, t.chip->phaseStepTableEntry(2 * 0x40F) >> 3);
}

TEST(FmChipWrites, MultipleAndDetuneSetThePhaseStep) {
    TestChip t;
    t.sineVoice(0, 7, 2000, 1);  // key code 31
    t.render(1);
    const uint32_t base = t.state(0, 4).phaseStep;
    t.op(0x30, 0, 4, 0x31);  // DT 3
    t.render(1);
    const uint32_t up = t.state(0, 4).phaseStep;
    t.op(0x30, 0, 4, 0x71);  // DT 7: the negative of DT 3
    t.render(1);
    const uint32_t down = t.state(0, 4).phaseStep;
    EXPECT_EQ(up - base, 1552u);
    EXPECT_EQ(base - down, 1552u);
    t.op(0x30, 0, 4, 0x00);  // MUL 0: half
    t.render(1);
    EXPECT_EQ(t.state(0, 4).phaseStep, base >> 1);
    t.op(0x30, 0, 4, 0x0F);  // MUL 15
    t.render(1);
    EXPECT_EQ(t.state(0, 4).phaseStep, base * 15);
}

TEST(FmChipWrites, IgnoredRegistersAndChannels) {
    TestChip a, b;
    for (TestChip* t : {&a, &b}) {
        t->sineVoice(0, 4, 1059, 1);
        t->keyOn(0);
    }
    // SSG registers, the fourth channel slot, the LFO registers and key-on of channel "3".
    for (int r = 0; r < 0x10; ++r) b.w(r, 0xFF - r);
    b.w(0x43, 0x00);
    b.w(0xA3, 0xFF);
    b.w(0xB3, 0x07);
    b.w(0x22, 0x0F);
    b.w(0xB4, 0xC0);
    b.w(0x28, 0xF3);
    EXPECT_EQ(a.render(3000), b.render(3000));
    EXPECT_EQ(b.chip->registerValue(0x05), 0xFA);
    EXPECT_EQ(b.chip->registerValue(0x43), 0x00);
    EXPECT_EQ(b.chip->write(1, 0), 0);  // never an interrupt
}

TEST(FmChipWrites, KeyOnOfAKeyedOperatorDoesNotRestartIt) {
    TestChip t;
    t.sineVoice(0, 4, 1059, 1);
    t.keyOn(0, 0x80);  // operator 4 only
    EXPECT_TRUE(t.state(0, 4).keyOn);
    EXPECT_FALSE(t.state(0, 1).keyOn);
    t.render(100);
    const uint32_t phase = t.state(0, 4).phase;
    EXPECT_NE(phase, 0u);
    t.keyOn(0, 0x80);
    EXPECT_EQ(t.state(0, 4).phase, phase);
    t.keyOff(0);
    EXPECT_EQ(t.state(0, 4).state, FmChip::kRelease);
    t.keyOn(0, 0x80);
    EXPECT_EQ(t.state(0, 4).phase, 0u);
    EXPECT_EQ(t.state(0, 4).state, FmChip::kAttack);
}

TEST(FmChipWrites, KeyBitsAddressOperatorsOneToFour) {
    for (int k = 1; k <= 4; ++k) {
        TestChip t;
        t.keyOn(1, 0x10 << (k - 1));
        for (int j = 1; j <= 4; ++j) EXPECT_EQ(t.state(1, j).keyOn, j == k) << k << " " << j;
    }
}

TEST(FmChipWrites, ResetKeepsKeyFlags) {
    TestChip t;
    t.sineVoice(0, 4, 1059, 1);
    t.keyOn(0);
    t.render(500);
    t.chip->reset();
    EXPECT_TRUE(t.state(0, 4).keyOn);
    EXPECT_EQ(t.state(0, 4).state, FmChip::kOff);
    EXPECT_EQ(t.state(0, 4).volume, 1023);
    t.sineVoice(0, 4, 1059, 1);
    t.keyOn(0);  // still keyed: no new note
    for (int32_t s : t.render(1000)) ASSERT_EQ(s, 0);
    t.keyOff(0);
    t.keyOn(0);
    const auto out = t.render(1000);
    EXPECT_GT(*std::max_element(out.begin(), out.end()), 4000);
}

TEST(FmChipWrites, Channel3SpecialModeGivesEachOperatorItsFrequency) {
    // Normal mode: every operator of channel 3 follows 0xA2.
    TestChip t;
    t.sineVoice(2, 4, 1000, 1);
    for (int k = 1; k <= 4; ++k) t.plainOperator(2, k, 1, 0);
    t.w(0xAD, 5 << 3);  // special-mode frequencies, unused for now
    t.w(0xA9, 100);
    t.w(0xAC, 3 << 3);
    t.w(0xA8, 200);
    t.w(0xAE, 2 << 3);
    t.w(0xAA, 250);
    t.render(1);
    for (int k = 1; k <= 4; ++k) EXPECT_EQ(t.state(2, k).phaseStep, t.chip->phaseStepTableEntry(2000) >> 3);
    // Special mode takes effect with the next frequency write of channel 3.
    t.w(0x27, 0x40);
    t.w(0xA2, 1000 & 0xFF);
    t.render(1);
    EXPECT_EQ(t.state(2, 1).phaseStep, t.chip->phaseStepTableEntry(200) >> 2);  // 0xA9
    EXPECT_EQ(t.state(2, 2).phaseStep, t.chip->phaseStepTableEntry(500) >> 5);  // 0xAA
    EXPECT_EQ(t.state(2, 3).phaseStep, t.chip->phaseStepTableEntry(400) >> 4);  // 0xA8
    EXPECT_EQ(t.state(2, 4).phaseStep, t.chip->phaseStepTableEntry(2000) >> 3);  // 0xA2
    // Channels 1 and 2 are never in special mode (MUL 0 after reset: half).
    t.frequency(0, 4, 1000);
    t.render(1);
    EXPECT_EQ(t.state(0, 1).phaseStep, t.chip->phaseStepTableEntry(2000) >> 4);
}

// ---------------------------------------------------------------------------
TEST(FmChipEnvelope, MaximumRateAttackIsInstantWithAnyKeyScaling) {
    for (int ks = 0; ks < 4; ++ks) {
        for (int block : {0, 7}) {
            TestChip t;
            t.sineVoice(0, block, 1059, 1);
            t.op(0x50, 0, 4, 31 | ks << 6);
            t.keyOn(0, 0x80);
            EXPECT_EQ(t.state(0, 4).volume, 511);
            while (t.chip->envCounter() == 0) t.render(1);
            EXPECT_EQ(t.state(0, 4).volume, 0) << ks;
            EXPECT_EQ(t.state(0, 4).state, FmChip::kDecay);
        }
    }
}

TEST(FmChipEnvelope, ZeroAttackRateNeverAttacks) {
    // Also after a change of key scaling that leaves the scaling offset as it
    // was (key code 0): the new attack rate must be used.
    TestChip t;
    t.sineVoice(0, 0, 0x100, 1);  // key code 0
    t.op(0x50, 0, 4, 0x40);       // AR 0, KS 1
    t.keyOn(0, 0x80);
    t.render(5000);
    EXPECT_EQ(t.state(0, 4).volume, 511);
    EXPECT_EQ(t.state(0, 4).state, FmChip::kAttack);
    t.op(0x50, 0, 4, 0x9F);  // AR 31, KS 2
    t.render(4);
    EXPECT_EQ(t.state(0, 4).volume, 0);
}

TEST(FmChipEnvelope, DecayStopsAtTheSustainLevel) {
    TestChip t;
    t.sineVoice(0, 4, 1059, 1);
    t.op(0x60, 0, 4, 20);    // D1R
    t.op(0x80, 0, 4, 0x5F);  // SL 5
    t.keyOn(0, 0x80);
    t.render(44100);
    const auto s = t.state(0, 4);
    EXPECT_EQ(s.state, FmChip::kSustain);
    EXPECT_GE(s.volume, 160);
    EXPECT_LT(s.volume, 168);
    EXPECT_EQ(s.volOut, s.volume);
    t.op(0x40, 0, 4, 10);  // TL applies at the next envelope tick
    t.render(3);
    EXPECT_EQ(t.state(0, 4).volOut, s.volume + 80);
}

TEST(FmChipEnvelope, ReleaseDecaysToSilence) {
    TestChip t;
    t.sineVoice(0, 4, 1059, 1);
    t.op(0x80, 0, 4, 0x0A);  // RR 10
    t.keyOn(0);
    const auto on = t.render(4410);
    EXPECT_GT(*std::max_element(on.begin(), on.end()), 8000);
    t.keyOff(0);
    const auto off = t.render(44100);
    int32_t early = 0, late = 0;
    for (int i = 0; i < 441; ++i) early = std::max(early, std::abs(off[i]));
    for (int i = 22050; i < 44100; ++i) late = std::max(late, std::abs(off[i]));
    EXPECT_GT(early, 4000);
    EXPECT_EQ(late, 0);
    EXPECT_EQ(t.state(0, 4).state, FmChip::kOff);
    EXPECT_EQ(t.state(0, 4).volume, 1023);
}

TEST(FmChipEnvelope, SsgRepeatRestartsAndAlternateInverts) {
    // Type 8 (repeat): the operator runs down to 512 and attacks again from 511.
    TestChip t;
    t.sineVoice(0, 4, 1059, 1);
    t.op(0x50, 0, 4, 31);
    t.op(0x60, 0, 4, 31);  // fastest decay
    t.op(0x70, 0, 4, 31);
    t.op(0x80, 0, 4, 0xFF);  // SL 15
    t.op(0x90, 0, 4, 0x08);
    t.keyOn(0, 0x80);
    int restarts = 0, maxVolOut = 0;
    for (int i = 0; i < 3000; ++i) {
        const auto before = t.state(0, 4).state;
        t.render(1);
        const auto s = t.state(0, 4);
        if (before != FmChip::kAttack && s.state == FmChip::kAttack) ++restarts;
        maxVolOut = std::max(maxVolOut, s.volOut);
    }
    EXPECT_GT(restarts, 5);
    EXPECT_LT(maxVolOut, 1023 + 64);

    // Type 9 (hold): one run down, then held silent.
    TestChip h;
    h.sineVoice(0, 4, 1059, 1);
    h.op(0x60, 0, 4, 31);
    h.op(0x70, 0, 4, 31);
    h.op(0x80, 0, 4, 0xFF);
    h.op(0x90, 0, 4, 0x09);
    h.keyOn(0, 0x80);
    h.render(3000);
    EXPECT_EQ(h.state(0, 4).state, FmChip::kSustain);
    EXPECT_EQ(h.state(0, 4).volOut, 1023);

    // Type 0xB (hold, alternate): held at the inverted level, 1023 ^ 511.
    TestChip a;
    a.sineVoice(0, 4, 1059, 1);
    a.op(0x60, 0, 4, 31);
    a.op(0x70, 0, 4, 31);
    a.op(0x80, 0, 4, 0xFF);
    a.op(0x90, 0, 4, 0x0B);
    a.keyOn(0, 0x80);
    a.render(3000);
    EXPECT_EQ(a.state(0, 4).volOut, 512);
    // Writing the type again clears the inversion while the operator is
    // held; its next sustain step (slow now, so not the first tick of the
    // call) takes the hold again and inverts.
    a.op(0x70, 0, 4, 12);
    a.op(0x90, 0, 4, 0x0B);
    a.render(4410);
    EXPECT_EQ(a.state(0, 4).volOut, 512);
    a.keyOff(0);
    a.render(44100);
    EXPECT_EQ(a.state(0, 4).state, FmChip::kOff);
    EXPECT_EQ(a.state(0, 4).volOut, 1023);  // no inversion once off
}

// ---------------------------------------------------------------------------
TEST(FmChipOutput, ThreeFullChannelsSumWithoutClipping) {
    TestChip t;
    for (int ch = 0; ch < 3; ++ch) {
        t.w(0xB0 + ch, 7);
        for (int k = 1; k <= 4; ++k) t.plainOperator(ch, k, 1, 0);
        t.frequency(ch, 2, 1024);
        t.keyOn(ch);
    }
    const auto out = t.render(20000);
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 98016);
    EXPECT_EQ(*std::min_element(out.begin(), out.end()), -98016);
}

TEST(FmChipOutput, ChannelMaskSelectsChannels) {
    TestChip all, only2;
    for (TestChip* t : {&all, &only2}) {
        for (int ch = 0; ch < 3; ++ch) {
            t->sineVoice(ch, 3 + ch, 900 + 50 * ch, 1);
            t->keyOn(ch);
        }
    }
    TestChip solo;
    solo.sineVoice(1, 4, 950, 1);
    solo.keyOn(1);
    only2.chip->setChannelMask(2);
    EXPECT_EQ(only2.render(3000), solo.render(3000));

    all.chip->setChannelMask(0);
    std::vector<int32_t> buf(3000);
    for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<int32_t>(i) - 1500;
    const auto before = buf;
    all.chip->render(buf.data(), 3000, false);
    EXPECT_EQ(buf, before);
    all.chip->render(buf.data(), 3000, true);
    for (int32_t s : buf) ASSERT_EQ(s, 0);
}

TEST(FmChipOutput, AddModeAccumulates) {
    TestChip a, b;
    for (TestChip* t : {&a, &b}) {
        t->sineVoice(0, 4, 1059, 3);
        t->keyOn(0);
    }
    std::vector<int32_t> buf(2000, 7);
    a.chip->render(buf.data(), 2000, false);
    const auto ref = b.render(2000);
    for (size_t i = 0; i < buf.size(); ++i) ASSERT_EQ(buf[i], ref[i] + 7);
}

TEST(FmChipOutput, SampleRateZeroStopsEverything) {
    TestChip t(kClock, 0);
    EXPECT_EQ(t.chip->envTimerAdd(), 0u);
    t.sineVoice(0, 4, 1059, 1);
    t.keyOn(0);
    for (int32_t s : t.render(2000)) ASSERT_EQ(s, 0);
    EXPECT_EQ(t.state(0, 4).phase, 0u);
    EXPECT_EQ(t.state(0, 4).phaseStep, 0u);
    EXPECT_EQ(t.state(0, 4).volume, 511);  // no envelope tick ever
    EXPECT_EQ(t.chip->envCounter(), 0u);
}

// A chip with nothing sounding counts envelope ticks without listing them;
// the counter, the phases and the sound after a key-on must match a chip
// that had a channel sounding all along (kept on the other chip's mask off).
TEST(FmChipOutput, SilentChipKeepsTimeLikeASoundingOne) {
    TestChip quiet, busy;
    for (TestChip* t : {&quiet, &busy}) {
        t->sineVoice(0, 4, 1059, 1);
        t->sineVoice(1, 3, 700, 2);
    }
    busy.keyOn(1);
    busy.chip->setChannelMask(1);  // channel 2 sounds but is not heard
    for (int n : {1, 37, 441, 882, 5000, 3}) {
        EXPECT_EQ(quiet.render(n), busy.render(n));
        EXPECT_EQ(quiet.chip->envCounter(), busy.chip->envCounter());
    }
    EXPECT_GT(quiet.chip->envCounter(), 2000u);
    EXPECT_EQ(quiet.state(0, 4).phase, busy.state(0, 4).phase);
    quiet.keyOn(0);
    busy.keyOn(0);
    const auto a = quiet.render(3000), b = busy.render(3000);
    EXPECT_EQ(a, b);
    int32_t peak = 0;
    for (int32_t s : a) peak = std::max(peak, std::abs(s));
    EXPECT_GT(peak, 1000);
}

TEST(FmChipOutput, AbsurdRatesStayBounded) {
    // Thousands of envelope ticks per sample and saturated phase steps.
    for (uint32_t rate : {1u, 7u}) {
        TestChip t(kClock, rate);
        t.sineVoice(0, 7, 2047, 15);
        t.keyOn(0);
        for (int32_t s : t.render(600)) ASSERT_LE(std::abs(s), 4 * 8168);
        EXPECT_GT(t.chip->envCounter(), 600u);
    }
}

TEST(FmChipOutput, ModulatorChangesTheCarrier) {
    // Algorithm 0: operator 1 → 2 → 3 → 4. Silencing the modulators leaves a
    // plain sine; sounding them changes the waveform.
    auto run = [](int modulatorTl) {
        TestChip t;
        t.w(0xB0, 0x38);  // algorithm 0, feedback 7
        for (int k = 1; k <= 3; ++k) t.plainOperator(0, k, k, modulatorTl);
        t.plainOperator(0, 4, 1, 0);
        t.frequency(0, 4, 1059);
        t.keyOn(0);
        return t.render(4000);
    };
    TestChip plain;
    plain.sineVoice(0, 4, 1059, 1);
    plain.keyOn(0);
    EXPECT_EQ(run(127), plain.render(4000));
    EXPECT_NE(run(20), plain.render(4000));
}

// ---------------------------------------------------------------------------
TEST(FmChipTuning, MeasuredFrequencyMatchesTheFormula) {
    struct Note {
        int block, fnum, mul;
    } notes[] = {{4, 1059, 1}, {3, 707, 1}, {5, 1413, 1}, {4, 1059, 0}, {2, 890, 3}, {6, 1000, 2}, {1, 1259, 1}};
    for (const Note& n : notes) {
        TestChip t;
        t.sineVoice(0, n.block, n.fnum, n.mul);
        t.keyOn(0);
        const double f = measureFrequency(t.render(2 * 44100), 100);
        const double want = expectedFrequency(n.block, n.fnum, n.mul);
        EXPECT_NEAR(f / want, 1.0, 0.005) << n.block << " " << n.fnum << " " << n.mul << ": " << f << " Hz";
    }
}

TEST(FmChipTuning, OctavesMeasureTwoToOne) {
    double previous = 0;
    for (int block = 1; block <= 6; ++block) {
        TestChip t;
        t.sineVoice(0, block, 1122, 1);
        t.keyOn(0);
        const double f = measureFrequency(t.render(2 * 44100), 100);
        if (previous > 0) {
            EXPECT_NEAR(f / previous, 2.0, 0.01) << block;
        }
        previous = f;
    }
}

// ---------------------------------------------------------------------------
// A register script touching every algorithm, feedback, detune, key scaling,
// SSG types, the channel-3 special mode and key events between render calls.
std::vector<int32_t> scriptedRender(FmChip& chip, const std::vector<int>& chunks) {
    auto w = [&](int r, int v) {
        chip.write(0, static_cast<uint8_t>(r));
        chip.write(1, static_cast<uint8_t>(v));
    };
    std::vector<int32_t> out;
    size_t chunk = 0;
    auto render = [&](int n) {
        while (n > 0) {
            const int c = std::min(n, chunks[chunk++ % chunks.size()]);
            std::vector<int32_t> buf(static_cast<size_t>(c));
            chip.render(buf.data(), c, true);
            out.insert(out.end(), buf.begin(), buf.end());
            n -= c;
        }
    };
    for (int alg = 0; alg < 8; ++alg) {
        for (int ch = 0; ch < 3; ++ch) {
            w(0xB0 + ch, alg | ((alg + ch) % 8) << 3);
            for (int k = 0; k < 4; ++k) {
                const int o = kOpOffset[k] + ch;
                w(0x30 + o, ((k + alg) % 8) << 4 | ((k * 3 + ch) % 16));
                w(0x40 + o, k == 3 ? 4 * ch : 18 + 6 * k + alg);
                w(0x50 + o, (20 + 3 * k + alg) % 32 | (k % 4) << 6);
                w(0x60 + o, 8 + 2 * k + ch);
                w(0x70 + o, 4 + k);
                w(0x80 + o, (3 + k) << 4 | (5 + ch + k));
                w(0x90 + o, (alg >= 4 && k == 3) ? 8 + alg : 0);
            }
            w(0xA4 + ch, (2 + ch + alg % 3) << 3 | (alg & 7));
            w(0xA0 + ch, 0x30 + 29 * alg + 17 * ch);
        }
        w(0x27, alg == 5 ? 0x40 : 0x00);
        w(0xAD, 4 << 3 | 2);
        w(0xA9, 0x11 * alg);
        w(0xAC, 3 << 3 | 4);
        w(0xA8, 0x22);
        w(0xAE, 5 << 3 | 1);
        w(0xAA, 0x80);
        w(0xA2, 0x40 + alg);
        w(0x28, 0xF0);
        render(300);
        w(0x28, 0xF1);
        render(200);
        w(0x28, 0x52);
        render(700);
        w(0x28, 0x00);
        w(0x28, 0x01);
        render(500);
        w(0x28, 0xA2);
        render(400);
    }
    // Pseudo-random writes, including the prescaler and mode registers.
    uint32_t x = 12345;
    auto next = [&x]() {
        x = x * 1103515245u + 12345u;
        return (x >> 16) & 0x7FFF;
    };
    for (int i = 0; i < 400; ++i) {
        const int reg = 0x20 + static_cast<int>(next() % 0x98);
        int value = static_cast<int>(next() & 0xFF);
        if ((reg & 0xF0) == 0x40) value &= 0x3F;
        chip.write(0, static_cast<uint8_t>(reg));
        chip.write(1, static_cast<uint8_t>(value));
        if (next() % 4 == 0) render(1 + static_cast<int>(next() % 200));
    }
    render(2000);
    return out;
}

TEST(FmChipGolden, FixedScriptOutputIsUnchanged) {
    auto chip = FmChip::create(kClock, kRate);
    const auto out = scriptedRender(*chip, {441});
    const uint64_t h = fnv1a(out);
    EXPECT_EQ(h, 0x4c5a6c1aa6620a29ull) << std::hex << "0x" << h << " over " << std::dec << out.size() << " samples";
    int32_t peak = 0;
    for (int32_t s : out) peak = std::max(peak, std::abs(s));
    EXPECT_GT(peak, 10000);  // the script is audible
}

// Pseudo-random register traffic: key events, mode and prescaler changes,
// every operator and frequency register, SSG types, channel masks and render
// calls of random length in both output modes.
std::vector<int32_t> randomTraffic(FmChip& chip, uint32_t seed) {
    uint32_t x = seed;
    auto next = [&x]() {
        x = x * 1103515245u + 12345u;
        return (x >> 16) & 0x7FFF;
    };
    std::vector<int32_t> out;
    for (int step = 0; step < 400; ++step) {
        const uint32_t r = next() % 100;
        int reg;
        int val = static_cast<int>(next() & 0xFF);
        if (r < 10) {
            reg = 0x28;
            val = static_cast<int>((next() & 0xF0) | (next() % 3));
        } else if (r < 12) {
            reg = 0x27;
            val = (next() & 1) ? 0x40 : 0;
        } else if (r < 14) {
            reg = 0x2D + static_cast<int>(next() % 3);
        } else if (r < 50) {
            reg = 0x30 + static_cast<int>(next() % 0x70);
            if ((reg & 0xF0) == 0x40) val &= 0x3F;
        } else if (r < 60) {
            reg = 0xA0 + static_cast<int>(next() % 0x0F);
        } else if (r < 65) {
            reg = 0xB0 + static_cast<int>(next() % 3);
        } else {
            const int n = 1 + static_cast<int>(next() % (seed % 3 == 0 ? 3000 : 300));
            std::vector<int32_t> buf(static_cast<size_t>(n), 5);
            chip.render(buf.data(), n, (next() & 1) != 0);
            out.insert(out.end(), buf.begin(), buf.end());
            continue;
        }
        chip.write(0, static_cast<uint8_t>(reg));
        chip.write(1, static_cast<uint8_t>(val));
        if (next() % 50 == 0) chip.setChannelMask(next() & 7);
    }
    return out;
}

TEST(FmChipGolden, RandomRegisterTrafficOutputIsUnchanged) {
    uint64_t h = 1469598103934665603ull;
    size_t total = 0;
    for (uint32_t seed = 1; seed <= 24; ++seed) {
        auto chip = FmChip::create(kClock, kRate);
        const auto out = randomTraffic(*chip, seed * 7919u);
        h = fnv1a(out, h);
        total += out.size();
    }
    EXPECT_EQ(total, 1940404u);
    EXPECT_EQ(h, 0x30cdc9262d014754ull) << std::hex << "0x" << h;
}

// SSG envelopes repeating and alternating many times inside long render
// calls, on every operator, next to plain envelopes with fast and slow rates
// (levels that move every tick, now and then, or never).
TEST(FmChipGolden, SsgRepeatsInsideLongRendersAreUnchanged) {
    auto chip = FmChip::create(kClock, kRate);
    auto w = [&](int r, int v) {
        chip->write(0, static_cast<uint8_t>(r));
        chip->write(1, static_cast<uint8_t>(v));
    };
    std::vector<int32_t> out;
    for (int round = 0; round < 16; ++round) {
        for (int ch = 0; ch < 3; ++ch) {
            w(0xB0 + ch, (round + ch) % 8 | ((round + 2 * ch) % 8) << 3);
            for (int k = 0; k < 4; ++k) {
                const int o = kOpOffset[k] + ch;
                const bool ssg = (k + ch + round) % 3 != 0;
                w(0x30 + o, (k + 1 + round) % 16);
                w(0x40 + o, 8 * k + round);
                w(0x50 + o, 24 + (k + round) % 8);
                w(0x60 + o, ssg ? 20 + (k + ch) % 12 : (4 + 9 * k + round) % 32);
                w(0x70 + o, ssg ? 18 + (round + k) % 14 : (round * k) % 32);
                w(0x80 + o, ((k + round) % 16) << 4 | (round + ch) % 16);
                w(0x90 + o, ssg ? 8 + (round + k + ch) % 8 : 0);
            }
            w(0xA4 + ch, (1 + (round + ch) % 7) << 3 | ch);
            w(0xA0 + ch, 0x40 + 37 * round + 11 * ch);
            w(0x28, 0xF0 | ch);
        }
        for (const int n : {3000, 1, 2, 4500}) {
            std::vector<int32_t> buf(static_cast<size_t>(n));
            chip->render(buf.data(), n, true);
            out.insert(out.end(), buf.begin(), buf.end());
        }
        if (round % 4 == 3)
            for (int ch = 0; ch < 3; ++ch) w(0x28, ch);
    }
    const uint64_t h = fnv1a(out);
    EXPECT_EQ(h, 0xf18861a9c27d8d92ull) << std::hex << "0x" << h;
}

TEST(FmChipGolden, SameWritesGiveSameSamplesWhateverTheCallSizes) {
    auto a = FmChip::create(kClock, kRate);
    auto b = FmChip::create(kClock, kRate);
    auto c = FmChip::create(kClock, kRate);
    const auto ra = scriptedRender(*a, {441});
    const auto rb = scriptedRender(*b, {441});
    const auto rc = scriptedRender(*c, {1, 7, 2048, 3, 882, 5000});
    EXPECT_EQ(ra, rb);
    EXPECT_EQ(ra, rc);
}

}  // namespace
}  // namespace qv
