// Runs the Player frame by frame on the calling thread and records the
// register writes of each frame for the VGM and register-dump encoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "io/frame_log.h"

namespace qv {

class Player;
class ChipPair;
struct Song;
struct RegisterWriteQueue;

// What one tick did.
struct TickReport {
    bool wrapped = false;  // the order list wrapped to the loop position
    bool readRow = false;  // the tick read a row (frameInRow was 0)
    bool playing = true;   // the Player still plays afterwards
};

// Records one pass: every frame from the first up to and including the last
// frame of the last row. Recording stops at the first frame after the wrap
// that reads a row; that frame is not recorded. The loop frame is frame 0
// when loopAtStart, otherwise the first frame that reads a row after a frame
// that queued the loop placeholder. At most maxFrames frames are recorded.
void recordFrames(const std::function<TickReport()>& tick, const RegisterWriteQueue& queue,
                  bool loopAtStart, size_t maxFrames, FrameLog& log);

// Drives the Player from order position 0 with the note tables built for
// clock and records one pass; the tables are rebuilt for 3 500 000 Hz and the
// Player is stopped afterwards. While it runs, player.exportDriving keeps the
// audio thread from ticking the Player or applying the queue.
void recordSong(Player& player, ChipPair& chips, const Song& song, FrameLog& log, uint32_t clock);

// The song's texts and save date for the exporters.
ExportTexts exportTexts(const Song& song);

}  // namespace qv
