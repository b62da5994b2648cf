// The three audition voices on the third chip, poly and mono.
#include <gtest/gtest.h>

#include "sound/audition.h"

namespace qv {
namespace {

class AuditionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(chips.create(kSampleRate, kChipClock, 128));
        Instrument ins;
        for (int k = 0; k < 4; ++k) {
            Operator& op = ins.operators[k];
            op.MULT = k + 2;
            op.DT = -2;
            op.TL = 10 * k;
            op.RS = 3;
            op.AR = 31;
            op.DR = 7;
            op.SR = 4;
            op.RR = 15;
            op.SL = 9;
            op.SSGEG = k == 3 ? 11 : 0;
        }
        ins.algorithm = 5;
        ins.FB = 3;
        audition.setInstrument(ins);
    }
    int reg(int r) { return chips.chip(2)->registerValue(static_cast<uint8_t>(r)); }
    // Marks the key register so that a later key write shows.
    void markKeys() { chips.writeRegister(2, 0x28, 0x03); }
    // The note a voice's frequency registers sound.
    int soundingNote(int voice) {
        const int high = reg(0xA4 + voice), low = reg(0xA0 + voice);
        const int fnum = (high & 7) << 8 | low;
        for (int s = 0; s < 12; ++s)
            if (tables.noteFrequency(32 * s) == fnum) return (high >> 3) * 12 + s;
        return -1;
    }

    ChipPair chips;
    NoteTables tables;
    Audition audition{chips, tables};
};

TEST_F(AuditionTest, AVoiceLoadsTheInstrumentSetsThePitchAndKeysOn) {
    EXPECT_TRUE(audition.auditionStart(7, 37, true));
    EXPECT_EQ(audition.voiceNote(0), 37);
    EXPECT_EQ(audition.voiceKey(0), 7);
    for (int k = 0; k < 4; ++k) {
        const int o = 4 * k;
        EXPECT_EQ(reg(0x30 + o), 6 << 4 | (k + 2));
        EXPECT_EQ(reg(0x40 + o), 10 * k);
        EXPECT_EQ(reg(0x50 + o), 31 | 3 << 6);
        EXPECT_EQ(reg(0x60 + o), 7);
        EXPECT_EQ(reg(0x70 + o), 4);
        EXPECT_EQ(reg(0x80 + o), 15 | 9 << 4);
        EXPECT_EQ(reg(0x90 + o), k == 3 ? 11 : 0);
    }
    EXPECT_EQ(reg(0xB0), 5 | 3 << 3);
    EXPECT_EQ(reg(0xA4), (749 >> 8) | 3 << 3);  // C#, block 3
    EXPECT_EQ(reg(0xA0), 749 & 0xFF);
    EXPECT_EQ(reg(0x28), 0xF0);
}

TEST_F(AuditionTest, PolyTakesThreeNotesDropsAFourthAndRefusesADuplicate) {
    EXPECT_TRUE(audition.auditionStart(1, 40, true));
    EXPECT_TRUE(audition.auditionStart(2, 44, true));
    EXPECT_FALSE(audition.auditionStart(9, 40, true));
    EXPECT_TRUE(audition.auditionStart(3, 47, true));
    EXPECT_EQ(soundingNote(1), 44);
    EXPECT_EQ(soundingNote(2), 47);
    EXPECT_EQ(reg(0x28), 0xF2);
    markKeys();
    EXPECT_FALSE(audition.auditionStart(4, 50, true));
    EXPECT_EQ(reg(0x28), 0x03);
    // Releasing the middle voice frees it for the next note.
    EXPECT_TRUE(audition.auditionRelease(2));
    EXPECT_EQ(reg(0x28), 0x01);
    EXPECT_EQ(audition.voiceNote(1), -1);
    EXPECT_TRUE(audition.auditionStart(4, 50, true));
    EXPECT_EQ(audition.voiceNote(1), 50);
    EXPECT_EQ(soundingNote(1), 50);
}

TEST_F(AuditionTest, MonoKeepsTheSoundingNoteAndReplacesOthersOnVoiceZero) {
    EXPECT_TRUE(audition.auditionStart(1, 40, false));
    markKeys();
    EXPECT_TRUE(audition.auditionStart(2, 40, false));  // no retrigger
    EXPECT_EQ(reg(0x28), 0x03);
    EXPECT_EQ(audition.voiceKey(0), 1);
    EXPECT_TRUE(audition.auditionStart(2, 52, false));
    EXPECT_EQ(reg(0x28), 0xF0);
    EXPECT_EQ(audition.voiceNote(0), 52);
    EXPECT_EQ(audition.voiceKey(0), 2);
    EXPECT_EQ(soundingNote(0), 52);
    EXPECT_EQ(audition.voiceNote(1), -1);
}

TEST_F(AuditionTest, MonoPitchChangeGlidesWithoutKeyOn) {
    audition.auditionStart(1, 40, false);
    markKeys();
    EXPECT_FALSE(audition.auditionSetPitch(45, true));
    EXPECT_EQ(soundingNote(0), 40);
    EXPECT_TRUE(audition.auditionSetPitch(45, false));
    EXPECT_EQ(soundingNote(0), 45);
    EXPECT_EQ(reg(0x28), 0x03);
    EXPECT_TRUE(audition.auditionSetPitch(200, false));
    EXPECT_EQ(soundingNote(0), 45);
    // The voice still belongs to the key that started it.
    EXPECT_TRUE(audition.auditionRelease(1));
    EXPECT_EQ(reg(0x28), 0x00);
}

TEST_F(AuditionTest, MonoReleaseReturnsToTheMostRecentHeldKeyWithoutAttack) {
    audition.auditionStart(1, 40, false);
    audition.auditionStart(2, 44, false);
    audition.auditionStart(3, 47, false);
    markKeys();
    // A key under the top goes without a sound change.
    EXPECT_FALSE(audition.auditionRelease(2));
    EXPECT_EQ(soundingNote(0), 47);
    // The top goes: back to the most recent key still held, no key-on.
    EXPECT_TRUE(audition.auditionRelease(3));
    EXPECT_EQ(reg(0x28), 0x03);
    EXPECT_EQ(audition.voiceNote(0), 40);
    EXPECT_EQ(audition.voiceKey(0), 1);
    EXPECT_EQ(soundingNote(0), 40);
    // The last held key ends the note.
    EXPECT_TRUE(audition.auditionRelease(1));
    EXPECT_EQ(reg(0x28), 0x00);
    EXPECT_EQ(audition.voiceNote(0), -1);
    // Poly mode knows no legato, and a release-all forgets the held keys.
    audition.auditionStart(1, 40, false);
    audition.auditionStart(2, 44, false);
    audition.auditionReleaseAll();
    audition.auditionStart(3, 47, false);
    EXPECT_TRUE(audition.auditionRelease(3));
    EXPECT_EQ(audition.voiceNote(0), -1);
    audition.auditionStart(1, 40, false);
    audition.auditionStart(2, 44, true);
    EXPECT_TRUE(audition.auditionRelease(2));
    EXPECT_EQ(audition.voiceNote(0), 40);
    EXPECT_EQ(audition.voiceNote(1), -1);
}

TEST_F(AuditionTest, ReleaseByKeyByNoteAndAll) {
    audition.auditionStart(5, 30, true);
    audition.auditionStart(5, 31, true);
    audition.auditionStart(6, 32, true);
    EXPECT_FALSE(audition.auditionRelease(8));
    EXPECT_TRUE(audition.auditionRelease(5));
    EXPECT_EQ(audition.voiceNote(0), -1);
    EXPECT_EQ(audition.voiceNote(1), -1);
    EXPECT_EQ(audition.voiceNote(2), 32);
    EXPECT_FALSE(audition.auditionRelease(-1, 30));
    EXPECT_TRUE(audition.auditionRelease(-1, 32));
    EXPECT_FALSE(audition.auditionReleaseAll());
    audition.auditionStart(1, 10, true);
    EXPECT_TRUE(audition.auditionReleaseAll());
    EXPECT_EQ(reg(0x28), 0x00);
    EXPECT_FALSE(audition.auditionReleaseAll());
}

TEST_F(AuditionTest, NotesOutsideTheEightOctavesAreNotPlayed) {
    markKeys();
    EXPECT_TRUE(audition.auditionStart(1, 96, true));
    EXPECT_TRUE(audition.auditionStart(1, -1, false));
    EXPECT_EQ(audition.voiceNote(0), -1);
    EXPECT_EQ(reg(0x28), 0x03);
    EXPECT_TRUE(audition.auditionStart(1, 95, true));
    EXPECT_EQ(soundingNote(0), 95);
}

TEST_F(AuditionTest, WritesOnlyTheAuditionChip) {
    audition.auditionStart(1, 40, true);
    EXPECT_EQ(chips.chip(0)->registerValue(0xB0), 0);
    EXPECT_EQ(chips.chip(1)->registerValue(0xB0), 0);
    EXPECT_EQ(chips.queue().count, 0);
}

}  // namespace
}  // namespace qv
