// VGM 1.01 for one YM2612 at 7 670 442 Hz with a GD3 1.00 tag. The first
// YM2203's writes go to port 0, the second's to port 1, except the second
// chip's key on/off (register 0x28), which goes to port 0 with bit 2 of the
// value set inverted so that its channels 0-2 become the YM2612's 4-6.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/frame_log.h"

namespace qv {

class Player;
class ChipPair;
struct Song;

namespace vgm {
constexpr uint32_t kClock = 7670442;
constexpr uint32_t kVersion = 0x101;
constexpr uint32_t kDataStart = 0x40;
constexpr uint8_t kWaitFrame = 0x63;
constexpr uint8_t kWait = 0x61;
constexpr uint8_t kPort0 = 0x52;
constexpr uint8_t kPort1 = 0x53;
constexpr uint8_t kEnd = 0x66;
constexpr int kMaxWait = 65535;
constexpr const char* kSystemName = "Zentaro - ZX Spectrum Sound Extension (2xYM2203)";
constexpr const char* kConverter = "Qorvette VGM Exporter";
}  // namespace vgm

// "%4.4i/%2.2i/%2.2i" of a packed date: year + 2000, month, day.
std::string vgmReleaseDate(uint16_t packed);

// Builds the whole file. Every frame is a 0x63 wait followed by its writes in
// queue order. A run of 4 or more waits that ends in a frame with writes is
// replaced by 0x61 waits (65535 samples at most each, the remainder last).
// A run never reaches across the loop point: the loop offset is taken after
// the loop frame's wait (after packing its run when the frame has writes)
// and the count of waits starts afresh there. A loop at frame 0 points at
// the first wait (offset 0x40).
std::vector<uint8_t> encodeVgm(const ExportTexts& texts, const FrameLog& log);

// Records one pass with the Mega Drive note tables and writes the file.
// False when the file cannot be written.
bool exportVgm(Player& player, ChipPair& chips, Song& song, const std::string& path);

}  // namespace qv
