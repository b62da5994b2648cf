// Editing operations that change the Song in larger steps than typing into a
// cell: block operations on a rectangle of one pattern, row and pattern
// operations, order-list edits and the instrument and pattern clean-ups.
// Each reports failure instead of acting when its block or positions are out
// of range; none of them can be undone.
#pragma once

#include <array>

#include "song/song.h"

namespace qv {

// A rectangle of one pattern: channels channel .. channel + width - 1, rows
// row .. row + height - 1.
struct Block {
    int pattern = 0;
    int channel = 0;  // 0-5
    int row = 0;
    int width = 1;    // channels
    int height = 1;   // rows
};

// Fits a block to its pattern (width and height adjusted in place); false when
// the block is empty or starts outside the pattern. A block starting exactly
// at the pattern's length keeps height 0 and changes nothing.
bool clipBlock(const Song& song, Block& block);

struct PatternClipboard {
    std::array<Row, kRows> cells{};  // from the block's top-left corner
    int width = -1;                  // -1 = empty
    int height = 0;

    bool empty() const { return width < 0; }
    void clear() { width = -1; height = 0; }
};

bool copyBlock(const Song& song, Block block, PatternClipboard& clipboard);
bool cutBlock(Song& song, Block block, PatternClipboard& clipboard);
bool deleteBlock(Song& song, Block block);
// The clipboard, clipped as a block at (pattern, channel, row), replaces the
// cells there.
bool pasteBlock(Song& song, int pattern, int channel, int row, const PatternClipboard& clipboard);
// As pasteBlock, but field by field: volume and instrument when non-zero in
// the clipboard, note and octave when its note is not empty (key off is
// copied), effect and parameter together when it has an effect.
bool pasteBlockOver(Song& song, int pattern, int channel, int row, const PatternClipboard& clipboard);

// Inserts an empty row after each row of the block in its channels; the
// length grows by the block height, to at most 255 rows.
bool expandBlock(Song& song, Block block);
// Deletes rows 1, 3, 5 ... of the block in its channels.
bool shrinkBlock(Song& song, Block block);

// Transposes the notes of the block by -95..95 semitones, held within 0-95.
// With instrumentFilter > 0 only notes played with that instrument move; the
// instrument in force before the block is looked up backwards from the
// block's first row in the pattern at orderPosition, then through the
// patterns of the earlier order positions (1 when none is found). In
// check-only mode nothing changes and the result is false when some note
// would leave 0-95.
bool transposeBlock(Song& song, int orderPosition, Block block, int semitones, int instrumentFilter,
                    bool checkOnly);

// Interpolates between the non-zero values of each channel of the block.
bool volumeGradient(Song& song, Block block);
bool effectGradient(Song& song, Block block);
// Scales from startPercent on the block's first row to endPercent.
bool volumeScale(Song& song, Block block, int startPercent, int endPercent);
bool effectScale(Song& song, Block block, int startPercent, int endPercent);

// Copies the block into the rows below it, n times, up to the pattern's last
// row; the length does not change.
bool duplicateBlock(Song& song, Block block, int times);
// Every cell of the block with a note gets the instrument (0-255).
bool assignInstrument(Song& song, Block block, int instrument);

// The channel's cells below the row move up by one; row 255 becomes empty.
bool deleteCell(Song& song, int pattern, int row, int channel);
// The channel's cells from the row on move down by one (row 255 is lost); the
// row becomes empty.
bool insertCell(Song& song, int pattern, int row, int channel);

// Doubles the length, row k moving to 2k. Refused (false, nothing changed)
// for patterns longer than 128 rows, whose doubled length would not fit.
bool expandPattern(Song& song, int pattern);
// Deletes every odd row, then halves the length. Refused for a pattern of one
// row, which would be left without rows.
bool shrinkPattern(Song& song, int pattern);

bool deleteOrderEntry(Song& song, int position);
enum class OrderInsertKind { same, newPattern, copyPattern };
// position may be 0 .. length (after the last entry). "new" and "copy" take the
// lowest pattern number that none of the 256 entries names (entries past the
// length included); when every number is named they act as "same".
bool insertOrderEntry(Song& song, int position, OrderInsertKind kind);
bool swapOrderEntries(Song& song, int a, int b);

// In every pattern, within its length, instrument a becomes b and b becomes a.
void exchangeInstrumentNumbers(Song& song, int a, int b);
// Resets every instrument no pattern uses (within lengths) that is not
// already the default instrument; returns how many were reset.
int cleanupInstruments(Song& song);
// Packs the non-default instruments at the lowest numbers, in their order,
// renumbering the patterns to match.
void rearrangeInstruments(Song& song);
// Swaps two patterns: rows and lengths, and their numbers in the order list.
void swapPatterns(Song& song, int a, int b);
// Renumbers patterns by first appearance in the order list and clears every
// pattern that no entry uses.
void rearrangePatterns(Song& song);

}  // namespace qv
