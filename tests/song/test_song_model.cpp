#include <gtest/gtest.h>

#include <memory>

#include "song/song.h"

using namespace qv;

TEST(SongModel, NewSongHasOneEntryOfPatternZeroAndEmptyInstruments) {
    auto song = std::make_unique<Song>();
    song->clear();
    EXPECT_EQ(song->order.length, 1);
    EXPECT_EQ(song->order.entries[0].pattern, 0);
    EXPECT_EQ(song->order.loopPosition, 0);
    EXPECT_EQ(song->patterns[0].length, 64);
    EXPECT_TRUE(song->patterns[0].rows[63][5].isEmpty());
    for (int i = 1; i <= kInstruments; ++i) {
        EXPECT_EQ(song->instrument(i).nameText(), "empty");
        EXPECT_TRUE(song->instrumentIsFree(i));
    }
    EXPECT_EQ(song->speedEven, 3);
    EXPECT_EQ(song->speedOdd, 3);
    EXPECT_EQ(song->interleave, 1);
    EXPECT_EQ(song->created, todayPacked());
    EXPECT_EQ(song->saved, 0);
    EXPECT_EQ(song->saveCount, 0);
    EXPECT_EQ(song->firstFreeInstrument(), 1);
}

TEST(SongModel, ShorteningAPatternKeepsTheRowsPastItsLength) {
    auto song = std::make_unique<Song>();
    song->clear();
    Cell c;
    c.setPitch(40);
    song->patterns[3].rows[50][2] = c;
    song->patterns[3].length = 16;
    song->patterns[3].length = 64;
    EXPECT_EQ(song->patterns[3].rows[50][2].pitch(), 40);
    EXPECT_EQ(song->patterns[3].rows[50][2].note, 4);
    EXPECT_EQ(song->patterns[3].rows[50][2].octave, 4);
}

TEST(SongModel, EffectPresenceNeedsEffectOrParam) {
    Cell c;
    EXPECT_FALSE(c.hasEffect());
    c.param = 0x10;
    EXPECT_TRUE(c.hasEffect());
    c.param = 0;
    c.effect = 4;
    EXPECT_TRUE(c.hasEffect());
}

TEST(SongModel, PackedDates) {
    EXPECT_EQ(packDate(5, 3, 2008), 10504);
    EXPECT_EQ(packedDateText(10504), "05.03.08");
    EXPECT_EQ(packedDateText(0), "--.--.--");
    EXPECT_EQ(packedDateText(packDate(31, 12, 2099)), "31.12.99");
}

TEST(SongModel, InstrumentNamesKeepSixteenCharacters) {
    Instrument ins;
    ins.setName("ABCDEFGHIJKLMNOP");
    EXPECT_EQ(ins.nameText(), "ABCDEFGHIJKLMNOP");
    ins.setName("ABCDEFGHIJKLMNOPQ");
    EXPECT_EQ(ins.nameText(), "ABCDEFGHIJKLMNOP");
    EXPECT_FALSE(ins.isDefault());
    ins.setName("empty");
    EXPECT_TRUE(ins.isDefault());
    ins.operators[2].TL = 126;
    EXPECT_FALSE(ins.isDefault());
}

TEST(SongModel, FirstFreeInstrumentSkipsUsedSlots) {
    auto song = std::make_unique<Song>();
    song->clear();
    for (int i = 1; i <= 10; ++i) song->instrument(i).algorithm = 7;
    EXPECT_EQ(song->firstFreeInstrument(), 11);
    for (int i = 11; i <= kInstruments; ++i) song->instrument(i).FB = 1;
    EXPECT_FALSE(song->firstFreeInstrument().has_value());
    song->resetInstrument(200);
    EXPECT_EQ(song->firstFreeInstrument(), 200);
}

TEST(SongModel, TextFieldsAreCutToTheirCapacity) {
    auto song = std::make_unique<Song>();
    song->clear();
    song->setTrackName(std::string(100, 'x'));
    EXPECT_EQ(song->trackNameText().size(), 63u);
    song->setMessage(std::string(500, 'm'));
    EXPECT_EQ(song->messageText().size(), 383u);
}
