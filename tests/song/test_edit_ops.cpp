#include <gtest/gtest.h>

#include <memory>

#include "song/edit_ops.h"

using namespace qv;

namespace {

std::unique_ptr<Song> newSong() {
    auto s = std::make_unique<Song>();
    s->clear();
    return s;
}

Cell note(int pitch, int instrument = 0, int volume = 0) {
    Cell c;
    c.setPitch(pitch);
    c.instrument = static_cast<int16_t>(instrument);
    c.volume = static_cast<int8_t>(volume);
    return c;
}

Cell vol(int v) {
    Cell c;
    c.volume = static_cast<int8_t>(v);
    return c;
}

// Fills a pattern's rows with cells that tell where they came from.
void mark(Song& s, int p) {
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kChannels; ++c) {
            Cell& cell = s.patterns[p].rows[r][c];
            cell.param = static_cast<uint8_t>(r);
            cell.effect = static_cast<int8_t>(c + 1);
        }
}
int rowOf(const Song& s, int p, int r, int c) {
    const Cell& cell = s.patterns[p].rows[r][c];
    return cell.hasEffect() ? cell.param : -1;
}

}  // namespace

TEST(EditBlock, ClippingRules) {
    auto s = newSong();
    Block b{0, 4, 60, 5, 10};
    ASSERT_TRUE(clipBlock(*s, b));
    EXPECT_EQ(b.width, 2);
    EXPECT_EQ(b.height, 4);
    Block atEnd{0, 0, 64, 1, 5};
    ASSERT_TRUE(clipBlock(*s, atEnd));
    EXPECT_EQ(atEnd.height, 0);
    Block beyond{0, 0, 65, 1, 1}, noWidth{0, 0, 0, 0, 1}, noHeight{0, 0, 0, 1, -2}, badChannel{0, 6, 0, 1, 1},
        badPattern{256, 0, 0, 1, 1}, negative{0, 0, -1, 1, 1};
    for (Block* x : {&beyond, &noWidth, &noHeight, &badChannel, &badPattern, &negative})
        EXPECT_FALSE(clipBlock(*s, *x));

    // Every block operation refuses such a block and changes nothing.
    mark(*s, 0);
    auto before = s->patterns[0];
    PatternClipboard clip;
    EXPECT_FALSE(copyBlock(*s, beyond, clip));
    EXPECT_TRUE(clip.empty());
    EXPECT_FALSE(cutBlock(*s, badChannel, clip));
    EXPECT_FALSE(deleteBlock(*s, noWidth));
    EXPECT_FALSE(expandBlock(*s, beyond));
    EXPECT_FALSE(shrinkBlock(*s, beyond));
    EXPECT_FALSE(transposeBlock(*s, 0, beyond, 1, 0, false));
    EXPECT_FALSE(volumeGradient(*s, beyond));
    EXPECT_FALSE(effectScale(*s, beyond, 0, 100));
    EXPECT_FALSE(duplicateBlock(*s, beyond, 2));
    EXPECT_FALSE(assignInstrument(*s, beyond, 3));
    // A block starting exactly at the length succeeds and changes nothing.
    EXPECT_TRUE(deleteBlock(*s, Block{0, 0, 64, 6, 10}));
    EXPECT_TRUE(expandBlock(*s, Block{0, 0, 64, 6, 10}));
    EXPECT_EQ(s->patterns[0], before);
}

TEST(EditBlock, CopyCutDeleteAndPaste) {
    auto s = newSong();
    mark(*s, 1);
    PatternClipboard clip;
    EXPECT_TRUE(clip.empty());
    EXPECT_FALSE(pasteBlock(*s, 1, 0, 0, clip));  // nothing to paste
    ASSERT_TRUE(copyBlock(*s, Block{1, 2, 10, 2, 4}, clip));
    EXPECT_EQ(clip.width, 2);
    EXPECT_EQ(clip.height, 4);
    EXPECT_EQ(clip.cells[3][1].param, 13);
    EXPECT_EQ(clip.cells[3][1].effect, 4);

    // A 4-row clipboard pasted at the last row of a 64-row pattern writes one row.
    ASSERT_TRUE(pasteBlock(*s, 1, 0, 63, clip));
    EXPECT_EQ(rowOf(*s, 1, 63, 0), 10);
    EXPECT_EQ(rowOf(*s, 1, 63, 1), 10);
    EXPECT_EQ(s->patterns[1].rows[63][1].effect, 4);
    EXPECT_EQ(rowOf(*s, 1, 64, 0), 64);  // past the length: untouched
    EXPECT_EQ(rowOf(*s, 1, 63, 2), 63);
    // Pasted at channel 5 only one channel fits.
    ASSERT_TRUE(pasteBlock(*s, 1, 5, 0, clip));
    EXPECT_EQ(rowOf(*s, 1, 3, 5), 13);
    EXPECT_EQ(s->patterns[1].rows[3][5].effect, 3);

    // Delete leaves the clipboard alone; cut fills it and empties the block.
    ASSERT_TRUE(deleteBlock(*s, Block{1, 0, 0, 1, 2}));
    EXPECT_TRUE(s->patterns[1].rows[0][0].isEmpty());
    EXPECT_TRUE(s->patterns[1].rows[1][0].isEmpty());
    EXPECT_EQ(rowOf(*s, 1, 2, 0), 2);
    EXPECT_EQ(clip.height, 4);
    ASSERT_TRUE(cutBlock(*s, Block{1, 3, 20, 3, 2}, clip));
    EXPECT_EQ(clip.width, 3);
    EXPECT_EQ(clip.height, 2);
    EXPECT_EQ(clip.cells[1][2].param, 21);
    EXPECT_TRUE(s->patterns[1].rows[21][5].isEmpty());
    EXPECT_EQ(rowOf(*s, 1, 21, 2), 21);
    EXPECT_EQ(rowOf(*s, 1, 22, 3), 22);
    clip.clear();
    EXPECT_TRUE(clip.empty());
}

TEST(EditBlock, PasteOverMergesFieldByField) {
    auto s = newSong();
    Cell target = note(30, 5, 12);
    target.effect = 3;
    target.param = 0x40;
    for (int r = 0; r < 4; ++r) s->patterns[0].rows[r][0] = target;

    PatternClipboard clip;
    clip.width = 1;
    clip.height = 4;
    clip.cells[0][0] = vol(7);               // only a volume
    clip.cells[1][0].note = kNoteKeyOff;     // a key off
    clip.cells[2][0] = note(40, 9);          // note and instrument, no effect
    clip.cells[3][0].param = 0x21;           // effect 0 with a parameter is an effect
    ASSERT_TRUE(pasteBlockOver(*s, 0, 0, 0, clip));
    const auto& rows = s->patterns[0].rows;
    Cell expect0 = target;
    expect0.volume = 7;
    EXPECT_EQ(rows[0][0], expect0);
    EXPECT_EQ(rows[1][0].note, kNoteKeyOff);
    EXPECT_EQ(rows[1][0].instrument, 5);
    EXPECT_EQ(rows[1][0].volume, 12);
    EXPECT_EQ(rows[1][0].effect, 3);
    EXPECT_EQ(rows[2][0].pitch(), 40);
    EXPECT_EQ(rows[2][0].instrument, 9);
    EXPECT_EQ(rows[2][0].effect, 3);
    EXPECT_EQ(rows[2][0].param, 0x40);
    EXPECT_EQ(rows[3][0].effect, 0);
    EXPECT_EQ(rows[3][0].param, 0x21);
    EXPECT_EQ(rows[3][0].pitch(), 30);
}

TEST(EditBlock, ExpandAndShrinkWithinTheBlocksChannels) {
    auto s = newSong();
    mark(*s, 0);
    s->patterns[0].length = 200;
    ASSERT_TRUE(expandBlock(*s, Block{0, 1, 10, 2, 80}));
    EXPECT_EQ(s->patterns[0].length, 255);  // not 280, not 256
    EXPECT_EQ(rowOf(*s, 0, 10, 1), 10);
    EXPECT_EQ(rowOf(*s, 0, 11, 1), -1);
    EXPECT_TRUE(s->patterns[0].rows[11][2].isEmpty());
    EXPECT_EQ(rowOf(*s, 0, 12, 2), 11);
    EXPECT_EQ(rowOf(*s, 0, 168, 1), 89);
    EXPECT_EQ(rowOf(*s, 0, 170, 1), 90);  // rows below the block moved down by 80
    EXPECT_EQ(rowOf(*s, 0, 255, 1), 175);
    EXPECT_EQ(rowOf(*s, 0, 12, 0), 12);   // other channels unchanged
    EXPECT_EQ(rowOf(*s, 0, 12, 3), 12);

    auto t = newSong();
    mark(*t, 2);
    t->patterns[2].length = 20;
    ASSERT_TRUE(expandBlock(*t, Block{2, 0, 0, 1, 4}));
    EXPECT_EQ(t->patterns[2].length, 24);
    t->patterns[2].length = 256;
    ASSERT_TRUE(expandBlock(*t, Block{2, 5, 0, 1, 1}));
    EXPECT_EQ(t->patterns[2].length, 256);  // never shortened

    auto u = newSong();
    mark(*u, 3);
    ASSERT_TRUE(shrinkBlock(*u, Block{3, 2, 4, 1, 7}));  // rows 4..10
    EXPECT_EQ(rowOf(*u, 3, 4, 2), 4);
    EXPECT_EQ(rowOf(*u, 3, 5, 2), 6);
    EXPECT_EQ(rowOf(*u, 3, 6, 2), 8);
    EXPECT_EQ(rowOf(*u, 3, 7, 2), 10);
    EXPECT_EQ(rowOf(*u, 3, 8, 2), 11);
    EXPECT_EQ(rowOf(*u, 3, 252, 2), 255);
    EXPECT_EQ(rowOf(*u, 3, 253, 2), -1);
    EXPECT_EQ(rowOf(*u, 3, 5, 1), 5);
    EXPECT_EQ(u->patterns[3].length, 64);
}

TEST(EditBlock, TransposeHoldsPitchesAndChecks) {
    auto s = newSong();
    auto& rows = s->patterns[0].rows;
    rows[0][0] = note(0);    // C-1
    rows[1][0] = note(50);
    rows[2][0].note = kNoteKeyOff;
    rows[3][0] = note(95);   // B-8
    const auto before = s->patterns[0];

    // Check-only: out of range reports false and changes nothing.
    EXPECT_FALSE(transposeBlock(*s, 0, Block{0, 0, 0, 1, 4}, -1, 0, true));
    EXPECT_EQ(s->patterns[0], before);
    EXPECT_TRUE(transposeBlock(*s, 0, Block{0, 0, 1, 1, 1}, 45, 0, true));
    EXPECT_EQ(s->patterns[0], before);
    EXPECT_FALSE(transposeBlock(*s, 0, Block{0, 0, 0, 1, 4}, 1, 0, true));

    ASSERT_TRUE(transposeBlock(*s, 0, Block{0, 0, 0, 1, 4}, -1, 0, false));
    EXPECT_EQ(rows[0][0].pitch(), 0);  // held at C-1
    EXPECT_EQ(rows[0][0].octave, 1);
    EXPECT_EQ(rows[1][0].pitch(), 49);
    EXPECT_EQ(rows[2][0].note, kNoteKeyOff);
    EXPECT_EQ(rows[3][0].pitch(), 94);
    ASSERT_TRUE(transposeBlock(*s, 0, Block{0, 0, 0, 1, 4}, 95, 0, false));
    EXPECT_EQ(rows[1][0].pitch(), 95);
    EXPECT_EQ(rows[0][0].pitch(), 95);
}

TEST(EditBlock, TransposeInstrumentFilterLooksBackThroughTheOrder) {
    auto s = newSong();
    s->order.length = 3;
    s->order.entries[0].pattern = 4;
    s->order.entries[1].pattern = 5;
    s->order.entries[2].pattern = 6;
    s->patterns[4].length = 16;
    s->patterns[4].rows[10][0] = note(20, 7);   // channel 1: instrument 7 two positions back
    s->patterns[4].rows[20][1] = note(20, 7);   // channel 2: past the length, not seen
    s->patterns[5].rows[3][1] = note(20, 8);    // channel 2: instrument 8 one position back
    auto& rows = s->patterns[6].rows;
    rows[0][0] = note(30);
    rows[0][1] = note(30);
    rows[0][2] = note(30);                      // channel 3: nothing found, instrument 1
    rows[1][0] = note(31, 9);
    rows[2][0] = note(32);
    rows[3][0] = vol(5);
    rows[3][0].instrument = 7;                  // instrument without a note switches back
    rows[4][0] = note(33);

    ASSERT_TRUE(transposeBlock(*s, 2, Block{6, 0, 0, 3, 8}, 12, 7, false));
    EXPECT_EQ(rows[0][0].pitch(), 42);
    EXPECT_EQ(rows[0][1].pitch(), 30);  // instrument 8 in force
    EXPECT_EQ(rows[0][2].pitch(), 30);
    EXPECT_EQ(rows[1][0].pitch(), 31);
    EXPECT_EQ(rows[2][0].pitch(), 32);
    EXPECT_EQ(rows[4][0].pitch(), 45);

    ASSERT_TRUE(transposeBlock(*s, 2, Block{6, 2, 0, 1, 8}, 1, 1, false));
    EXPECT_EQ(rows[0][2].pitch(), 31);  // the default instrument 1 matched
    // The search starts in the block's first row and continues upwards.
    rows[6][1] = note(60);
    rows[5][1].instrument = 7;
    ASSERT_TRUE(transposeBlock(*s, 2, Block{6, 1, 6, 1, 1}, -12, 7, false));
    EXPECT_EQ(rows[6][1].pitch(), 48);
    // Filtered check-only mode only looks at matching notes.
    rows[7][1] = note(95, 8);
    EXPECT_TRUE(transposeBlock(*s, 2, Block{6, 1, 6, 1, 2}, 1, 7, true));
    EXPECT_FALSE(transposeBlock(*s, 2, Block{6, 1, 6, 1, 2}, 1, 8, true));
}

TEST(EditBlock, GradientsInterpolateBetweenSetValues) {
    auto s = newSong();
    auto& rows = s->patterns[0].rows;
    rows[0][0] = vol(1);
    rows[3][0] = vol(31);
    ASSERT_TRUE(volumeGradient(*s, Block{0, 0, 0, 1, 4}));
    EXPECT_EQ(rows[0][0].volume, 0x01);
    EXPECT_EQ(rows[1][0].volume, 0x0B);
    EXPECT_EQ(rows[2][0].volume, 0x15);
    EXPECT_EQ(rows[3][0].volume, 0x1F);

    // Several segments, falling values cut toward zero, and nothing before
    // the first set value or after the last.
    rows[10][1] = vol(0);
    rows[11][1] = vol(10);
    rows[14][1] = vol(0);
    rows[15][1] = vol(3);
    rows[17][1] = vol(4);
    ASSERT_TRUE(volumeGradient(*s, Block{0, 1, 10, 1, 9}));
    EXPECT_EQ(rows[10][1].volume, 0);
    EXPECT_EQ(rows[11][1].volume, 10);
    EXPECT_EQ(rows[12][1].volume, 8);  // 10 - 7/4 = 8.25
    EXPECT_EQ(rows[13][1].volume, 6);  // 6.5
    EXPECT_EQ(rows[14][1].volume, 4);  // 4.75
    EXPECT_EQ(rows[15][1].volume, 3);
    EXPECT_EQ(rows[16][1].volume, 3);  // 3.5
    EXPECT_EQ(rows[17][1].volume, 4);
    EXPECT_EQ(rows[18][1].volume, 0);

    // A channel with one set value is left alone.
    rows[30][2] = vol(9);
    ASSERT_TRUE(volumeGradient(*s, Block{0, 2, 28, 1, 6}));
    EXPECT_EQ(rows[31][2].volume, 0);

    rows[40][3].param = 0x10;
    rows[44][3].param = 0xF0;
    ASSERT_TRUE(effectGradient(*s, Block{0, 3, 40, 1, 5}));
    EXPECT_EQ(rows[41][3].param, 0x10 + 0x38);
    EXPECT_EQ(rows[43][3].param, 0x10 + 3 * 0x38);
    EXPECT_EQ(rows[44][3].param, 0xF0);
    EXPECT_EQ(rows[41][3].effect, 0);
}

TEST(EditBlock, ScalesRunFromStartToEndPercent) {
    auto s = newSong();
    auto& rows = s->patterns[0].rows;
    for (int r = 0; r < 4; ++r) rows[r][0] = vol(20);
    rows[2][0] = vol(0);
    ASSERT_TRUE(volumeScale(*s, Block{0, 0, 0, 1, 4}, 100, 50));  // 1, 0.875, 0.75, 0.625
    EXPECT_EQ(rows[0][0].volume, 20);
    EXPECT_EQ(rows[1][0].volume, 17);  // 17.5 cut toward zero
    EXPECT_EQ(rows[2][0].volume, 0);   // no volume stays without one
    EXPECT_EQ(rows[3][0].volume, 12);  // 12.5

    for (int r = 0; r < 2; ++r) rows[r][1] = vol(20);
    ASSERT_TRUE(volumeScale(*s, Block{0, 1, 0, 1, 2}, 300, 0));
    EXPECT_EQ(rows[0][1].volume, 31);  // held at 31
    rows[0][2] = vol(5);
    ASSERT_TRUE(volumeScale(*s, Block{0, 2, 0, 1, 1}, 0, 0));
    EXPECT_EQ(rows[0][2].volume, 1);   // held at 1

    rows[0][3].param = 200;
    rows[1][3].param = 100;
    rows[2][3].param = 0;
    ASSERT_TRUE(effectScale(*s, Block{0, 3, 0, 1, 3}, 150, 0));  // 1.5, 1.0, 0.5
    EXPECT_EQ(rows[0][3].param, 255);
    EXPECT_EQ(rows[1][3].param, 100);
    EXPECT_EQ(rows[2][3].param, 0);
}

TEST(EditBlock, DuplicateFillsDownToTheLastRow) {
    auto s = newSong();
    mark(*s, 0);
    s->patterns[0].length = 10;
    auto before = s->patterns[0];
    ASSERT_TRUE(duplicateBlock(*s, Block{0, 0, 6, 2, 4}, 3));  // ends on the last row
    EXPECT_EQ(s->patterns[0], before);

    ASSERT_TRUE(duplicateBlock(*s, Block{0, 1, 0, 2, 4}, 5));
    const int expect[] = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1};
    for (int r = 0; r < 10; ++r) {
        EXPECT_EQ(rowOf(*s, 0, r, 1), expect[r]) << r;
        EXPECT_EQ(rowOf(*s, 0, r, 2), expect[r]) << r;
        EXPECT_EQ(rowOf(*s, 0, r, 0), r);
        EXPECT_EQ(rowOf(*s, 0, r, 3), r);
    }
    EXPECT_EQ(rowOf(*s, 0, 10, 1), 10);
    EXPECT_EQ(s->patterns[0].length, 10);

    auto t = newSong();
    mark(*t, 0);
    ASSERT_TRUE(duplicateBlock(*t, Block{0, 0, 0, 1, 2}, 1));
    EXPECT_EQ(rowOf(*t, 0, 3, 0), 1);
    EXPECT_EQ(rowOf(*t, 0, 4, 0), 4);
}

TEST(EditBlock, AssignInstrumentOnlyToNotes) {
    auto s = newSong();
    auto& rows = s->patterns[0].rows;
    rows[0][0] = note(10, 3);
    rows[1][0].note = kNoteKeyOff;
    rows[2][0] = vol(4);
    rows[3][0] = note(11);
    ASSERT_TRUE(assignInstrument(*s, Block{0, 0, 0, 1, 4}, 42));
    EXPECT_EQ(rows[0][0].instrument, 42);
    EXPECT_EQ(rows[1][0].instrument, 0);
    EXPECT_EQ(rows[2][0].instrument, 0);
    EXPECT_EQ(rows[3][0].instrument, 42);
    EXPECT_FALSE(assignInstrument(*s, Block{0, 0, 0, 1, 4}, 256));
}

TEST(EditRows, InsertAndDeleteCellMoveOneChannel) {
    auto s = newSong();
    mark(*s, 0);
    ASSERT_TRUE(insertCell(*s, 0, 5, 2));
    EXPECT_TRUE(s->patterns[0].rows[5][2].isEmpty());
    EXPECT_EQ(rowOf(*s, 0, 6, 2), 5);
    EXPECT_EQ(rowOf(*s, 0, 255, 2), 254);  // row 255 lost
    EXPECT_EQ(rowOf(*s, 0, 6, 1), 6);
    ASSERT_TRUE(deleteCell(*s, 0, 5, 2));
    EXPECT_EQ(rowOf(*s, 0, 5, 2), 5);
    EXPECT_EQ(rowOf(*s, 0, 254, 2), 254);
    EXPECT_TRUE(s->patterns[0].rows[255][2].isEmpty());
    ASSERT_TRUE(deleteCell(*s, 0, 255, 0));
    EXPECT_TRUE(s->patterns[0].rows[255][0].isEmpty());
    EXPECT_FALSE(insertCell(*s, 0, 256, 0));
    EXPECT_FALSE(deleteCell(*s, 0, 0, 6));
    EXPECT_FALSE(deleteCell(*s, -1, 0, 0));
}

TEST(EditRows, PatternExpandAndShrink) {
    auto s = newSong();
    mark(*s, 0);
    s->patterns[0].length = 4;
    ASSERT_TRUE(expandPattern(*s, 0));
    EXPECT_EQ(s->patterns[0].length, 8);
    for (int k = 0; k < 4; ++k)
        for (int c = 0; c < kChannels; ++c) {
            EXPECT_EQ(rowOf(*s, 0, 2 * k, c), k);
            EXPECT_TRUE(s->patterns[0].rows[2 * k + 1][c].isEmpty());
        }
    EXPECT_EQ(rowOf(*s, 0, 8, 0), 4);  // rows past the length moved along
    ASSERT_TRUE(shrinkPattern(*s, 0));
    EXPECT_EQ(s->patterns[0].length, 4);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(rowOf(*s, 0, k, 3), k);

    // 128 rows double to 256; longer patterns are refused untouched.
    s->patterns[1].length = 128;
    ASSERT_TRUE(expandPattern(*s, 1));
    EXPECT_EQ(s->patterns[1].length, 256);
    mark(*s, 2);
    s->patterns[2].length = 129;
    auto before = s->patterns[2];
    EXPECT_FALSE(expandPattern(*s, 2));
    EXPECT_EQ(s->patterns[2], before);

    // Odd lengths round down; a one-row pattern cannot shrink.
    s->patterns[2].length = 5;
    ASSERT_TRUE(shrinkPattern(*s, 2));
    EXPECT_EQ(s->patterns[2].length, 2);
    EXPECT_EQ(rowOf(*s, 2, 2, 0), 4);
    s->patterns[2].length = 1;
    before = s->patterns[2];
    EXPECT_FALSE(shrinkPattern(*s, 2));
    EXPECT_EQ(s->patterns[2], before);
}

TEST(EditOrder, DeleteEntryAndLoopPosition) {
    auto s = newSong();
    EXPECT_FALSE(deleteOrderEntry(*s, 0));  // the only entry
    s->order.length = 5;
    for (int i = 0; i < 5; ++i) s->order.entries[i].pattern = static_cast<uint8_t>(10 + i);
    s->order.entries[1].framesBefore = 111;
    s->order.loopPosition = 3;
    EXPECT_FALSE(deleteOrderEntry(*s, 5));
    EXPECT_FALSE(deleteOrderEntry(*s, -1));
    ASSERT_TRUE(deleteOrderEntry(*s, 0));
    EXPECT_EQ(s->order.loopPosition, 2);
    EXPECT_EQ(s->order.length, 4);
    EXPECT_EQ(s->order.entries[0].pattern, 11);
    EXPECT_EQ(s->order.entries[0].framesBefore, 111);  // timing moves with the entry
    EXPECT_EQ(s->order.entries[3].pattern, 14);
    ASSERT_TRUE(deleteOrderEntry(*s, 2));  // the loop entry itself
    EXPECT_EQ(s->order.loopPosition, 2);
    EXPECT_EQ(s->order.entries[2].pattern, 14);
    ASSERT_TRUE(deleteOrderEntry(*s, 2));  // now the loop would stand past the end
    EXPECT_EQ(s->order.length, 2);
    EXPECT_EQ(s->order.loopPosition, 1);
}

TEST(EditOrder, InsertSameNewCopyAndSwap) {
    auto s = newSong();
    s->order.length = 3;
    s->order.entries[0].pattern = 0;
    s->order.entries[1].pattern = 1;
    s->order.entries[2].pattern = 3;
    s->order.loopPosition = 1;
    mark(*s, 1);
    s->patterns[1].length = 17;
    s->patterns[2].rows[0][0] = note(5);

    ASSERT_TRUE(insertOrderEntry(*s, 1, OrderInsertKind::same));
    EXPECT_EQ(s->order.length, 4);
    EXPECT_EQ(s->order.entries[1].pattern, 1);
    EXPECT_EQ(s->order.entries[2].pattern, 1);
    EXPECT_EQ(s->order.loopPosition, 1);  // inserting at the loop entry leaves it

    ASSERT_TRUE(insertOrderEntry(*s, 0, OrderInsertKind::newPattern));
    EXPECT_EQ(s->order.entries[0].pattern, 2);  // lowest number not in the list
    EXPECT_EQ(s->order.entries[1].pattern, 0);
    EXPECT_TRUE(s->patterns[2].rows[0][0].isEmpty());
    EXPECT_EQ(s->order.loopPosition, 2);

    ASSERT_TRUE(insertOrderEntry(*s, 2, OrderInsertKind::copyPattern));
    EXPECT_EQ(s->order.entries[2].pattern, 4);
    EXPECT_EQ(s->order.entries[3].pattern, 1);
    EXPECT_EQ(s->patterns[4], s->patterns[1]);
    EXPECT_EQ(s->patterns[4].length, 17);
    EXPECT_EQ(s->order.length, 6);

    ASSERT_TRUE(swapOrderEntries(*s, 0, 5));
    EXPECT_EQ(s->order.entries[0].pattern, 3);
    EXPECT_EQ(s->order.entries[5].pattern, 2);
    EXPECT_FALSE(swapOrderEntries(*s, 0, 6));

}

TEST(EditOrder, InsertNewWithEveryPatternUsedActsAsSame) {
    auto s = newSong();
    for (int i = 0; i < 256; ++i) s->order.entries[i].pattern = static_cast<uint8_t>(i);
    s->order.length = 256;
    EXPECT_FALSE(insertOrderEntry(*s, 0, OrderInsertKind::newPattern));  // already 256 long
    s->order.length = 255;  // entry 255 still names pattern 255
    mark(*s, 10);
    const auto before = s->patterns[10];
    ASSERT_TRUE(insertOrderEntry(*s, 10, OrderInsertKind::newPattern));
    EXPECT_EQ(s->order.length, 256);
    EXPECT_EQ(s->order.entries[10].pattern, 10);
    EXPECT_EQ(s->order.entries[11].pattern, 10);
    EXPECT_EQ(s->patterns[10], before);  // not cleared

    // Numbers standing in entries past the length count as used.
    auto t = newSong();
    t->order.length = 2;
    t->order.entries[1].pattern = 1;
    t->order.entries[5].pattern = 2;
    ASSERT_TRUE(insertOrderEntry(*t, 2, OrderInsertKind::newPattern));  // after the last entry
    EXPECT_EQ(t->order.entries[2].pattern, 3);
    EXPECT_EQ(t->order.length, 3);
}

TEST(EditCleanup, ExchangeAndCleanupInstruments) {
    auto s = newSong();
    auto& rows = s->patterns[0].rows;
    rows[0][0] = note(10, 3);
    rows[1][1] = note(10, 5);
    rows[100][2] = note(10, 3);  // past the length
    exchangeInstrumentNumbers(*s, 3, 5);
    EXPECT_EQ(rows[0][0].instrument, 5);
    EXPECT_EQ(rows[1][1].instrument, 3);
    EXPECT_EQ(rows[100][2].instrument, 3);

    for (int i : {2, 3, 5, 7, 9}) s->instrument(i).algorithm = i % 8;
    s->patterns[200].rows[10][4] = note(1, 9);  // a pattern outside the order list counts
    s->patterns[201].rows[70][4] = note(1, 7);  // but not past its length
    EXPECT_EQ(cleanupInstruments(*s), 2);      // 2 and 7
    EXPECT_TRUE(s->instrumentIsFree(2));
    EXPECT_TRUE(s->instrumentIsFree(7));
    EXPECT_FALSE(s->instrumentIsFree(3));
    EXPECT_FALSE(s->instrumentIsFree(9));
    EXPECT_EQ(cleanupInstruments(*s), 0);
    // A renamed but otherwise default instrument is not the default instrument.
    s->instrument(40).setName("named");
    EXPECT_EQ(cleanupInstruments(*s), 1);
    EXPECT_EQ(s->instrument(40).nameText(), "empty");
}

TEST(EditCleanup, RearrangeInstrumentsPacksThemInOrder) {
    auto s = newSong();
    s->instrument(4).setName("A");
    s->instrument(9).setName("B");
    s->instrument(200).setName("C");
    auto& rows = s->patterns[3].rows;
    rows[0][0] = note(1, 4);
    rows[1][0] = note(1, 9);
    rows[2][0] = note(1, 200);
    rows[3][0] = note(1, 1);  // names a free instrument
    rearrangeInstruments(*s);
    EXPECT_EQ(s->instrument(1).nameText(), "A");
    EXPECT_EQ(s->instrument(2).nameText(), "B");
    EXPECT_EQ(s->instrument(3).nameText(), "C");
    for (int i = 4; i <= kInstruments; ++i) EXPECT_TRUE(s->instrumentIsFree(i)) << i;
    EXPECT_EQ(rows[0][0].instrument, 1);
    EXPECT_EQ(rows[1][0].instrument, 2);
    EXPECT_EQ(rows[2][0].instrument, 3);
    EXPECT_EQ(rows[3][0].instrument, 4);  // moved along with the swaps
}

TEST(EditCleanup, RearrangePatternsByFirstAppearance) {
    auto s = newSong();
    for (int p : {0, 3, 5, 9}) mark(*s, p);
    s->patterns[5].length = 33;
    s->patterns[3].length = 17;
    s->patterns[3].rows[0][0] = note(3);
    s->patterns[5].rows[0][0] = note(5);
    s->order.length = 3;
    s->order.entries[0].pattern = 5;
    s->order.entries[1].pattern = 3;
    s->order.entries[2].pattern = 5;
    s->order.entries[3].pattern = 9;  // past the length: not counted
    rearrangePatterns(*s);
    EXPECT_EQ(s->order.entries[0].pattern, 0);
    EXPECT_EQ(s->order.entries[1].pattern, 1);
    EXPECT_EQ(s->order.entries[2].pattern, 0);
    EXPECT_EQ(s->patterns[0].length, 33);
    EXPECT_EQ(s->patterns[0].rows[0][0].pitch(), 5);
    EXPECT_EQ(s->patterns[1].length, 17);
    EXPECT_EQ(s->patterns[1].rows[0][0].pitch(), 3);
    for (int p = 2; p < kPatterns; ++p) {
        EXPECT_EQ(s->patterns[p].length, 64) << p;
        EXPECT_TRUE(s->patterns[p].rows[1][1].isEmpty()) << p;
    }
}
