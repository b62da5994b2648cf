// Single-instrument files: the program's own .qzi (read and written) and the
// foreign .dat, .y12 and .ins formats (read only). The formats carry only the
// operator and algorithm parameters; the name comes from the file name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "song/song.h"

namespace qv {

enum class InstrumentKind { qzi, dat, y12, ins };

constexpr size_t kQziSize = 42;
constexpr size_t kDatSize = 52;
constexpr size_t kY12Size = 128;
constexpr size_t kInsMaxSize = 255;

// By the last three characters of the path, letters A-Z folded to lower case.
std::optional<InstrumentKind> instrumentKindOf(const std::string& path);

// Chip detune code 0-7 to the signed detune -3..3 (codes above 7 give 0).
int detuneFromChip(int code);

// Decodes a whole file of the given kind into a default instrument (named
// "empty"); no value when the size or magic is wrong.
std::optional<Instrument> decodeInstrument(InstrumentKind kind, const uint8_t* data, size_t size);
inline std::optional<Instrument> decodeInstrument(InstrumentKind kind, const std::vector<uint8_t>& bytes) {
    return decodeInstrument(kind, bytes.data(), bytes.size());
}
// The 42 bytes of the own format.
std::vector<uint8_t> encodeQzi(const Instrument& ins);

// slot is the instrument number 1-255. A failed load leaves the slot as it
// was. The slot's name is not set here (see instrumentNameFromPath).
bool loadInstrument(Song& song, int slot, const std::filesystem::path& path);
// Writes the slot as .qzi through a temporary file; false when it failed.
bool saveInstrument(const Song& song, int slot, const std::filesystem::path& path);

// The file name without folder and extension (the path is UTF-8), as
// Latin-1 cut to 16 characters.
std::string instrumentNameFromPath(const std::string& path);
// The file name the save dialog proposes for an instrument name (Latin-1):
// characters a file system refuses (/ \ : * ? " < > | and control
// characters) become '_', trailing dots and spaces go, and the name always
// ends in ".qzi"; "instrument.qzi" for a name with nothing left.
std::string instrumentFileNameFor(std::string_view name);

// Loading several files at once: the first into the current slot, each further
// one into the first free slot from the current one upwards.
enum class InstrumentOpenStatus {
    loaded,   // into `slot`, named after the file
    failed,   // "Can't open instrument '<path>'"; the next file is tried
    noRoom,   // "No room to load all instruments"; the files after it are skipped
    skipped,  // not tried
};
struct InstrumentOpenResult {
    std::string path;
    InstrumentOpenStatus status = InstrumentOpenStatus::skipped;
    int slot = 0;
};
std::vector<InstrumentOpenResult> openInstrumentFiles(Song& song, int currentSlot,
                                                       const std::vector<std::string>& paths);

// Loading the instruments of another song (a bank kept as a module): every
// instrument of `source` that is not the default one goes, with its name,
// into the first free slot from `firstSlot` upwards. One result per such
// instrument (`path` is its name): loaded, or noRoom for the first that found
// no free slot and skipped for the rest.
std::vector<InstrumentOpenResult> takeInstruments(Song& song, int firstSlot, const Song& source);

}  // namespace qv
