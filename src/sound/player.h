// The sequencer: once per frame `tick` reads the Song at the current position
// and turns rows, instruments, volumes and effects into register writes
// appended to the ChipPair's RegisterWriteQueue. It never touches the chips
// itself except through ChipPair::reset when playback starts or stops.
#pragma once

#include <atomic>
#include <mutex>

#include "sound/chip_pair.h"
#include "song/song.h"

namespace qv {

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
    // cached timing.
    int songLengthFrames();
    int framesAt(int orderPosition, int row);

    // Held around every tick and around every Song edit.
    std::mutex& songMutex() { return songMutex_; }

    // Set by the sample source while it produces samples; stop waits for it.
    std::atomic<bool> renderBusy{false};
    // Set while an exporter drives the Player from its own thread: the audio
    // thread then neither ticks nor applies the queue.
    std::atomic<bool> exportDriving{false};

    std::atomic<bool> playing{false};

    // (the implementation adds its state below)
private:
    Song& song_;
    ChipPair& chips_;
    std::mutex songMutex_;
};

}  // namespace qv
