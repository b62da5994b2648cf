// The register writes of one pass through the song, frame by frame, as the
// Player queued them. The VGM and register-dump encoders are pure functions
// of a FrameLog, so they can be fed synthetic frames as well as recorded ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sound/chip_pair.h"

namespace qv {

struct FrameLog {
    // Real writes only; loop placeholders (register 255) never appear here.
    std::vector<RegisterWrite> writes;
    // Index into writes of the first write of each frame.
    std::vector<uint32_t> starts;
    // The frame at which replay continues after the end (the first frame that
    // reads row 0 of the loop position); -1 when there is none.
    int loopFrame = -1;

    void clear() {
        writes.clear();
        starts.clear();
        loopFrame = -1;
    }
    void beginFrame() { starts.push_back(static_cast<uint32_t>(writes.size())); }
    // Adds a write to the frame begun last.
    void add(uint8_t chip, uint8_t reg, uint8_t value) { writes.push_back(RegisterWrite{chip, reg, value}); }

    size_t frameCount() const { return starts.size(); }
    std::span<const RegisterWrite> frame(size_t i) const {
        size_t end = i + 1 < starts.size() ? starts[i + 1] : writes.size();
        return std::span<const RegisterWrite>(writes.data() + starts[i], end - starts[i]);
    }
};

// The song's texts as the exporters write them: raw bytes, no translation.
struct ExportTexts {
    std::string trackName;
    std::string author;
    std::string message;
    uint16_t saved = 0;  // packed date of the last save
};

// Writes the bytes to path in one piece; false when the file cannot be
// created or not every byte reached it.
bool writeWholeFile(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace qv
