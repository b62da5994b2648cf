// The Player reading rows: what each channel sounds after a row, frame by
// frame, decoded back from the register writes of each frame.
#include <random>

#include "sound/test_player_support.h"

namespace qvtest {
namespace {

class PlayerRows : public PlayerTest {
protected:
    void setSpeed(int even, int odd, int interleave = 1) {
        song->speedEven = even;
        song->speedOdd = odd;
        song->interleave = interleave;
    }
};

// ------------------------------------------------------------- notes, keys

TEST_F(PlayerRows, SixChannelsEachSoundTheirOwnNoteInstrumentAndVolume) {
    setSpeed(1, 1);
    const int notes[6] = {0, 4, 7, 11, 2, 9};
    for (int c = 0; c < 6; ++c) cell(0, c) = noteCell(notes[c], 2 + c, c + 1, 4 + 5 * c);
    startPlaying();
    const DecodedFrame f = frame();
    for (int c = 0; c < 6; ++c) {
        SCOPED_TRACE(c);
        const ChannelFrame& ch = f.channel[c];
        EXPECT_EQ(ch.keys, (std::vector<int>{0, 15}));  // off before the new note, then all operators on
        EXPECT_TRUE(ch.loaded);
        EXPECT_EQ(ch.instrument, c + 1);
        EXPECT_EQ(ch.pitch, enginePitch(notes[c], 2 + c));
        // Algorithm 4: operators 3 and 4 are the carriers; 1 and 2 keep TL 0.
        EXPECT_EQ(ch.levels[0], 0);
        EXPECT_EQ(ch.levels[1], 0);
        EXPECT_EQ(ch.levels[2], carrierLevel(4 + 5 * c));
        EXPECT_EQ(ch.levels[3], carrierLevel(4 + 5 * c));
    }
    // Channels 4-6 are written to the second chip, 1-3 to the first.
    for (const auto& w : f.writes) {
        if (w.reg == 0x28) continue;
        EXPECT_LT(w.chip, 2);
    }
    EXPECT_EQ(f.last(1, 0xA0 + 2), player->noteTables().frequency(enginePitch(9, 7)).low());
}

TEST_F(PlayerRows, InstrumentLoadSilencesCarriersUntilTheEndAndKeysOnLast) {
    setSpeed(1, 1);
    cell(0, 1) = noteCell(0, 4, 2, 16);
    startPlaying();
    const DecodedFrame f = frame();
    ASSERT_FALSE(f.writes.empty());
    EXPECT_EQ(f.writes.front().reg, 0x28);
    EXPECT_EQ(f.writes.front().value, 0x01);
    EXPECT_EQ(f.writes.back().reg, 0x28);
    EXPECT_EQ(f.writes.back().value, 0xF1);
    // The first level written to a carrier is 0xFF, the last its real level.
    int firstCarrier = -1, lastCarrier = -1;
    for (const auto& w : f.writes) {
        if (w.reg == 0x4D) {
            if (firstCarrier < 0) firstCarrier = w.value;
            lastCarrier = w.value;
        }
    }
    EXPECT_EQ(firstCarrier, 0xFF);
    EXPECT_EQ(lastCarrier, 17);  // volume 16: factor 110 turns level 0 into 17
    // Pitch high byte before low byte.
    int high = -1, low = -1;
    for (size_t i = 0; i < f.writes.size(); ++i) {
        if (f.writes[i].reg == 0xA5) high = static_cast<int>(i);
        if (f.writes[i].reg == 0xA1) low = static_cast<int>(i);
    }
    EXPECT_LT(high, low);
}

TEST_F(PlayerRows, SameInstrumentOnlyUpdatesVolumeNewInstrumentReloads) {
    setSpeed(1, 1);
    cell(0, 0) = noteCell(0, 4, 2, 16);
    cell(1, 0) = noteCell(4, 4);          // no instrument: the loaded one stays
    cell(2, 0) = noteCell(7, 4, 2, 31);   // same number: volume only
    cell(3, 0) = noteCell(9, 4, 3);       // new instrument: full load
    cell(4, 0) = noteCell(9, 4, 0, 0, 14, 0xE0);  // EE0: load the current one again
    startPlaying();
    frame();
    DecodedFrame f = frame();
    EXPECT_FALSE(f.channel[0].loaded);
    EXPECT_EQ(f.channel[0].levelsWritten, 0b1100u);  // carriers, still at volume 16
    EXPECT_EQ(f.channel[0].levels[3], 17);
    EXPECT_EQ(f.channel[0].pitch, enginePitch(4, 4));
    EXPECT_EQ(f.channel[0].keys, (std::vector<int>{0, 15}));
    f = frame();
    EXPECT_FALSE(f.channel[0].loaded);
    EXPECT_EQ(f.channel[0].levels[3], 0);
    f = frame();
    EXPECT_TRUE(f.channel[0].loaded);
    EXPECT_EQ(f.channel[0].instrument, 3);
    EXPECT_EQ(f.channel[0].levels[3], 0);  // volume 31 carried over
    f = frame();
    EXPECT_TRUE(f.channel[0].loaded);
    EXPECT_EQ(f.channel[0].instrument, 3);
}

TEST_F(PlayerRows, FirstNoteAfterStartLoadsTheInstrumentFoundBehindIt) {
    setSpeed(1, 1);
    cell(0, 0).instrument = 5;
    cell(0, 0).volume = 10;
    cell(2, 0) = noteCell(0, 3);
    startPlaying(0, 2);
    const DecodedFrame f = frame();
    EXPECT_TRUE(f.channel[0].loaded);
    EXPECT_EQ(f.channel[0].instrument, 5);
    EXPECT_EQ(f.channel[0].levels[3], carrierLevel(10));
}

TEST_F(PlayerRows, KeyOffIgnoresVolumeButTakesItsEffect) {
    setSpeed(3, 3);
    cell(0, 0) = noteCell(7, 4, 1, 31);
    cell(1, 0) = keyOffCell(5, 1, 0x10);
    startPlaying();
    frame();
    frame();
    frame();
    const DecodedFrame f = frame();
    EXPECT_EQ(f.channel[0].keys, (std::vector<int>{0}));
    EXPECT_EQ(f.channel[0].levelsWritten, 0u);
    EXPECT_EQ(player->channel(0).channelVolume, 248);
    EXPECT_EQ(f.channel[0].pitch, enginePitch(7, 4) + 16);  // portamento up still runs
}

TEST_F(PlayerRows, VolumeOnlyCellUpdatesCarriersAndVolumeOneIsSilence) {
    setSpeed(1, 1);
    cell(0, 0) = noteCell(0, 4, 1, 31);
    cell(1, 0) = effectCell(0, 0, 1);
    startPlaying();
    frame();
    const DecodedFrame f = frame();
    EXPECT_TRUE(f.channel[0].keys.empty());
    EXPECT_EQ(f.channel[0].levelsWritten, 0b1100u);
    EXPECT_EQ(f.channel[0].levels[2], 127);
    EXPECT_EQ(f.channel[0].levels[3], 127);
}

// ------------------------------------------------------------------ effects

TEST_F(PlayerRows, ArpeggioCyclesAndEveryEffectZeroCellRestartsTheCycle) {
    setSpeed(4, 4);
    const int base = enginePitch(0, 4);
    cell(0, 0) = noteCell(0, 4, 1, 0, 0, 0x47);
    // row 1 empty: effect 0 restarts the cycle, the arpeggio keeps running
    cell(2, 0) = effectCell(0, 0x03);
    cell(3, 0) = noteCell(2, 4);
    startPlaying();
    const int expected[3][4] = {{0, 4, 7, 0}, {0, 4, 7, 0}, {0, 0, 3, 0}};
    for (int r = 0; r < 3; ++r) {
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(r * 4 + i);
            const DecodedFrame f = frame();
            EXPECT_TRUE(f.channel[0].pitchWritten);  // written every frame, even unchanged
            EXPECT_EQ(f.channel[0].pitch, base + expected[r][i] * 32);
        }
    }
    DecodedFrame f = frame();  // the new note ends the arpeggio
    EXPECT_EQ(f.channel[0].pitch, enginePitch(2, 4));
    EXPECT_EQ(player->channel(0).arpeggioParam, 255);
    f = frame();
    EXPECT_FALSE(f.channel[0].pitchWritten);
}

TEST_F(PlayerRows, PortamentoUpAndDownMoveEveryFrameAndStopAtTheEnds) {
    setSpeed(3, 3);
    cell(0, 0) = noteCell(0, 4, 1, 0, 1, 0x10);
    cell(1, 0) = effectCell(1, 0);  // parameter 0 keeps the speed
    cell(2, 0) = noteCell(11, 8, 0, 0, 1, 0xFF);
    cell(3, 0) = noteCell(2, 1, 0, 0, 2, 0x20);
    startPlaying();
    const int base = enginePitch(0, 4);
    for (int i = 1; i <= 6; ++i) EXPECT_EQ(frame().channel[0].pitch, base + 16 * i);
    EXPECT_EQ(frame().channel[0].pitch, kMaxEnginePitch);  // B-8 + 255 stops at 3071
    EXPECT_FALSE(frame().channel[0].pitchWritten);
    frame();
    EXPECT_EQ(frame().channel[0].pitch, 32);  // D-1 = 64, down 32 a frame
    EXPECT_EQ(frame().channel[0].pitch, 0);
    EXPECT_FALSE(frame().channel[0].pitchWritten);
}

TEST_F(PlayerRows, TonePortamentoGlidesWithoutKeyingAndReachesItsTarget) {
    setSpeed(3, 3);
    const int from = enginePitch(0, 4), to = enginePitch(4, 4);
    cell(0, 0) = noteCell(0, 4, 1);
    cell(1, 0) = noteCell(4, 4, 0, 0, 3, 0x20);
    cell(2, 0) = effectCell(3, 0);
    startPlaying();
    frame(), frame(), frame();
    for (int i = 1; i <= 3; ++i) {
        const DecodedFrame f = frame();
        EXPECT_TRUE(f.channel[0].keys.empty());
        EXPECT_EQ(f.channel[0].pitch, from + 32 * i);  // the row's first frame moves too
    }
    EXPECT_EQ(frame().channel[0].pitch, to);
    EXPECT_FALSE(frame().channel[0].pitchWritten);
    EXPECT_EQ(player->channel(0).pitch, to);
}

TEST_F(PlayerRows, NoteWithEffectFiveKeysOnAndGlidesTowardThePreviousTarget) {
    setSpeed(2, 2);
    cell(0, 0) = noteCell(0, 4, 1);
    cell(1, 0) = noteCell(4, 4, 0, 0, 3, 0x40);  // target E-4
    cell(2, 0) = noteCell(0, 5, 0, 0, 5, 0x00);  // C-5, then down toward E-4
    startPlaying();
    for (int i = 0; i < 4; ++i) frame();
    const DecodedFrame f = frame();
    EXPECT_EQ(f.channel[0].keys, (std::vector<int>{0, 15}));
    EXPECT_EQ(f.channel[0].pitch, enginePitch(0, 5) - 64);
    EXPECT_EQ(frame().channel[0].pitch, enginePitch(0, 5) - 128);
}

TEST_F(PlayerRows, VibratoFollowsTheTableAndEndsWithItsEffect) {
    setSpeed(6, 6);
    const int base = enginePitch(0, 4);
    cell(0, 0) = noteCell(0, 4, 1, 0, 4, 0x4F);
    cell(1, 0) = effectCell(4, 0x03);  // depth 3, speed 4 remembered
    // row 2 empty: no vibrato any more
    const NoteTables& t = player->noteTables();
    startPlaying();
    EXPECT_EQ(frame().channel[0].pitch, base);  // phase 0: offset 0
    for (int i = 1; i < 6; ++i) {
        SCOPED_TRACE(i);
        const DecodedFrame f = frame();
        EXPECT_EQ(f.channel[0].pitch, base + t.vibrato(15, 2 * i));
    }
    EXPECT_EQ(player->channel(0).vibratoOffset, 27);
    EXPECT_EQ(frame().channel[0].pitch, base + t.vibrato(3, 12));  // phase runs on: 24 / 2
    EXPECT_EQ(player->channel(0).vibratoParam, 0x43);
    for (int i = 0; i < 5; ++i) frame();
    const DecodedFrame f = frame();  // new row, no vibrato: offset and phase cleared
    EXPECT_EQ(f.channel[0].pitch, base);
    EXPECT_EQ(player->channel(0).vibratoPhase, 0);
}

TEST_F(PlayerRows, VolumeSlideScalesCarriersFrameByFrame) {
    setSpeed(3, 3);
    cell(0, 0) = noteCell(0, 4, 1, 31, 10, 0x08);
    cell(1, 0) = effectCell(10, 0xF0);
    startPlaying();
    DecodedFrame f = frame();
    EXPECT_EQ(player->channel(0).channelVolume, 240);
    EXPECT_EQ(f.channel[0].levels[3], 127 - 126);
    f = frame();
    EXPECT_EQ(f.channel[0].levelsWritten, 0b1100u);  // carriers only
    EXPECT_EQ(f.channel[0].levels[3], 127 - 125);
    frame();
    EXPECT_EQ(player->channel(0).channelVolume, 224);
    frame();
    EXPECT_EQ(player->channel(0).channelVolume, 239);
    frame();
    EXPECT_EQ(player->channel(0).channelVolume, 248);  // up by 15, stops at 248
    f = frame();
    EXPECT_EQ(f.channel[0].levelsWritten, 0u);  // nothing left to slide
}

TEST_F(PlayerRows, SlideToSilenceWritesLevel127) {
    setSpeed(8, 8);
    cell(0, 0) = noteCell(0, 4, 1, 2, 10, 0x0F);  // 16 - 15 = 1, then 0
    startPlaying();
    DecodedFrame f = frame();
    EXPECT_EQ(f.channel[0].levels[3], 127);
    f = frame();
    EXPECT_EQ(player->channel(0).channelVolume, 0);
    EXPECT_EQ(f.channel[0].levels[3], 127);
    EXPECT_EQ(frame().channel[0].levelsWritten, 0u);
}

TEST_F(PlayerRows, RetriggerCutAndDelayCountFramesOfTheRow) {
    setSpeed(6, 6);
    cell(0, 0) = noteCell(0, 4, 1, 0, 14, 0x92);
    cell(0, 1) = noteCell(0, 4, 1, 0, 14, 0xC2);
    cell(0, 2) = noteCell(0, 4, 1, 0, 14, 0xD3);
    cell(0, 3) = noteCell(0, 4, 1, 0, 14, 0xD0);  // delay 0: never keyed on
    startPlaying();
    std::array<std::vector<int>, 4> keys[6];
    for (int i = 0; i < 6; ++i) {
        const DecodedFrame f = frame();
        for (int c = 0; c < 4; ++c) keys[i][c] = f.channel[c].keys;
    }
    using V = std::vector<int>;
    EXPECT_EQ(keys[0][0], (V{0, 15, 0, 15}));
    EXPECT_EQ(keys[1][0], V{});
    EXPECT_EQ(keys[2][0], (V{0, 15}));
    EXPECT_EQ(keys[4][0], (V{0, 15}));
    EXPECT_EQ(keys[0][1], (V{0, 15}));
    EXPECT_EQ(keys[2][1], (V{0}));
    EXPECT_EQ(keys[3][1], V{});
    EXPECT_EQ(keys[0][2], (V{0}));
    EXPECT_EQ(keys[3][2], (V{0, 15}));
    for (int i = 0; i < 6; ++i) EXPECT_FALSE(std::count(keys[i][3].begin(), keys[i][3].end(), 15)) << i;
    // The counters belong to their row.
    EXPECT_EQ(player->channel(1).cutFrame, 2);
    frame();
    EXPECT_EQ(player->channel(1).cutFrame, -1);
}

TEST_F(PlayerRows, OperatorKeyOnReplacesTheNoteKeyOn) {
    setSpeed(1, 1);
    cell(0, 4) = noteCell(0, 4, 1, 0, 14, 0x55);
    startPlaying();
    const DecodedFrame f = frame();
    EXPECT_EQ(f.channel[4].keys, (std::vector<int>{0, 5}));
    EXPECT_EQ(f.last(1, 0x28), 0x51);
}

TEST_F(PlayerRows, ChannelThreeModeWritesFourOperatorFrequencies) {
    setSpeed(1, 1);
    cell(0, 2) = noteCell(0, 4, 1, 0, 11, 0x73);
    cell(1, 2) = effectCell(11, 0x73);  // already on: no mode write
    cell(2, 2) = effectCell(11, 0x00);
    cell(3, 2) = noteCell(0, 4);
    startPlaying();
    DecodedFrame f = frame();
    ASSERT_FALSE(f.writes.empty());
    EXPECT_EQ(f.writes.front().reg, 0x27);
    EXPECT_EQ(f.writes.front().value, 0x80);
    const int p = enginePitch(0, 4);
    EXPECT_EQ(decoder->pitchOf(0, 0xA6, 0xA2), p);                 // C-4
    EXPECT_EQ(decoder->pitchOf(0, 0xAC, 0xA8), p + 3 * 32);        // D#-4
    EXPECT_EQ(decoder->pitchOf(0, 0xAE, 0xAA), p + 7 * 32);        // G-4
    EXPECT_EQ(decoder->pitchOf(0, 0xAD, 0xA9), enginePitch(0, 5)); // C-5
    EXPECT_EQ(f.count(0, 0xA4), 0);
    f = frame();
    EXPECT_EQ(f.count(0, 0x27), 0);
    f = frame();
    EXPECT_EQ(f.last(0, 0x27), 0x00);
    EXPECT_EQ(player->channel3Mode(), 0);
    f = frame();
    EXPECT_EQ(f.count(0, 0xA6), 1);
    EXPECT_EQ(f.count(0, 0xAC), 0);
}

TEST_F(PlayerRows, LevelEffectsSetOneOperatorAndRescaleTheCarriers) {
    setSpeed(1, 1);
    song->instrument(6) = makeInstrument(6, 0);  // algorithm 0: only operator 4 carries
    cell(0, 0) = noteCell(0, 4, 6, 16, 8, 0x20);
    cell(1, 0) = effectCell(9, 0x33);
    cell(2, 0) = effectCell(13, 0x10);
    cell(3, 0) = effectCell(12, 0x40, 31);
    startPlaying();
    DecodedFrame f = frame();
    EXPECT_EQ(f.channel[0].levels[0], 0x20);
    EXPECT_EQ(f.channel[0].levels[3], 17);
    f = frame();
    EXPECT_EQ(f.channel[0].levelsWritten, 0b1010u);
    EXPECT_EQ(f.channel[0].levels[1], 0x33);
    EXPECT_EQ(f.channel[0].levels[3], 17);
    f = frame();
    EXPECT_EQ(f.channel[0].levelsWritten, 0b1000u);
    EXPECT_EQ(f.channel[0].levels[3], 127 - 110 * (127 - 16) / 127);
    f = frame();  // volume in the cell: one update, not two
    EXPECT_EQ(f.channel[0].levelsWritten, 0b1100u);
    EXPECT_EQ(f.count(0, 0x48), 1);
    EXPECT_EQ(f.channel[0].levels[2], 0x40);
    EXPECT_EQ(f.channel[0].levels[3], 0);
}

TEST_F(PlayerRows, ExtendedEffectsWriteMultiplierFeedbackAndPan) {
    setSpeed(1, 1);
    cell(0, 1) = noteCell(0, 4, 2, 0, 14, 0x1C);  // load with operator 2's MULT replaced
    cell(1, 1) = effectCell(14, 0x07);
    cell(2, 1) = effectCell(14, 0x2A);
    cell(3, 1) = effectCell(14, 0x3F);
    cell(4, 1) = effectCell(14, 0xF5);
    cell(5, 1) = effectCell(14, 0x81);
    cell(6, 1) = effectCell(14, 0x82);
    cell(7, 1) = effectCell(14, 0x8F);
    startPlaying();
    DecodedFrame f = frame();
    EXPECT_EQ(f.last(0, 0x35), 0x0C);  // operator 2: DT 0, MULT 12 (load and effect agree)
    EXPECT_EQ(f.count(0, 0x35), 2);
    EXPECT_EQ(f.last(0, 0x31), 5 << 4 | 1);  // operator 1 keeps MULT 1 (DT -1 = code 5)
    EXPECT_EQ(frame().last(0, 0x31), 5 << 4 | 7);
    EXPECT_EQ(frame().last(0, 0x39), 1 << 4 | 10);
    EXPECT_EQ(frame().last(0, 0x3D), 2 << 4 | 15);
    EXPECT_EQ(frame().last(0, 0xB1), 5 << 3 | 4);
    EXPECT_EQ(frame().last(0, 0xB5), 0x80);
    EXPECT_EQ(frame().last(0, 0xB5), 0x40);
    EXPECT_EQ(frame().last(0, 0xB5), 0xC0);
}

TEST_F(PlayerRows, FeedbackEffectOnANoteLoadsWithThatFeedback) {
    setSpeed(1, 1);
    cell(0, 3) = noteCell(0, 4, 2, 0, 14, 0xF3);
    startPlaying();
    const DecodedFrame f = frame();
    EXPECT_EQ(f.count(1, 0xB0), 2);
    for (const auto& w : f.writes)
        if (w.chip == 1 && w.reg == 0xB0) {
            EXPECT_EQ(w.value, 3 << 3 | 4);
        }
}

// ------------------------------------------------------------ solo, stopping

TEST_F(PlayerRows, SoloChannelAloneKeysOnButEveryChannelIsPrepared) {
    setSpeed(1, 1);
    cell(0, 0) = noteCell(0, 4, 1, 0, 14, 0x91);
    cell(0, 1) = noteCell(4, 4, 2);
    cell(0, 2) = noteCell(7, 4, 3);
    startPlaying(0, 0, false, false, false, 1);
    const DecodedFrame f = frame();
    EXPECT_EQ(f.channel[1].keys, (std::vector<int>{0, 15}));
    EXPECT_EQ(f.channel[2].keys, (std::vector<int>{0}));
    EXPECT_TRUE(f.channel[2].loaded);
    EXPECT_EQ(f.channel[2].pitch, enginePitch(7, 4));
    // A retrigger keys on whatever the solo channel.
    EXPECT_EQ(f.channel[0].keys, (std::vector<int>{0, 0, 15}));
}

TEST_F(PlayerRows, StopAfterRowQueuesTheRowOnlyAndStops) {
    setSpeed(3, 3);
    cell(2, 0) = noteCell(0, 4, 1, 0, 1, 0x10);
    startPlaying(0, 2, true);
    const DecodedFrame f = frame();
    EXPECT_EQ(f.channel[0].pitch, enginePitch(0, 4));  // no frame effects
    EXPECT_EQ(f.channel[0].keys, (std::vector<int>{0, 15}));
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->position().row, 2);
    const int queued = chips.queue().count;
    EXPECT_FALSE(player->tick());
    EXPECT_EQ(chips.queue().count, queued);  // kept for the renderer
}

}  // namespace
}  // namespace qvtest

namespace qvtest {
namespace {

// Damaged data (as a broken file or a foreign import could leave it) must
// neither crash the Player nor make it read outside the Song.
TEST_F(PlayerRows, DamagedSongDataStaysInsideTheSong) {
    std::mt19937 rng(12345);
    auto any = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int p = 0; p < 4; ++p) {
        song->patterns[p].length = any(-5, 300);
        for (int r = 0; r < kRows; ++r) {
            for (int c = 0; c < kChannels; ++c) {
                Cell& cell = song->patterns[p].rows[r][c];
                cell.note = static_cast<int16_t>(any(-3, 300));
                cell.octave = static_cast<int8_t>(any(-128, 127));
                cell.volume = static_cast<int8_t>(any(-128, 127));
                cell.effect = static_cast<int8_t>(any(-20, 40));
                cell.param = static_cast<uint8_t>(any(0, 255));
                cell.instrument = static_cast<int16_t>(any(-10, 400));
            }
        }
    }
    song->instrument(3).algorithm = 99;
    song->instrument(3).operators[1].DT = 12;
    for (int round = 0; round < 6; ++round) {
        song->order.length = static_cast<int16_t>(any(-3, 300));
        song->order.loopPosition = static_cast<int16_t>(any(-3, 300));
        for (auto& e : song->order.entries) e.pattern = static_cast<uint8_t>(any(0, 3));
        song->speedEven = any(-2, 20);
        song->speedOdd = any(-2, 20);
        song->interleave = any(-2, 300);
        player->songLengthFrames();
        player->framesAt(any(-10, 300), any(-10, 300));
        ASSERT_FALSE(player->start(any(-10, 300), any(-10, 300), false, round % 2 == 1, false, any(-1, 7)));
        for (int i = 0; i < 2000; ++i) {
            player->tick();
            const PlayPosition pos = player->position();
            ASSERT_GE(pos.row, 0);
            ASSERT_LT(pos.row, kRows);
            ASSERT_GE(pos.orderPosition, 0);
            ASSERT_LT(pos.orderPosition, kOrderEntries);
            for (int c = 0; c < kChannels; ++c) {
                ASSERT_GE(player->channel(c).channelVolume, 0);
                ASSERT_LE(player->channel(c).channelVolume, 248);
            }
        }
        player->stop();
    }
}

}  // namespace
}  // namespace qvtest
