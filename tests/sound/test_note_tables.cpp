// Tuning tables: the F-number table of both clocks, pitch to block and
// F-number, the vibrato table and the detune coding.
#include <gtest/gtest.h>

#include "sound/note_tables.h"

namespace qv {
namespace {

TEST(NoteTables, LiveClockTableStartsAtC707AndEndsBelowTheNextC) {
    NoteTables t(3500000);
    EXPECT_EQ(t.noteFrequency(0), 707);
    EXPECT_EQ(t.noteFrequency(1), 708);
    EXPECT_EQ(t.noteFrequency(2), 709);
    EXPECT_EQ(t.noteFrequency(3), 710);
    EXPECT_EQ(t.noteFrequency(4), 712);
    EXPECT_EQ(t.noteFrequency(32), 749);
    EXPECT_EQ(t.noteFrequency(383), 1410);
    // Every semitone starts on its base value and the table only rises.
    const int base[12] = {707, 749, 793, 840, 890, 943, 999, 1059, 1122, 1189, 1259, 1334};
    for (int k = 0; k < 12; ++k) EXPECT_EQ(t.noteFrequency(32 * k), base[k]) << k;
    for (int i = 1; i < 384; ++i) EXPECT_GT(t.noteFrequency(i), t.noteFrequency(i - 1)) << i;
}

TEST(NoteTables, MegaDriveClockHasItsOwnBaseAndRebuildsBack) {
    NoteTables t;
    EXPECT_EQ(t.clock(), 3500000u);
    t.buildNoteTables(3835221);
    EXPECT_EQ(t.clock(), 3835221u);
    EXPECT_EQ(t.noteFrequency(0), 645);
    EXPECT_EQ(t.noteFrequency(32 * 11), 1217);
    // 1217 + 31 * 73 / 32 = 1287.71875
    EXPECT_EQ(t.noteFrequency(383), 1287);
    t.buildNoteTables(3500000);
    EXPECT_EQ(t.noteFrequency(383), 1410);
}

TEST(NoteTables, TableStepsAreExactThirtySecondsTruncated) {
    NoteTables t;
    // Semitone C: 707 + j * 42 / 32, truncated.
    for (int j = 0; j < 32; ++j) EXPECT_EQ(t.noteFrequency(j), 707 + j * 42 / 32) << j;
    // Semitone B: 1334 + j * 79 / 32.
    for (int j = 0; j < 32; ++j) EXPECT_EQ(t.noteFrequency(352 + j), 1334 + j * 79 / 32) << j;
}

TEST(NoteTables, PitchGivesBlockAndFNumberAndIsClamped) {
    NoteTables t;
    ChipFrequency f = t.frequency(0);
    EXPECT_EQ(f.block, 0);
    EXPECT_EQ(f.fnumber, 707);
    f = t.frequency(3071);
    EXPECT_EQ(f.block, 7);
    EXPECT_EQ(f.fnumber, 1410);
    EXPECT_EQ(f.high(), (1410 >> 8) | 7 << 3);
    EXPECT_EQ(f.low(), 1410 & 0xFF);
    // Out of range pitches sound at the ends.
    EXPECT_EQ(t.frequency(-500).fnumber, 707);
    EXPECT_EQ(t.frequency(-500).block, 0);
    EXPECT_EQ(t.frequency(99999).block, 7);
    EXPECT_EQ(t.frequency(99999).fnumber, 1410);
    // An octave up is the same F-number one block higher.
    for (int p = 0; p + 384 <= 3071; p += 97) {
        EXPECT_EQ(t.frequency(p + 384).fnumber, t.frequency(p).fnumber);
        EXPECT_EQ(t.frequency(p + 384).block, t.frequency(p).block + 1);
    }
}

TEST(NoteTables, VibratoTableIsASineScaledByTwiceTheDepth) {
    NoteTables t;
    for (int i = 0; i < 32; ++i) EXPECT_EQ(t.vibrato(0, i), 0);
    EXPECT_EQ(t.vibrato(15, 8), 30);
    EXPECT_EQ(t.vibrato(15, 24), -30);
    EXPECT_EQ(t.vibrato(15, 0), 0);
    EXPECT_EQ(t.vibrato(15, 16), 0);
    EXPECT_EQ(t.vibrato(15, 2), 11);   // 30 * sin(pi / 8) = 11.48
    EXPECT_EQ(t.vibrato(15, 28), -21); // -21.2, truncated toward zero
    EXPECT_EQ(t.vibrato(1, 8), 2);
    for (int d = 0; d < 16; ++d)
        for (int i = 0; i < 16; ++i) EXPECT_EQ(t.vibrato(d, i), -t.vibrato(d, i + 16)) << d << "," << i;
}

}  // namespace
}  // namespace qv
