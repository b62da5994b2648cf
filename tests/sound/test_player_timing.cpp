// The Player's clock: speeds and interleave, the order list and its wrap,
// pattern loops, the start position's backward seek and the song length.
#include <utility>

#include "sound/test_player_support.h"

namespace qvtest {
namespace {

class PlayerTiming : public PlayerTest {
protected:
    void setSpeed(int even, int odd, int interleave = 1) {
        song->speedEven = even;
        song->speedOdd = odd;
        song->interleave = interleave;
    }
    // Frames each of the next n rows lasts.
    std::vector<int> rowDurations(int n) {
        std::vector<int> out;
        for (int i = 0; i < n; ++i) {
            int frames = 0;
            do {
                player->tick();
                ++frames;
            } while (player->frameInRow() != 0);
            out.push_back(frames);
        }
        return out;
    }
    // (order position, row) of each of the next n rows read (speed 1).
    std::vector<std::pair<int, int>> rowsRead(int n) {
        std::vector<std::pair<int, int>> out;
        for (int i = 0; i < n; ++i) {
            const PlayPosition p = player->position();
            out.emplace_back(p.orderPosition, p.row);
            player->tick();
        }
        return out;
    }
    std::vector<int> rowsOnly(int n) {
        std::vector<int> out;
        for (auto [pos, row] : rowsRead(n)) out.push_back(row);
        return out;
    }
    void setOrder(std::initializer_list<int> patterns, int loopPosition = 0) {
        int i = 0;
        for (int p : patterns) song->order.entries[i++].pattern = static_cast<uint8_t>(p);
        song->order.length = static_cast<int16_t>(i);
        song->order.loopPosition = static_cast<int16_t>(loopPosition);
    }
    // Frames actually played in one pass, counted by ticking to the wrap and
    // through the rest of the last row.
    int playedFrames() {
        startPlaying();
        int frames = 0;
        bool wrapped = false;
        while (!wrapped) {
            wrapped = player->tick();
            ++frames;
        }
        while (player->frameInRow() != 0) {
            player->tick();
            ++frames;
        }
        player->stop();
        return frames;
    }
};

// ---------------------------------------------------------- speeds

TEST_F(PlayerTiming, InterleaveGroupsRowsBetweenTheTwoSpeeds) {
    setSpeed(3, 6, 2);
    startPlaying();
    EXPECT_EQ(rowDurations(6), (std::vector<int>{3, 3, 6, 6, 3, 3}));
}

TEST_F(PlayerTiming, SpeedEffectChangesSpeedsAndInterleaveFromItsOwnRow) {
    setSpeed(3, 3);
    cell(0, 3) = effectCell(15, 0x24);
    cell(2, 5) = effectCell(15, 0x02);
    cell(6, 0) = effectCell(15, 0x50);  // low nibble 0 counts as 1
    startPlaying();
    EXPECT_EQ(rowDurations(8), (std::vector<int>{2, 4, 2, 2, 4, 4, 5, 5}));
    EXPECT_EQ(player->position().speedEven, 5);
    EXPECT_EQ(player->position().speedOdd, 1);
    EXPECT_EQ(player->position().interleave, 2);
}

TEST_F(PlayerTiming, F00RestoresDifferentThingsInPlaybackSeekAndLength) {
    setSpeed(4, 6, 2);
    cell(0, 0) = effectCell(15, 0x03);
    cell(1, 0) = effectCell(15, 0x23);
    cell(2, 0) = effectCell(15, 0x00);
    song->patterns[0].length = 8;
    // Length: F00 sets the interleave to 0, so the speeds alternate every
    // row from row 2 on: 4 + 2 + 2 + 3 + 2 + 3 + 2 + 3.
    EXPECT_EQ(player->songLengthFrames(), 21);
    // Start seek past F00: the Song's speeds come back, the interleave stays 3.
    ASSERT_FALSE(player->start(0, 3, false, false, false, -1));
    PlayPosition p = player->position();
    EXPECT_EQ(p.speedEven, 4);
    EXPECT_EQ(p.speedOdd, 6);
    EXPECT_EQ(p.interleave, 3);
    player->stop();
    // Playback through F00: all three of the Song's values come back.
    startPlaying();
    rowDurations(3);
    p = player->position();
    EXPECT_EQ(p.speedEven, 4);
    EXPECT_EQ(p.speedOdd, 6);
    EXPECT_EQ(p.interleave, 2);
}

// -------------------------------------------------- order list and wrap

TEST_F(PlayerTiming, WrapReturnsTrueOnceAndCountingUpToTheLoopPositionQueuesTheMarker) {
    setSpeed(1, 1);
    setOrder({0, 1, 2}, 1);
    for (int p = 0; p < 3; ++p) song->patterns[p].length = 2;
    cell(1, 0) = noteCell(0, 4, 1);  // a write before the marker
    startPlaying();
    std::vector<bool> wraps;
    std::vector<int> markerAt;
    for (int i = 0; i < 10; ++i) {
        wraps.push_back(player->tick());
        const DecodedFrame f = decoder->decode(chips.queue());
        markerAt.push_back(f.placeholderIndex);
        if (f.placeholderIndex >= 0) {
            EXPECT_EQ(f.writes[f.placeholderIndex].chip, 0);
            EXPECT_EQ(f.writes[f.placeholderIndex].value, 0);
            EXPECT_EQ(f.placeholderIndex, static_cast<int>(f.writes.size()) - 1);  // after the row
        }
    }
    EXPECT_EQ(wraps, (std::vector<bool>{false, false, false, false, false, true, false, false, false, true}));
    // Only the step from entry 0 to entry 1 counts up onto the loop position;
    // the wrap itself queues no marker.
    EXPECT_GE(markerAt[1], 0);
    for (int i = 0; i < 10; ++i)
        if (i != 1) {
            EXPECT_EQ(markerAt[i], -1) << i;
        }
    EXPECT_EQ(player->position().orderPosition, 1);
}

TEST_F(PlayerTiming, WrapToLoopPositionZeroQueuesNoMarker) {
    setSpeed(1, 1);
    song->patterns[0].length = 2;
    startPlaying();
    EXPECT_FALSE(player->tick());
    EXPECT_TRUE(player->tick());
    EXPECT_EQ(chips.queue().count, 0);
}

TEST_F(PlayerTiming, LoopPatternRepeatsOneEntry) {
    setSpeed(1, 1);
    setOrder({0, 1, 2});
    song->patterns[1].length = 3;
    startPlaying(1, 0, false, true);
    const auto rows = rowsRead(7);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(rows[i], std::make_pair(1, i % 3)) << i;
}

TEST_F(PlayerTiming, LoopPatternOnTheLoopEntryMarksEveryRepeatAndNeverWraps) {
    setSpeed(1, 1);
    setOrder({0, 1}, 1);
    song->patterns[1].length = 2;
    startPlaying(1, 0, false, true);
    for (int i = 0; i < 6; ++i) {
        EXPECT_FALSE(player->tick());
        const DecodedFrame f = decoder->decode(chips.queue());
        EXPECT_EQ(f.placeholderIndex >= 0, i % 2 == 1) << i;
    }
    EXPECT_EQ(player->position().orderPosition, 1);
}

TEST_F(PlayerTiming, SetPositionJumpsOnlyWhilePlayingAndInsideTheOrderList) {
    setSpeed(1, 1);
    setOrder({0, 7, 2});
    player->setPosition(1);
    EXPECT_EQ(player->position().orderPosition, 0);
    startPlaying();
    player->tick();
    player->setPosition(1);
    PlayPosition p = player->position();
    EXPECT_EQ(p.orderPosition, 1);
    EXPECT_EQ(p.pattern, 7);
    EXPECT_EQ(p.row, 0);
    player->setPosition(3);
    player->setPosition(-1);
    EXPECT_EQ(player->position().orderPosition, 1);
}

// ------------------------------------------------------------ E6x loops

TEST_F(PlayerTiming, PatternLoopPlaysTheSectionXPlusOneTimesAndOnlyOnceAfterTheSongLoops) {
    setSpeed(1, 1);
    song->patterns[0].length = 8;
    cell(2, 0) = effectCell(14, 0x60);
    cell(4, 1) = effectCell(14, 0x62);
    startPlaying();
    EXPECT_EQ(rowsOnly(20),
              (std::vector<int>{0, 1, 2, 3, 4, 2, 3, 4, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5}));
}

TEST_F(PlayerTiming, ADifferentLoopStartRowStartsANewCount) {
    setSpeed(1, 1);
    song->patterns[0].length = 8;
    cell(1, 0) = effectCell(14, 0x60);
    cell(2, 0) = effectCell(14, 0x61);
    cell(4, 2) = effectCell(14, 0x60);
    cell(5, 2) = effectCell(14, 0x61);
    startPlaying();
    EXPECT_EQ(rowsOnly(12), (std::vector<int>{0, 1, 2, 1, 2, 3, 4, 5, 4, 5, 6, 7}));
}

TEST_F(PlayerTiming, LoopJumpRestoresTheSpeedsSavedAtItsStart) {
    setSpeed(1, 1);
    cell(1, 0) = effectCell(14, 0x60);
    cell(2, 0) = effectCell(15, 0x22);
    cell(3, 0) = effectCell(14, 0x61);
    startPlaying();
    // Row 3 reads the jump and already runs at the restored speed 1.
    EXPECT_EQ(rowDurations(8), (std::vector<int>{1, 1, 2, 1, 1, 2, 2, 2}));
}

TEST_F(PlayerTiming, LoopJumpAcrossOrderEntriesReturnsToTheSavedEntry) {
    setSpeed(1, 1);
    setOrder({0, 1});
    song->patterns[0].length = 2;
    song->patterns[1].length = 2;
    cell(1, 0, 0) = effectCell(14, 0x60);
    cell(0, 0, 1) = effectCell(14, 0x61);
    startPlaying();
    const auto rows = rowsRead(6);
    const std::vector<std::pair<int, int>> want = {{0, 0}, {0, 1}, {1, 0}, {0, 1}, {1, 0}, {1, 1}};
    EXPECT_EQ(rows, want);
}

// ---------------------------------------------------------------- start

TEST_F(PlayerTiming, StartSeeksBackwardsForInstrumentAndVolumeOfEveryChannel) {
    setOrder({0, 1});
    song->patterns[0].length = 4;
    cell(1, 0, 0).instrument = 3;
    cell(1, 0, 0).volume = 10;
    cell(3, 1, 0).instrument = 4;
    cell(2, 1, 0).volume = 20;
    cell(0, 1, 0).volume = 7;         // further back: not taken
    cell(0, 0, 1).instrument = 5;
    cell(2, 2, 1).instrument = 7;     // on the start row itself
    cell(3, 3, 1).instrument = 8;     // after the start row: not taken
    cell(3, 3, 1).volume = 8;
    startPlaying(1, 2);
    EXPECT_EQ(player->channel(0).currentInstrument, 5);
    EXPECT_EQ(player->channel(0).channelVolume, 80);
    EXPECT_EQ(player->channel(1).currentInstrument, 4);
    EXPECT_EQ(player->channel(1).channelVolume, 160);
    EXPECT_EQ(player->channel(2).currentInstrument, 7);
    EXPECT_EQ(player->channel(2).channelVolume, 248);
    EXPECT_EQ(player->channel(3).currentInstrument, 1);
    EXPECT_EQ(player->channel(3).channelVolume, 248);
    for (int c = 0; c < 6; ++c) EXPECT_TRUE(player->channel(c).reloadInstrument);
}

TEST_F(PlayerTiming, StartTakesCachedSpeedsAndTheSpeedEffectsAboveTheStartRow) {
    setSpeed(3, 3);
    setOrder({0, 1});
    cell(10, 0, 0) = effectCell(15, 0x46);
    cell(0, 3, 1) = effectCell(15, 0x25);
    cell(1, 3, 1) = effectCell(15, 0x03);
    cell(2, 3, 1) = effectCell(15, 0x03);  // on the start row: applies when read
    startPlaying(1, 2);
    const PlayPosition p = player->position();
    EXPECT_EQ(p.speedEven, 2);
    EXPECT_EQ(p.speedOdd, 5);
    EXPECT_EQ(p.interleave, 3);
    EXPECT_EQ(p.orderPosition, 1);
    EXPECT_EQ(p.row, 2);
    EXPECT_EQ(p.pattern, 1);
    // Row 0 closed a group of one row (interleave 1 until row 1 set 3), so
    // the start row is the second odd row: rows 2-3 odd, then even.
    EXPECT_EQ(rowDurations(5), (std::vector<int>{5, 5, 2, 2, 2}));
}

TEST_F(PlayerTiming, StartClampsPositionsAndDoesNothingWhenAlreadyPlaying) {
    setOrder({0, 1});
    song->patterns[1].length = 10;
    startPlaying(1, 200);
    EXPECT_EQ(player->position().row, 9);
    EXPECT_TRUE(player->start(0, 0, false, false, false, -1));
    EXPECT_EQ(player->position().orderPosition, 1);
    player->stop();
    startPlaying(5, 0);
    EXPECT_EQ(player->position().orderPosition, 0);
}

TEST_F(PlayerTiming, StopEmptiesTheQueueAndStopIfHeldOnlyStopsHeldPlayback) {
    cell(0, 0) = noteCell(0, 4, 1);
    startPlaying();
    player->tick();
    EXPECT_GT(chips.queue().count, 0);
    EXPECT_FALSE(player->stopIfHeld());
    EXPECT_TRUE(player->isPlaying());
    player->stop();
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(chips.queue().count, 0);
    EXPECT_FALSE(player->tick());

    startPlaying(0, 0, false, false, true);
    EXPECT_TRUE(player->stopOnRelease());
    EXPECT_TRUE(player->stopIfHeld());
    EXPECT_FALSE(player->isPlaying());
    EXPECT_FALSE(player->stopOnRelease());
    EXPECT_FALSE(player->stopIfHeld());
}

TEST_F(PlayerTiming, ResetChannelsGivesEveryChannelItsInitialState) {
    setSpeed(1, 1);
    cell(0, 2) = noteCell(0, 4, 2, 5, 11, 0x12);
    startPlaying();
    player->tick();
    EXPECT_NE(player->channel3Mode(), 0);
    player->resetChannels();
    EXPECT_EQ(player->channel3Mode(), 0);
    const PlayerChannel& ch = player->channel(2);
    EXPECT_EQ(ch.currentInstrument, -1);
    EXPECT_EQ(ch.channelVolume, 248);
    EXPECT_EQ(ch.pitch, -1);
    EXPECT_EQ(ch.portamentoTarget, -1);
    EXPECT_EQ(ch.arpeggioParam, 255);
    EXPECT_EQ(ch.channelEffect, 0);
    // A volume arriving for a channel without instrument writes nothing.
    cell(1, 2) = effectCell(0, 0, 9);
    player->tick();
    EXPECT_EQ(chips.queue().count, 0);
    EXPECT_EQ(player->channel(2).channelVolume, 72);
    // The next note without an instrument falls back to instrument 1.
    cell(2, 2) = noteCell(0, 4);
    player->tick();
    const DecodedFrame f = decoder->decode(chips.queue());
    EXPECT_TRUE(f.channel[2].loaded);
    EXPECT_EQ(f.channel[2].instrument, 1);
}

// ---------------------------------------------------------- song length

TEST_F(PlayerTiming, NewSongLastsSixtyFourRowsOfThreeFrames) {
    EXPECT_EQ(player->songLengthFrames(), 192);
    const OrderEntry& e = song->order.entries[0];
    EXPECT_EQ(e.speedEven, 3);
    EXPECT_EQ(e.speedOdd, 3);
    EXPECT_EQ(e.interleave, 1);
    EXPECT_EQ(e.framesBefore, 0);
}

TEST_F(PlayerTiming, LengthRunsTheSpeedToggleOnAcrossEntriesAndFillsTheCache) {
    setSpeed(2, 4);
    setOrder({0, 0, 1});
    song->patterns[0].length = 3;
    song->patterns[1].length = 4;
    cell(1, 4, 1) = effectCell(15, 0x51);
    // entry 0: 2 4 2; entry 1: 4 2 4; entry 2: 2, then speeds 5/1: 1 5 1
    EXPECT_EQ(player->songLengthFrames(), 8 + 10 + 2 + 1 + 5 + 1);
    EXPECT_EQ(song->order.entries[1].framesBefore, 8);
    EXPECT_EQ(song->order.entries[2].framesBefore, 18);
    EXPECT_EQ(song->order.entries[2].speedEven, 2);
    EXPECT_EQ(playedFrames(), 27);
    // framesAt starts each entry with the even speed (the cache keeps no toggle).
    EXPECT_EQ(player->framesAt(1, 0), 8);
    EXPECT_EQ(player->framesAt(1, 1), 10);
    EXPECT_EQ(player->framesAt(2, 3), 18 + 2 + 1 + 5);
}

TEST_F(PlayerTiming, LengthAndFramesAtAgreeWithPlaybackThroughSpeedChanges) {
    setSpeed(3, 5, 2);
    setOrder({0, 1, 0, 2});
    song->patterns[0].length = 8;
    song->patterns[1].length = 12;
    song->patterns[2].length = 4;
    cell(3, 0, 0) = effectCell(15, 0x62);
    cell(5, 1, 1) = effectCell(15, 0x04);
    cell(1, 2, 2) = effectCell(15, 0x21);
    const int length = player->songLengthFrames();
    EXPECT_EQ(length, playedFrames());
    // Count the frames up to each row read and compare with framesAt where
    // an entry starts on an even group boundary.
    startPlaying();
    int frames = 0;
    for (int i = 0; i < length; ++i) {
        if (player->frameInRow() == 0) {
            const PlayPosition p = player->position();
            if (p.orderPosition == 0 || p.orderPosition == 1) {
                EXPECT_EQ(player->framesAt(p.orderPosition, p.row), frames)
                    << p.orderPosition << ":" << p.row;
            }
        }
        player->tick();
        ++frames;
    }
}

TEST_F(PlayerTiming, PassFramesCountThePlayedPassThroughLoopsAndSpeedEffects) {
    // Random songs full of speed effects (F00 included) and pattern loops,
    // some spanning order entries: the walk must match the ticking Player.
    uint32_t seed = 12345;
    auto next = [&seed](int n) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>((seed >> 8) % static_cast<uint32_t>(n));
    };
    int differing = 0;
    for (int round = 0; round < 300; ++round) {
        song->clear();
        setSpeed(1 + next(6), 1 + next(6), next(4));
        const int entries = 1 + next(4);
        for (int e = 0; e < entries; ++e) song->order.entries[e].pattern = static_cast<uint8_t>(next(3));
        song->order.length = static_cast<int16_t>(entries);
        song->order.loopPosition = static_cast<int16_t>(next(entries + 1));  // may be out of range
        for (int p = 0; p < 3; ++p) {
            song->patterns[p].length = 1 + next(12);
            for (int k = next(6); k > 0; --k) {
                const int param = next(3) == 0 ? next(16) : next(2) ? 0x60 : 0x60 + 1 + next(3);
                cell(next(song->patterns[p].length), next(kChannels), p) =
                    param < 16 ? effectCell(15, next(2) ? param : 0x10 * (1 + next(6)) + next(6)) : effectCell(14, param);
            }
        }
        const int pass = player->passFrames();
        ASSERT_EQ(pass, playedFrames()) << "round " << round;
        differing += pass != player->songLengthFrames();
    }
    EXPECT_GT(differing, 50);  // the loops and F00 do lengthen or shorten the pass
}

TEST_F(PlayerTiming, PassFramesEqualTheLengthWithoutLoopsAndRefreshTheCache) {
    setSpeed(3, 5, 2);
    setOrder({0, 1, 0}, 1);
    song->patterns[0].length = 8;
    song->patterns[1].length = 12;
    cell(3, 0, 0) = effectCell(15, 0x62);
    cell(5, 1, 1) = effectCell(15, 0x04);
    song->order.entries[2].framesBefore = 0;
    const int pass = player->passFrames();
    EXPECT_EQ(song->order.entries[2].framesBefore, player->framesAt(2, 0));
    EXPECT_NE(song->order.entries[2].framesBefore, 0);
    EXPECT_EQ(pass, player->songLengthFrames());
    EXPECT_FALSE(player->isPlaying());
}

TEST_F(PlayerTiming, FramesAtClampsRowsToThePattern) {
    song->patterns[0].length = 4;
    player->songLengthFrames();
    EXPECT_EQ(player->framesAt(0, 200), 12);
    EXPECT_EQ(player->framesAt(0, 0), 0);
}

}  // namespace
}  // namespace qvtest
