#include "song/edit_ops.h"

#include <algorithm>
#include <utility>

namespace qv {

namespace {

bool validPattern(int p) { return p >= 0 && p < kPatterns; }

Cell& cellAt(Song& s, const Block& b, int r, int c) {
    return s.patterns[b.pattern].rows[b.row + r][b.channel + c];
}

Block clipboardBlock(int pattern, int channel, int row, const PatternClipboard& clip) {
    return Block{pattern, channel, row, clip.width, clip.height};
}

}  // namespace

bool clipBlock(const Song& song, Block& b) {
    if (!validPattern(b.pattern)) return false;
    if (b.width <= 0 || b.height <= 0) return false;
    const int length = song.patterns[b.pattern].length;
    if (b.row < 0 || b.channel < 0) return false;
    if (b.row > length || b.channel >= kChannels) return false;
    b.height = std::min(b.height, length - b.row);
    b.width = std::min(b.width, kChannels - b.channel);
    return true;
}

bool copyBlock(const Song& song, Block b, PatternClipboard& clip) {
    if (!clipBlock(song, b)) return false;
    const Pattern& p = song.patterns[b.pattern];
    for (int r = 0; r < b.height; ++r)
        for (int c = 0; c < b.width; ++c) clip.cells[r][c] = p.rows[b.row + r][b.channel + c];
    clip.width = b.width;
    clip.height = b.height;
    return true;
}

bool deleteBlock(Song& song, Block b) {
    if (!clipBlock(song, b)) return false;
    for (int r = 0; r < b.height; ++r)
        for (int c = 0; c < b.width; ++c) cellAt(song, b, r, c) = Cell{};
    return true;
}

bool cutBlock(Song& song, Block b, PatternClipboard& clip) {
    return copyBlock(song, b, clip) && deleteBlock(song, b);
}

bool pasteBlock(Song& song, int pattern, int channel, int row, const PatternClipboard& clip) {
    if (clip.empty()) return false;
    Block b = clipboardBlock(pattern, channel, row, clip);
    if (!clipBlock(song, b)) return false;
    for (int r = 0; r < b.height; ++r)
        for (int c = 0; c < b.width; ++c) cellAt(song, b, r, c) = clip.cells[r][c];
    return true;
}

bool pasteBlockOver(Song& song, int pattern, int channel, int row, const PatternClipboard& clip) {
    if (clip.empty()) return false;
    Block b = clipboardBlock(pattern, channel, row, clip);
    if (!clipBlock(song, b)) return false;
    for (int r = 0; r < b.height; ++r) {
        for (int c = 0; c < b.width; ++c) {
            const Cell& src = clip.cells[r][c];
            Cell& dst = cellAt(song, b, r, c);
            if (src.volume != 0) dst.volume = src.volume;
            if (src.instrument != 0) dst.instrument = src.instrument;
            if (src.note != kNoteEmpty) {
                dst.note = src.note;
                dst.octave = src.octave;
            }
            if (src.hasEffect()) {
                dst.effect = src.effect;
                dst.param = src.param;
            }
        }
    }
    return true;
}

bool deleteCell(Song& song, int pattern, int row, int channel) {
    if (!validPattern(pattern) || row < 0 || row >= kRows || channel < 0 || channel >= kChannels)
        return false;
    auto& rows = song.patterns[pattern].rows;
    for (int r = row; r < kRows - 1; ++r) rows[r][channel] = rows[r + 1][channel];
    rows[kRows - 1][channel] = Cell{};
    return true;
}

bool insertCell(Song& song, int pattern, int row, int channel) {
    if (!validPattern(pattern) || row < 0 || row >= kRows || channel < 0 || channel >= kChannels)
        return false;
    auto& rows = song.patterns[pattern].rows;
    for (int r = kRows - 1; r > row; --r) rows[r][channel] = rows[r - 1][channel];
    rows[row][channel] = Cell{};
    return true;
}

bool expandBlock(Song& song, Block b) {
    if (!clipBlock(song, b)) return false;
    for (int i = 0; i < b.height; ++i) {
        const int at = b.row + 2 * i + 1;
        if (at >= kRows) break;
        for (int c = 0; c < b.width; ++c) insertCell(song, b.pattern, at, b.channel + c);
    }
    int& length = song.patterns[b.pattern].length;
    length = std::max(length, std::min(length + b.height, kRows - 1));
    return true;
}

bool shrinkBlock(Song& song, Block b) {
    if (!clipBlock(song, b)) return false;
    for (int k = 0; k < b.height / 2; ++k)
        for (int c = 0; c < b.width; ++c) deleteCell(song, b.pattern, b.row + k + 1, b.channel + c);
    return true;
}

namespace {

// Last instrument named at or above `fromRow` (walking upwards) in the given
// channel of a pattern; 0 when none.
int lastInstrumentUpwards(const Pattern& p, int fromRow, int channel) {
    for (int r = std::min(fromRow, kRows - 1); r >= 0; --r)
        if (p.rows[r][channel].instrument != 0) return p.rows[r][channel].instrument;
    return 0;
}

int instrumentInForce(const Song& song, int orderPosition, const Block& b, int channel) {
    const bool inOrder = orderPosition >= 0 && orderPosition < song.order.length;
    const Pattern& first = song.patterns[inOrder ? song.order.entries[orderPosition].pattern : b.pattern];
    if (int i = lastInstrumentUpwards(first, b.row, channel)) return i;
    if (inOrder) {
        for (int pos = orderPosition - 1; pos >= 0; --pos) {
            const Pattern& p = song.patterns[song.order.entries[pos].pattern];
            if (int i = lastInstrumentUpwards(p, p.length - 1, channel)) return i;
        }
    }
    return 1;
}

}  // namespace

bool transposeBlock(Song& song, int orderPosition, Block b, int semitones, int filter, bool checkOnly) {
    if (!clipBlock(song, b)) return false;
    semitones = std::clamp(semitones, -kMaxPitch, kMaxPitch);
    for (int c = 0; c < b.width; ++c) {
        int inForce = filter > 0 ? instrumentInForce(song, orderPosition, b, b.channel + c) : 0;
        for (int r = 0; r < b.height; ++r) {
            Cell& cell = cellAt(song, b, r, c);
            if (cell.instrument != 0) inForce = cell.instrument;
            if (!cell.hasNote() || (filter > 0 && inForce != filter)) continue;
            const int pitch = cell.pitch() + semitones;
            if (checkOnly) {
                if (pitch < 0 || pitch > kMaxPitch) return false;
            } else {
                cell.setPitch(std::clamp(pitch, 0, kMaxPitch));
            }
        }
    }
    return true;
}

namespace {

// Gradient over one field of each channel of a clipped block; 0 means "not
// set" and is filled in between two set values.
template <typename Get, typename Set>
void gradient(Song& song, const Block& b, Get get, Set set) {
    for (int c = 0; c < b.width; ++c) {
        int start = 0;
        while (start < b.height && get(cellAt(song, b, start, c)) == 0) ++start;
        while (start < b.height) {
            int end = start + 1;
            while (end < b.height && get(cellAt(song, b, end, c)) == 0) ++end;
            if (end >= b.height) break;
            const int v = get(cellAt(song, b, start, c));
            const int w = get(cellAt(song, b, end, c));
            const int r = end - start;
            const float step = static_cast<float>(w - v) / static_cast<float>(r);
            float x = static_cast<float>(v);
            for (int k = 0; k < r; ++k) {
                set(cellAt(song, b, start + k, c), static_cast<int>(x));
                x += step;
            }
            start = end;
        }
    }
}

template <typename Apply>
void scale(Song& song, const Block& b, int startPercent, int endPercent, Apply apply) {
    const float step = static_cast<float>(endPercent - startPercent) / 100.0f / static_cast<float>(b.height);
    for (int c = 0; c < b.width; ++c) {
        float f = static_cast<float>(startPercent) / 100.0f;
        for (int r = 0; r < b.height; ++r) {
            apply(cellAt(song, b, r, c), f);
            f += step;
        }
    }
}

}  // namespace

bool volumeGradient(Song& song, Block b) {
    if (!clipBlock(song, b)) return false;
    gradient(
        song, b, [](const Cell& c) { return int{c.volume}; },
        [](Cell& c, int v) { c.volume = static_cast<int8_t>(v); });
    return true;
}

bool effectGradient(Song& song, Block b) {
    if (!clipBlock(song, b)) return false;
    gradient(
        song, b, [](const Cell& c) { return int{c.param}; },
        [](Cell& c, int v) { c.param = static_cast<uint8_t>(v); });
    return true;
}

bool volumeScale(Song& song, Block b, int startPercent, int endPercent) {
    if (!clipBlock(song, b)) return false;
    if (b.height == 0) return true;
    scale(song, b, startPercent, endPercent, [](Cell& c, float f) {
        if (c.volume == 0) return;
        c.volume = static_cast<int8_t>(std::clamp(static_cast<float>(c.volume) * f, 1.0f, 31.0f));
    });
    return true;
}

bool effectScale(Song& song, Block b, int startPercent, int endPercent) {
    if (!clipBlock(song, b)) return false;
    if (b.height == 0) return true;
    scale(song, b, startPercent, endPercent, [](Cell& c, float f) {
        c.param = static_cast<uint8_t>(std::clamp(static_cast<float>(c.param) * f, 0.0f, 255.0f));
    });
    return true;
}

bool duplicateBlock(Song& song, Block b, int times) {
    if (!clipBlock(song, b)) return false;
    Pattern& p = song.patterns[b.pattern];
    int dest = b.row + b.height;
    for (int n = 0; n < times && b.height > 0; ++n) {
        for (int r = 0; r < b.height; ++r, ++dest) {
            if (dest > p.length - 1) return true;
            for (int c = 0; c < b.width; ++c)
                p.rows[dest][b.channel + c] = p.rows[b.row + r][b.channel + c];
        }
    }
    return true;
}

bool assignInstrument(Song& song, Block b, int instrument) {
    if (instrument < 0 || instrument > kInstruments) return false;
    if (!clipBlock(song, b)) return false;
    for (int r = 0; r < b.height; ++r)
        for (int c = 0; c < b.width; ++c) {
            Cell& cell = cellAt(song, b, r, c);
            if (cell.hasNote()) cell.instrument = static_cast<int16_t>(instrument);
        }
    return true;
}

bool expandPattern(Song& song, int pattern) {
    if (!validPattern(pattern)) return false;
    Pattern& p = song.patterns[pattern];
    if (p.length > kRows / 2) return false;
    for (int k = 0; k < p.length; ++k)
        for (int c = 0; c < kChannels; ++c) insertCell(song, pattern, 2 * k + 1, c);
    p.length *= 2;
    return true;
}

bool shrinkPattern(Song& song, int pattern) {
    if (!validPattern(pattern)) return false;
    Pattern& p = song.patterns[pattern];
    if (p.length < 2) return false;
    for (int k = 0; k < p.length / 2; ++k)
        for (int c = 0; c < kChannels; ++c) deleteCell(song, pattern, k + 1, c);
    p.length /= 2;
    return true;
}

bool deleteOrderEntry(Song& song, int position) {
    OrderList& o = song.order;
    if (o.length < 2 || position < 0 || position >= o.length) return false;
    for (int i = position; i < o.length - 1; ++i) o.entries[i] = o.entries[i + 1];
    if (position < o.loopPosition) --o.loopPosition;
    --o.length;
    if (o.loopPosition >= o.length) o.loopPosition = static_cast<int16_t>(o.length - 1);
    return true;
}

bool insertOrderEntry(Song& song, int position, OrderInsertKind kind) {
    OrderList& o = song.order;
    if (o.length >= kOrderEntries || position < 0 || position > o.length) return false;
    // Every one of the 256 entries counts, those past the length included, as
    // they stood before the insertion.
    std::array<bool, kPatterns> used{};
    for (const OrderEntry& e : o.entries) used[e.pattern] = true;
    for (int i = o.length; i > position; --i) o.entries[i] = o.entries[i - 1];
    ++o.length;
    if (kind != OrderInsertKind::same) {
        int unused = -1;
        for (int p = 0; p < kPatterns && unused < 0; ++p)
            if (!used[p]) unused = p;
        if (unused >= 0) {
            const int moved = o.entries[position].pattern;
            o.entries[position].pattern = static_cast<uint8_t>(unused);
            if (kind == OrderInsertKind::newPattern)
                song.clearPattern(unused);
            else
                song.patterns[unused] = song.patterns[moved];
        }
    }
    if (position < o.loopPosition) ++o.loopPosition;
    return true;
}

bool swapOrderEntries(Song& song, int a, int b) {
    OrderList& o = song.order;
    if (a < 0 || b < 0 || a >= o.length || b >= o.length) return false;
    std::swap(o.entries[a], o.entries[b]);
    return true;
}

void exchangeInstrumentNumbers(Song& song, int a, int b) {
    for (Pattern& p : song.patterns)
        for (int r = 0; r < p.length && r < kRows; ++r)
            for (Cell& c : p.rows[r]) {
                if (c.instrument == a)
                    c.instrument = static_cast<int16_t>(b);
                else if (c.instrument == b)
                    c.instrument = static_cast<int16_t>(a);
            }
}

int cleanupInstruments(Song& song) {
    std::array<bool, kInstruments + 1> used{};
    for (const Pattern& p : song.patterns)
        for (int r = 0; r < p.length && r < kRows; ++r)
            for (const Cell& c : p.rows[r])
                if (c.instrument > 0 && c.instrument <= kInstruments) used[c.instrument] = true;
    int count = 0;
    for (int i = 1; i <= kInstruments; ++i) {
        if (used[i] || song.instrumentIsFree(i)) continue;
        song.resetInstrument(i);
        ++count;
    }
    return count;
}

void rearrangeInstruments(Song& song) {
    for (int i = 1; i <= kInstruments; ++i) {
        if (!song.instrumentIsFree(i)) continue;
        int j = i + 1;
        while (j <= kInstruments && song.instrumentIsFree(j)) ++j;
        if (j > kInstruments) return;
        std::swap(song.instrument(i), song.instrument(j));
        exchangeInstrumentNumbers(song, i, j);
    }
}

void swapPatterns(Song& song, int a, int b) {
    if (!validPattern(a) || !validPattern(b) || a == b) return;
    std::swap(song.patterns[a], song.patterns[b]);
    for (int i = 0; i < song.order.length; ++i) {
        uint8_t& p = song.order.entries[i].pattern;
        if (p == a)
            p = static_cast<uint8_t>(b);
        else if (p == b)
            p = static_cast<uint8_t>(a);
    }
}

void rearrangePatterns(Song& song) {
    int next = 0;
    for (int i = 0; i < song.order.length; ++i) {
        const int p = song.order.entries[i].pattern;
        if (p < next) continue;  // already numbered
        swapPatterns(song, p, next);
        ++next;
    }
    for (int p = next; p < kPatterns; ++p) song.clearPattern(p);
}

}  // namespace qv
