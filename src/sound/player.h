// The sequencer: once per frame `tick` reads the Song at the current position
// and turns rows, instruments, volumes and effects into register writes
// appended to the ChipPair's RegisterWriteQueue. It never touches the chips
// itself except through ChipPair::reset when playback starts or stops.
#pragma once

#include <array>
#include <atomic>
#include <mutex>

#include "sound/channel_writes.h"
#include "sound/chip_pair.h"
#include "sound/note_tables.h"
#include "song/song.h"

namespace qv {

// Locking rule (one rule for every caller):
//  - songMutex() is held by the caller around tick(), around every Song edit,
//    and around setPosition(), resetChannels(), songLengthFrames(),
//    framesAt() and buildNoteTables(). None of these lock it themselves.
//  - start(), stop() and stopIfHeld() are called WITHOUT the mutex held: they
//    take it themselves while they prepare or clear the state, the queue and
//    the chips. stop() first waits for renderBusy to clear, and the thread
//    that sets renderBusy may be waiting for the mutex, so holding it there
//    would deadlock.
// The position fields that the user interface shows while a song plays are
// published after every start, tick and setPosition as relaxed atomics
// (position()); each value is whole, the set of six may mix two frames.
struct PlayPosition {
    int orderPosition = 0;
    int row = 0;
    int pattern = 0;
    int speedEven = 3;
    int speedOdd = 3;
    int interleave = 1;
};

// Told whenever the published play position changes, on the thread that
// moved it (the audio thread in tick; the caller of start or setPosition).
class PositionListener {
public:
    virtual ~PositionListener() = default;
    virtual void positionChanged() = 0;
};

class Player {
public:
    Player(Song& song, ChipPair& chips);

    // Reports true (and does nothing) when already playing; otherwise starts
    // and reports false.
    bool start(int orderPosition, int row, bool stopAfterRow, bool loopPattern, bool stopOnRelease,
               int soloChannel);
    // One frame. Returns true when the order list wrapped to the loop position
    // during this frame. The caller holds songMutex().
    bool tick();
    // playing := false, waits for renderBusy to clear, empties the queue and
    // resets the chips.
    void stop();
    bool stopIfHeld();
    bool isPlaying() const { return playing.load(std::memory_order_acquire); }
    void setPosition(int index);
    void resetChannels();
    // Frames of one pass through the order list; refreshes the order entries'
    // cached timing, which start() takes its speeds from: run it after every
    // change that affects timing.
    int songLengthFrames();
    // Frames played before (orderPosition, row): the entry's cached total
    // plus its rows above, counted from the entry's cached speeds with the
    // speed toggle at its even start (the cache keeps no toggle) and with the
    // speed effects of those rows. A position past the end of the list gives
    // the whole song's length.
    int framesAt(int orderPosition, int row);
    // Frames of the pass that playback from the start goes through and that
    // the exporters record: every row from order position 0, row 0, up to
    // and including the row whose end wraps the order list to the loop
    // position, with pattern loops and speed effects taken as tick takes
    // them (unlike songLengthFrames, which counts each order entry's rows
    // once). Refreshes the cached timing first (songLengthFrames), as the
    // pass starts from it. Walks rows only: no writes, no chips, and the
    // Player's own state is left alone. At most kPassCeiling.
    int passFrames();
    static constexpr int kPassCeiling = 4000000;  // about 22 hours

    // Held around every tick and around every Song edit.
    std::mutex& songMutex() { return songMutex_; }

    // Set by the sample source while it produces samples; stop waits for it.
    std::atomic<bool> renderBusy{false};
    // Set while an exporter drives the Player from its own thread: the audio
    // thread then neither ticks nor applies the queue.
    std::atomic<bool> exportDriving{false};

    std::atomic<bool> playing{false};

    // Readable from any thread without the mutex.
    PlayPosition position() const;
    // One listener at most; null removes it. Whoever removes it waits for the
    // renderer afterwards (AudioOutput::syncWithRenderer) before it goes.
    void setPositionListener(PositionListener* listener) {
        positionListener_.store(listener, std::memory_order_release);
    }

    // Rebuilds the note and vibrato tables for a chip clock (3 500 000 for the
    // live chips, 3 835 221 for the Mega Drive exports).
    void buildNoteTables(uint32_t clock) { tables_.buildNoteTables(clock); }
    const NoteTables& noteTables() const { return tables_; }

    // Inspection for tests and tools (read under the mutex).
    const PlayerChannel& channel(int c) const { return channels_[c]; }
    int channel3Mode() const { return channel3Mode_; }
    int frameInRow() const { return frameInRow_; }
    int loopCount() const { return loopCount_; }
    int soloChannel() const { return soloChannel_; }
    bool stopOnRelease() const { return stopOnRelease_; }
    // The one-row sound of an entry (started with stopAfterRow).
    bool stopAfterRow() const { return stopAfterRow_; }

private:
    struct LoopSave {
        int speedEven = 0, speedOdd = 0, interleave = 0;
        int useOddSpeed = 0, interleaveCounter = 0;
        int row = -1, orderPosition = -1;
    };

    // Effect F at row reading (0 brings back the Song's three values).
    void speedEffect(int param, int& speedEven, int& speedOdd, int& interleave) const;
    // Effect E6x at row reading; here is the state a loop start saves.
    // Returns true when playback jumps back to the loop save.
    static bool loopEffect(int x, int& loopCount, LoopSave& save, const LoopSave& here);

    void clearState();
    void seekBackwards(int orderPosition, int row);
    // Reads the row at the position and moves on; false when the Player
    // stopped after the row.
    bool readRow();
    void readChannel(int c, const Cell& cell);
    void rememberEffect(int c, const Cell& cell);
    void effectE(int c, int param);
    void advanceRow();
    void frameEffects(int c);
    void publishPosition();
    int orderLength() const;
    int patternLength(int pattern) const;
    int patternAt(int orderPosition) const;
    int currentSpeed() const { return useOddSpeed_ ? speedOdd_ : speedEven_; }

    Song& song_;
    ChipPair& chips_;
    std::mutex songMutex_;
    NoteTables tables_;
    std::array<PlayerChannel, kChannels> channels_{};
    ChannelWriter writer_;

    int frameInRow_ = 0;
    int speedEven_ = 3, speedOdd_ = 3, interleave_ = 1;
    int interleaveCounter_ = 0;
    int useOddSpeed_ = 0;
    int orderPosition_ = 0, pattern_ = 0, row_ = 0;
    int channel3Mode_ = 0;
    int soloChannel_ = -1;
    bool stopAfterRow_ = false, loopPattern_ = false, stopOnRelease_ = false;
    int loopCount_ = 16;
    bool loopJump_ = false;
    LoopSave loopSave_{};
    bool wrapped_ = false;

    std::atomic<int> shownOrderPosition_{0}, shownRow_{0}, shownPattern_{0};
    std::atomic<int> shownSpeedEven_{3}, shownSpeedOdd_{3}, shownInterleave_{1};
    std::atomic<PositionListener*> positionListener_{nullptr};
};

}  // namespace qv
