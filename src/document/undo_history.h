// Undo steps and the history that holds them. A step keeps only what changed
// (the changed rows of each pattern, the changed instruments, the order list,
// the speeds, the texts) in the state it does NOT currently show: undoing
// exchanges that state with the Song's, and redoing exchanges it back, so one
// copy of the changed data serves both directions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "song/song.h"

namespace qv {

// What one change touched: a typed hint, so views refresh only that.
struct SongChange {
    enum Part : unsigned {
        Cells = 1,
        PatternLength = 2,
        OrderList = 4,
        Speeds = 8,
        Instrument = 16,
        Texts = 32,
        WholeSong = 64,
    };
    enum class Cause { Edit, Undo, Redo, Load, Save, Replace };

    unsigned parts = 0;
    int pattern = -1;     // the pattern touched; -1 = every pattern (or none)
    int instrument = -1;  // the instrument number 1-255 touched; -1 = any
    int firstRow = -1;    // rows of `pattern` touched; -1 = not known
    int lastRow = -1;
    // Where the editor stood when the change was made (filled by the
    // document's place source when left at -1); undo and redo go back there.
    int orderPosition = -1;
    int cursorRow = -1;
    int cursorColumn = -1;
    Cause cause = Cause::Edit;

    // True when the change touched any of `p` (a whole song touches all).
    bool touches(unsigned p) const { return (parts & (p | WholeSong)) != 0; }
    // Timing (order entry speeds and frame counts) may have changed.
    bool touchesTiming() const { return touches(Cells | PatternLength | OrderList | Speeds); }

    static SongChange cells(int pattern, int firstRow = -1, int lastRow = -1) {
        SongChange c;
        c.parts = Cells;
        c.pattern = pattern;
        c.firstRow = firstRow;
        c.lastRow = lastRow;
        return c;
    }
    static SongChange patternLength(int pattern) {
        SongChange c;
        c.parts = Cells | PatternLength;
        c.pattern = pattern;
        return c;
    }
    static SongChange allPatterns() { return cells(-1); }
    static SongChange orderList() { return part(OrderList); }
    static SongChange speeds() { return part(Speeds); }
    static SongChange instrumentPart(int number) {
        SongChange c = part(Instrument);
        c.instrument = number;
        return c;
    }
    static SongChange texts() { return part(Texts); }
    static SongChange wholeSong() { return part(WholeSong); }
    static SongChange part(unsigned p) {
        SongChange c;
        c.parts = p;
        return c;
    }
};

// The parts of a Song an edit may touch, copied before it runs.
struct SongSnapshot {
    std::vector<int> patternNumbers;
    std::vector<Pattern> patterns;
    OrderList order;
    std::array<Instrument, kInstruments> instruments;
    std::array<int, 3> speeds{};
    std::array<char, kTrackNameSize> trackName{};
    std::array<char, kAuthorSize> author{};
    std::array<char, kMessageSize> message{};
    std::array<uint16_t, 3> stamps{};  // created, saved, saveCount

    // Copies the patterns the scope names (all of them for a whole song or a
    // pattern of -1) and every other part.
    void take(const Song& song, const SongChange& scope);
};

// One undoable change.
struct UndoStep {
    struct Rows {
        int pattern = 0;
        int firstRow = 0;
        int32_t length = 0;
        std::vector<Row> rows;
    };
    struct Texts {
        std::array<char, kTrackNameSize> trackName{};
        std::array<char, kAuthorSize> author{};
        std::array<char, kMessageSize> message{};
    };

    std::string what;
    SongChange change;
    std::string mergeKey;
    int64_t lastMs = 0;
    std::vector<Rows> patterns;
    std::vector<std::pair<int, Instrument>> instruments;  // instrument index 0-254
    std::unique_ptr<OrderList> order;
    std::optional<std::array<int, 3>> speeds;
    std::unique_ptr<Texts> texts;
    std::optional<std::array<uint16_t, 3>> stamps;

    // Builds the step from the state before (snapshot) and the song after;
    // false when nothing differs. Fills change.parts with the parts found.
    bool diff(const SongSnapshot& before, const Song& after);
    // Joins `later` (made right after this step, the song now after both) so
    // that this step takes both back at once.
    void absorb(UndoStep& later, const Song& song);
    // Exchanges the held state with the song's: undo and redo alike.
    void exchange(Song& song);
    size_t bytes() const;
    bool empty() const {
        return patterns.empty() && instruments.empty() && !order && !speeds && !texts && !stamps;
    }
};

// The steps in order, the position between done and undone ones, the clean
// position and the memory budget (the oldest steps go first).
class UndoHistory {
public:
    static constexpr size_t kDefaultBudget = 64u << 20;

    bool canUndo() const { return index_ > 0; }
    bool canRedo() const { return index_ < steps_.size(); }
    std::string undoText() const { return canUndo() ? steps_[index_ - 1]->what : std::string(); }
    std::string redoText() const { return canRedo() ? steps_[index_]->what : std::string(); }
    bool isModified() const { return clean_ != static_cast<long>(index_); }
    const UndoStep* nextUndo() const { return canUndo() ? steps_[index_ - 1].get() : nullptr; }
    const UndoStep* nextRedo() const { return canRedo() ? steps_[index_].get() : nullptr; }
    size_t undoCount() const { return index_; }
    size_t redoCount() const { return steps_.size() - index_; }
    size_t memoryUsed() const { return bytes_; }
    size_t budget() const { return budget_; }

    void setBudget(size_t bytes);
    void setClean() { clean_ = static_cast<long>(index_); }
    // Empties the history; clean or with no clean state in reach.
    void reset(bool clean);
    void seal() { sealed_ = true; }

    // The newest step when `key` may merge into it (not sealed, not the clean
    // state, nothing undone, same key, within the window), else null.
    UndoStep* mergeTarget(const std::string& key, int64_t nowMs, int64_t windowMs);
    // Adds a step after the done ones, dropping the undone ones.
    void push(std::unique_ptr<UndoStep> step);
    // Re-counts the memory of the newest step after it absorbed another.
    void grew(size_t before, size_t after);
    // The step to undo / redo, moving the position; null when none.
    UndoStep* takeUndo();
    UndoStep* takeRedo();

private:
    void trim();

    std::deque<std::unique_ptr<UndoStep>> steps_;
    size_t index_ = 0;
    long clean_ = 0;  // -1: the clean state is no longer in the history
    size_t bytes_ = 0;
    size_t budget_ = kDefaultBudget;
    bool sealed_ = false;
};

}  // namespace qv
