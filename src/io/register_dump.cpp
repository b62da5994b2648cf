#include "io/register_dump.h"

#include "io/export_driver.h"
#include "song/song.h"

namespace qv {

namespace {

void putText(std::vector<uint8_t>& out, const std::string& text) {
    for (char c : text) {
        if (c == 0) break;
        out.push_back(static_cast<uint8_t>(c));
    }
    out.push_back(0);
}

// Replaces the last n frame-start bytes (all 0xFF) by 0xFE codes.
void packRun(std::vector<uint8_t>& out, int n) {
    out.resize(out.size() - static_cast<size_t>(n));
    while (n > 0) {
        int take = n;
        if (take > qzd::kMaxRun) {
            // Keep at least 3 starts for the code that follows.
            take = n - qzd::kMaxRun >= 3 ? qzd::kMaxRun : n - 3;
        }
        out.push_back(qzd::kRun);
        out.push_back(static_cast<uint8_t>(take - 3));
        n -= take;
    }
}

void putPairs(std::vector<uint8_t>& out, std::span<const RegisterWrite> frame, uint8_t chip) {
    for (const RegisterWrite& w : frame) {
        if (w.chip != chip || w.reg >= qzd::kLoop) continue;
        out.push_back(w.reg);
        out.push_back(w.value);
    }
}

}  // namespace

std::vector<uint8_t> encodeQzd(const ExportTexts& texts, const FrameLog& log) {
    std::vector<uint8_t> out;
    out.reserve(64 + log.writes.size() * 2 + log.frameCount() + 16);
    for (char c : {'Q', 'Z', 'M', 'D'}) out.push_back(static_cast<uint8_t>(c));
    putText(out, texts.trackName);
    putText(out, texts.author);
    putText(out, texts.message);
    if (log.loopFrame == 0) out.push_back(qzd::kLoop);

    int run = 0;  // frame starts since the last frame with writes or a loop mark
    for (size_t i = 0; i < log.frameCount(); ++i) {
        std::span<const RegisterWrite> frame = log.frame(i);
        bool first = false, second = false;
        for (const RegisterWrite& w : frame) {
            if (w.reg >= qzd::kLoop) continue;
            (w.chip == 0 ? first : second) = true;
        }
        out.push_back(qzd::kFrame);
        ++run;
        if (first || second) {
            if (run >= 3) packRun(out, run);
            run = 0;
        }
        if (static_cast<int>(i) == log.loopFrame && i > 0) {
            out.push_back(qzd::kLoop);
            run = 0;
        }
        putPairs(out, frame, 0);
        if (second) {
            out.push_back(qzd::kSecondChip);
            putPairs(out, frame, 1);
        }
    }
    out.push_back(qzd::kEnd);
    return out;
}

bool exportRegisterDump(Player& player, ChipPair& chips, Song& song, const std::string& path,
                        uint32_t clock) {
    FrameLog log;
    recordSong(player, chips, song, log, clock);
    return writeWholeFile(path, encodeQzd(exportTexts(song), log));
}

}  // namespace qv
