// Import of Amiga MOD modules (15 or 31 samples, 64-row patterns, 4-byte
// cells with a 12-bit period) into a Song: notes, sample numbers as
// instrument numbers, volumes, the effects that have a counterpart, the order
// list with its end and loop, the title and the sample names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "song/file_write.h"

namespace qv {

struct Song;

namespace mod {
// Periods of C-1 .. B-7 (index 0-83), falling, and a final 0.
extern const std::array<uint16_t, 85> kPeriods;
}  // namespace mod

// Layout found by the signature at offset 1080.
struct ModFormat {
    int samples = 0;       // 15 or 31
    int channels = 0;      // 1-99
    size_t patternData = 0;  // 600 or 1084
};

// Detects the layout; false for files shorter than 600 bytes or an unknown
// signature.
bool detectModFormat(const uint8_t* data, size_t size, ModFormat& format);

// Pitch index 0-83 (note = index % 12, octave = index / 12 + 1) of a period,
// or -1 when the period is 0 or above 3424.
int modPeriodIndex(int period);

// Decodes a MOD held in memory into song. fileName (without folder) goes into
// the message. The song is replaced only on success; a file that is too
// short, has an unknown signature, a song length of 0 or pattern data that
// ends early is refused and leaves song untouched. Nothing past size is read.
bool importModData(const uint8_t* data, size_t size, const std::string& fileName, Song& song);

// The largest file a valid MOD can be: a 31-sample header, 256 patterns of
// the widest signature ("99CH") and 31 samples of the longest length.
constexpr size_t kModMaxFileSize = 1084 + 256 * 64 * 4 * 99 + 31 * 65535 * 2;

// Reads the file whole and imports it. A file larger than kModMaxFileSize is
// refused before anything is read. When readResult is given it tells why the
// file could not be read (ok when it was read and the contents were refused).
bool importMod(const std::string& path, Song& song, ReadResult* readResult = nullptr);

}  // namespace qv
