// VGM files with a GD3 1.00 tag, for two targets:
//  - VGM 1.01 for one YM2612 at 7 670 442 Hz (the Mega Drive). The first
//    YM2203's writes go to port 0, the second's to port 1, except the second
//    chip's key on/off (register 0x28), which goes to port 0 with bit 2 of
//    the value inverted so that its channels 0-2 become the YM2612's 4-6.
//  - VGM 1.51 for the two YM2203 of the sound extension at 3 500 000 Hz
//    (dual-chip bit set in the clock): command 0x55 carries the first chip's
//    writes and 0xA5 the second's, exactly as the chips receive them.
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
constexpr uint32_t kVersion151 = 0x151;
constexpr uint32_t kDataStart151 = 0x80;  // the 1.51 header ends here
constexpr uint32_t kDualChip = 0x40000000;
constexpr uint8_t kYm2203 = 0x55;
constexpr uint8_t kYm2203Second = 0xA5;
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

// Builds the whole YM2612 file. The data opens with the six writes that
// switch left and right output on for every channel (port 0 and port 1,
// registers 0xB4-0xB6, value 0xC0). Every frame is a 0x63 wait followed by its writes in
// queue order. A run of 4 or more waits that ends in a frame with writes is
// replaced by 0x61 waits (65535 samples at most each, the remainder last).
// A run never reaches across the loop point: the loop offset points at the
// loop frame's wait (so a looping replay keeps the last frame's length), the
// waits before it stay single and the count starts afresh there. A loop at
// frame 0 points at the start of the data (offset 0x40, the output switches
// included).
std::vector<uint8_t> encodeVgm(const ExportTexts& texts, const FrameLog& log);

// Builds the whole two-YM2203 file: a 0x80-byte header, then the frames by
// the rules above (waits, loop point, end, tag) with 0x55 r v for the first
// chip and 0xA5 r v for the second. A loop at frame 0 points at 0x80.
std::vector<uint8_t> encodeVgm2203(const ExportTexts& texts, const FrameLog& log);

// Records one pass with the Mega Drive note tables and writes the file.
// False when the file cannot be written.
bool exportVgm(Player& player, ChipPair& chips, Song& song, const std::string& path);

// Records one pass with the note tables for 3 500 000 Hz (the frames of the
// register dump for the sound extension) and writes the two-YM2203 file.
bool exportVgm2203(Player& player, ChipPair& chips, Song& song, const std::string& path);

}  // namespace qv
