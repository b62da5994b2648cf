// Register dump (.qzd, magic "QZMD"): the chips' register writes frame by
// frame for a small replay routine on the target machine or a Mega Drive.
//
// Frame stream codes where a register number would stand:
//   0xFF      start of the next frame
//   0xFE n    n + 3 frame starts: n + 2 empty frames, then a frame with writes
//   0xFD      the following pairs go to the second chip
//   0xFA      loop point
//   0xFB      end of data
//   r v       write v to register r of the current chip
// A frame starts with the first chip selected.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/frame_log.h"

namespace qv {

class Player;
class ChipPair;
struct Song;

namespace qzd {
constexpr uint8_t kFrame = 0xFF;
constexpr uint8_t kRun = 0xFE;
constexpr uint8_t kSecondChip = 0xFD;
constexpr uint8_t kEnd = 0xFB;
constexpr uint8_t kLoop = 0xFA;
// Frame starts one 0xFE code can carry.
constexpr int kMaxRun = 258;
}  // namespace qzd

// Builds the whole file. The loop mark stands directly after the texts when
// the loop frame is frame 0, otherwise right after the loop frame's start
// code. A run of frame starts ending in a frame with writes is packed into
// 0xFE codes when it is 3 or longer; a run of more than 258 becomes a chain
// of 0xFE codes of at least 3 starts each (258, 258, ..., the rest), so a
// routine that simply counts frame starts replays it unchanged. Writes to
// registers 0xFA and up cannot be represented and are left out.
std::vector<uint8_t> encodeQzd(const ExportTexts& texts, const FrameLog& log);

// Records one pass of the song with the note tables built for clock and
// writes the dump. False when the file cannot be written.
bool exportRegisterDump(Player& player, ChipPair& chips, Song& song, const std::string& path,
                        uint32_t clock);

}  // namespace qv
