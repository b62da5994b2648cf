#include "document/undo_history.h"

#include <algorithm>
#include <cstring>

namespace qv {

static_assert(sizeof(Cell) == 8, "rows are compared bytewise: a Cell has no padding");

namespace {

bool sameRow(const Row& a, const Row& b) { return std::memcmp(a.data(), b.data(), sizeof(Row)) == 0; }

// The order list as the file holds it: length, loop position and the 256
// pattern numbers; the timing fields are derived and not compared.
bool sameOrder(const OrderList& a, const OrderList& b) {
    if (a.length != b.length || a.loopPosition != b.loopPosition) return false;
    for (int i = 0; i < kOrderEntries; ++i)
        if (a.entries[i].pattern != b.entries[i].pattern) return false;
    return true;
}

std::array<int, 3> speedsOf(const Song& s) { return {s.speedEven, s.speedOdd, s.interleave}; }
std::array<uint16_t, 3> stampsOf(const Song& s) { return {s.created, s.saved, s.saveCount}; }

}  // namespace

void SongSnapshot::take(const Song& song, const SongChange& scope) {
    patternNumbers.clear();
    if (scope.touches(SongChange::WholeSong) ||
        ((scope.parts & (SongChange::Cells | SongChange::PatternLength)) && scope.pattern < 0)) {
        for (int p = 0; p < kPatterns; ++p) patternNumbers.push_back(p);
    } else if (scope.parts & (SongChange::Cells | SongChange::PatternLength)) {
        patternNumbers.push_back(std::clamp(scope.pattern, 0, kPatterns - 1));
    }
    patterns.resize(patternNumbers.size());
    for (size_t i = 0; i < patternNumbers.size(); ++i) patterns[i] = song.patterns[patternNumbers[i]];
    order = song.order;
    instruments = song.instruments;
    speeds = speedsOf(song);
    trackName = song.trackName;
    author = song.author;
    message = song.message;
    stamps = stampsOf(song);
}

bool UndoStep::diff(const SongSnapshot& before, const Song& after) {
    const unsigned declared = change.parts;
    unsigned found = 0;
    int onePattern = -1, patternCount = 0;
    for (size_t i = 0; i < before.patternNumbers.size(); ++i) {
        const int p = before.patternNumbers[i];
        const Pattern& b = before.patterns[i];
        const Pattern& a = after.patterns[p];
        int first = 0;
        while (first < kRows && sameRow(b.rows[first], a.rows[first])) ++first;
        if (first == kRows && b.length == a.length) continue;
        Rows r;
        r.pattern = p;
        r.length = b.length;
        r.firstRow = first == kRows ? 0 : first;
        if (first < kRows) {
            int last = kRows - 1;
            while (sameRow(b.rows[last], a.rows[last])) --last;
            r.rows.assign(b.rows.begin() + first, b.rows.begin() + last + 1);
            found |= SongChange::Cells;
            if (patternCount == 0 && change.firstRow < 0) {
                change.firstRow = first;
                change.lastRow = last;
            }
        }
        if (b.length != a.length) found |= SongChange::PatternLength;
        onePattern = p;
        ++patternCount;
        patterns.push_back(std::move(r));
    }
    for (int i = 0; i < kInstruments; ++i) {
        if (before.instruments[i] == after.instruments[i]) continue;
        if (instruments.empty()) change.instrument = i + 1;
        else change.instrument = -1;
        instruments.emplace_back(i, before.instruments[i]);
        found |= SongChange::Instrument;
    }
    if (!sameOrder(before.order, after.order)) {
        order = std::make_unique<OrderList>(before.order);
        found |= SongChange::OrderList;
    }
    if (before.speeds != speedsOf(after)) {
        speeds = before.speeds;
        found |= SongChange::Speeds;
    }
    if (before.trackName != after.trackName || before.author != after.author ||
        before.message != after.message) {
        texts = std::make_unique<Texts>(Texts{before.trackName, before.author, before.message});
        found |= SongChange::Texts;
    }
    if (before.stamps != stampsOf(after)) {
        stamps = before.stamps;
        found |= SongChange::Texts;
    }
    change.parts = found | (declared & SongChange::WholeSong);
    change.pattern = patternCount == 1 ? onePattern : -1;
    if (patternCount != 1) change.firstRow = change.lastRow = -1;
    return found != 0;
}

void UndoStep::absorb(UndoStep& later, const Song& song) {
    for (Rows& l : later.patterns) {
        auto it = std::find_if(patterns.begin(), patterns.end(),
                               [&](const Rows& r) { return r.pattern == l.pattern; });
        if (it == patterns.end()) {
            patterns.push_back(std::move(l));
            continue;
        }
        Rows& a = *it;
        if (l.rows.empty()) continue;  // only the length changed: ours is the older one
        if (a.rows.empty()) {
            a.firstRow = l.firstRow;
            a.rows = std::move(l.rows);
            continue;
        }
        const int aEnd = a.firstRow + static_cast<int>(a.rows.size());
        const int lEnd = l.firstRow + static_cast<int>(l.rows.size());
        const int lo = std::min(a.firstRow, l.firstRow), hi = std::max(aEnd, lEnd);
        std::vector<Row> rows(static_cast<size_t>(hi - lo));
        for (int r = lo; r < hi; ++r) {
            // The oldest state of each row: ours where we hold it, the later
            // step's where it holds it, the song's (untouched by both) elsewhere.
            if (r >= a.firstRow && r < aEnd) rows[r - lo] = a.rows[r - a.firstRow];
            else if (r >= l.firstRow && r < lEnd) rows[r - lo] = l.rows[r - l.firstRow];
            else rows[r - lo] = song.patterns[a.pattern].rows[r];
        }
        a.firstRow = lo;
        a.rows = std::move(rows);
    }
    for (auto& l : later.instruments) {
        auto it = std::find_if(instruments.begin(), instruments.end(),
                               [&](const auto& i) { return i.first == l.first; });
        if (it == instruments.end()) instruments.push_back(l);
    }
    if (!order) order = std::move(later.order);
    if (!speeds) speeds = later.speeds;
    if (!texts) texts = std::move(later.texts);
    if (!stamps) stamps = later.stamps;

    SongChange& c = change;
    const SongChange& d = later.change;
    c.parts |= d.parts;
    if (c.pattern != d.pattern) c.pattern = -1;
    if (c.instrument != d.instrument) c.instrument = -1;
    if (c.pattern < 0 || c.firstRow < 0 || d.firstRow < 0) {
        c.firstRow = c.lastRow = -1;
    } else {
        c.firstRow = std::min(c.firstRow, d.firstRow);
        c.lastRow = std::max(c.lastRow, d.lastRow);
    }
}

void UndoStep::exchange(Song& song) {
    for (Rows& r : patterns) {
        Pattern& p = song.patterns[r.pattern];
        std::swap_ranges(r.rows.begin(), r.rows.end(), p.rows.begin() + r.firstRow);
        std::swap(r.length, p.length);
    }
    for (auto& [i, ins] : instruments) std::swap(ins, song.instruments[i]);
    if (order) std::swap(*order, song.order);
    if (speeds) {
        std::swap((*speeds)[0], song.speedEven);
        std::swap((*speeds)[1], song.speedOdd);
        std::swap((*speeds)[2], song.interleave);
    }
    if (texts) {
        std::swap(texts->trackName, song.trackName);
        std::swap(texts->author, song.author);
        std::swap(texts->message, song.message);
    }
    if (stamps) {
        std::swap((*stamps)[0], song.created);
        std::swap((*stamps)[1], song.saved);
        std::swap((*stamps)[2], song.saveCount);
    }
}

size_t UndoStep::bytes() const {
    size_t n = sizeof(UndoStep) + what.capacity() + mergeKey.capacity();
    for (const Rows& r : patterns) n += sizeof(Rows) + r.rows.capacity() * sizeof(Row);
    n += instruments.capacity() * sizeof(instruments[0]);
    if (order) n += sizeof(OrderList);
    if (texts) n += sizeof(Texts);
    return n;
}

// ---------------------------------------------------------------- history

void UndoHistory::setBudget(size_t bytes) {
    budget_ = bytes;
    trim();
}

void UndoHistory::reset(bool clean) {
    steps_.clear();
    index_ = 0;
    bytes_ = 0;
    clean_ = clean ? 0 : -1;
    sealed_ = false;
}

UndoStep* UndoHistory::mergeTarget(const std::string& key, int64_t nowMs, int64_t windowMs) {
    if (key.empty() || sealed_ || index_ == 0 || index_ != steps_.size() ||
        clean_ == static_cast<long>(index_))
        return nullptr;
    UndoStep* top = steps_.back().get();
    if (top->mergeKey != key || nowMs - top->lastMs > windowMs) return nullptr;
    return top;
}

void UndoHistory::push(std::unique_ptr<UndoStep> step) {
    while (steps_.size() > index_) {
        bytes_ -= steps_.back()->bytes();
        steps_.pop_back();
    }
    if (clean_ > static_cast<long>(index_)) clean_ = -1;
    bytes_ += step->bytes();
    steps_.push_back(std::move(step));
    ++index_;
    sealed_ = false;
    trim();
}

void UndoHistory::grew(size_t before, size_t after) {
    bytes_ = bytes_ - before + after;
    trim();
}

UndoStep* UndoHistory::takeUndo() {
    if (!canUndo()) return nullptr;
    sealed_ = true;
    return steps_[--index_].get();
}

UndoStep* UndoHistory::takeRedo() {
    if (!canRedo()) return nullptr;
    sealed_ = true;
    return steps_[index_++].get();
}

void UndoHistory::trim() {
    // The newest step stays even alone over the budget.
    while (bytes_ > budget_ && steps_.size() > 1) {
        if (index_ == 0) {  // everything undone: the newest redo step goes
            bytes_ -= steps_.back()->bytes();
            steps_.pop_back();
            if (clean_ > static_cast<long>(steps_.size())) clean_ = -1;
            continue;
        }
        bytes_ -= steps_.front()->bytes();
        steps_.pop_front();
        --index_;
        clean_ = clean_ > 0 ? clean_ - 1 : -1;
    }
}

}  // namespace qv
