// The song document: the one road by which the editor changes the Song. An
// edit names the part it touches and passes a function that changes the Song;
// the document runs it under the Player's song lock, refreshes the timing
// cache when timing can change, records an undo step that holds only what
// changed, and tells its listeners which parts changed. Module load and save
// go through it; the disk is never touched with the lock held.
//
// Threads: edits, undo, redo, load, save and the listeners all run on one
// thread (the editor's). That thread is the only one that writes the Song, so
// it may read the Song without the lock (song()); any other thread reads
// through read() or copySong(), which take the lock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "document/undo_history.h"
#include "song/song.h"

namespace qv {

class Player;

class SongDocument {
public:
    SongDocument(Song& song, Player& player);
    SongDocument(const SongDocument&) = delete;
    SongDocument& operator=(const SongDocument&) = delete;
    ~SongDocument();

    // Applies one edit. `scope` names the part the change touches (the
    // patterns it names are the ones compared for the undo step; every other
    // part is always compared). Takes the song lock, runs change(song),
    // refreshes the timing cache when timing can change, releases the lock,
    // records one undo step named `what` and tells the listeners. An edit that
    // changes nothing records nothing and reports false.
    // mergeKey: a non-empty key joins this edit to the step before when that
    // step has the same key, is the newest, was made less than mergeWindowMs
    // ago and has not been sealed (one knob drag, one burst of keys or wheel
    // notches on one control, one run of typing).
    bool edit(const std::string& what, const SongChange& scope, const std::function<void(Song&)>& change,
              const std::string& mergeKey = {});
    // Ends merging into the newest step (a knob released, the focus left a text).
    void sealMerge() { history_.seal(); }

    bool canUndo() const { return history_.canUndo(); }
    bool canRedo() const { return history_.canRedo(); }
    // The name of the step undo/redo would take back/again ("" when none).
    std::string undoText() const { return history_.undoText(); }
    std::string redoText() const { return history_.redoText(); }
    // Each reports false (and does nothing) when there is nothing to take.
    bool undo();
    bool redo();

    // Differs from the saved or loaded state (undoing back to it clears it).
    bool isModified() const { return history_.isModified(); }
    // The current state is the saved one.
    void setClean();

    // Loads a module (result codes as loadModule); on success the history is
    // cleared and the state is clean. On failure the song stays as it was.
    int load(const std::filesystem::path& path);
    // Copies the song under the lock, writes it outside; on success the save
    // stamps (date, count) go into the song and the state is clean.
    bool save(const std::filesystem::path& path);
    // A copy of the song taken under the lock (from any thread). The lock is
    // taken a few patterns at a time, so the audio thread never waits long.
    Song copySong() const;
    void copySongInto(Song& out) const;
    // Puts a whole song in place of the current one. With `what` empty the
    // history starts afresh: clean when !modified (a new song), modified with
    // no clean state in reach otherwise (a recovered song). With a `what`
    // ("Import MOD") it is one undoable step and `modified` is not used.
    void replaceSong(const Song& song, bool modified, const std::string& what = {});

    using Listener = std::function<void(const SongChange&)>;
    int addListener(Listener l);
    void removeListener(int id);
    // Called at every edit to fill the "where" fields of its SongChange that
    // the caller left at -1 (the editor's cursor and order position).
    void setPlaceSource(std::function<void(SongChange&)> source) { placeSource_ = std::move(source); }

    // The Song for reading on the document's thread (no lock needed there).
    const Song& song() const { return song_; }
    // Runs f(const Song&) under the lock, for other threads.
    template <class F>
    auto read(F&& f) const {
        HeldLock lock(*this);
        return f(static_cast<const Song&>(song_));
    }
    // Frames of the played pass (pattern loops included, as the exports
    // record it), as last computed.
    int lengthFrames() const { return lengthFrames_; }
    // Frames played before (orderPosition, row), under the lock.
    int framesAt(int orderPosition, int row);
    // Refreshes the timing cache (after a load that bypassed the document).
    void refreshTiming();
    // The Player's note and vibrato tables for a chip clock, under the lock.
    void buildNoteTables(uint32_t clock);
    // Moves a playing Player to an order position, under the lock.
    void setPlayPosition(int orderPosition);
    // The step undo / redo would take, or null.
    const UndoStep* nextUndo() const { return history_.nextUndo(); }
    const UndoStep* nextRedo() const { return history_.nextRedo(); }

    // History inspection and limits.
    const UndoHistory& history() const { return history_; }
    void setMemoryBudget(size_t bytes) { history_.setBudget(bytes); }
    void setMergeWindowMs(int64_t ms) { mergeWindowMs_ = ms; }
    // The longest time the document has held the song lock in one go (since
    // the last reset), in nanoseconds: what the audio thread may have waited.
    int64_t longestLockHoldNs() const { return longestHoldNs_.load(std::memory_order_relaxed); }
    void resetLockStats() { longestHoldNs_.store(0, std::memory_order_relaxed); }
    // Milliseconds of a steady clock; replaceable for tests.
    void setClock(std::function<int64_t()> clock) { clock_ = std::move(clock); }

private:
    // The song lock for one hold, timed.
    class HeldLock {
    public:
        explicit HeldLock(const SongDocument& doc);
        ~HeldLock();
        HeldLock(const HeldLock&) = delete;
        HeldLock& operator=(const HeldLock&) = delete;

    private:
        const SongDocument& doc_;
        std::lock_guard<std::mutex> lock_;
        std::chrono::steady_clock::time_point start_;
    };

    std::mutex& mutex() const;
    void notify(const SongChange& change);
    // Under the lock: the song's timing cache after a change of these parts.
    void afterChangeLocked(unsigned parts);
    bool swapStep(UndoStep* step, SongChange::Cause cause);

    Song& song_;
    Player& player_;
    UndoHistory history_;
    std::unique_ptr<SongSnapshot> scratch_;
    std::map<int, Listener> listeners_;
    int nextListener_ = 1;
    std::function<void(SongChange&)> placeSource_;
    std::function<int64_t()> clock_;
    int64_t mergeWindowMs_ = 1500;
    int lengthFrames_ = 0;
    // Bumped under the lock by every change; lets copySong see a change made
    // between two of its slices and start again.
    std::atomic<uint64_t> generation_{0};
    mutable std::atomic<int64_t> longestHoldNs_{0};
};

}  // namespace qv
