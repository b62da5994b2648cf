#include "io/register_dump.h"

#include "io/export_driver.h"
#include "song/song.h"

namespace qv {

namespace {

uint8_t* putText(uint8_t* p, const std::string& text) {
    for (char c : text) {
        if (c == 0) break;
        *p++ = static_cast<uint8_t>(c);
    }
    *p++ = 0;
    return p;
}

// Replaces the run of n frame-start bytes (all 0xFF) that ends at p by 0xFE
// codes; returns the new end.
uint8_t* packRun(uint8_t* p, int n) {
    p -= n;
    while (n > 0) {
        int take = n;
        if (take > qzd::kMaxRun) {
            // Keep at least 3 starts for the code that follows.
            take = n - qzd::kMaxRun >= 3 ? qzd::kMaxRun : n - 3;
        }
        *p++ = qzd::kRun;
        *p++ = static_cast<uint8_t>(take - 3);
        n -= take;
    }
    return p;
}

}  // namespace

std::vector<uint8_t> encodeQzd(const ExportTexts& texts, const FrameLog& log) {
    // Worst case: every frame a start code and a chip switch, every write a pair.
    std::vector<uint8_t> out(4 + texts.trackName.size() + texts.author.size() + texts.message.size() + 3 + 1 +
                             2 * log.frameCount() + 2 * log.writes.size() + 2);
    uint8_t* p = out.data();
    for (char c : {'Q', 'Z', 'M', 'D'}) *p++ = static_cast<uint8_t>(c);
    p = putText(p, texts.trackName);
    p = putText(p, texts.author);
    p = putText(p, texts.message);
    if (log.loopFrame == 0) *p++ = qzd::kLoop;

    int run = 0;  // frame starts since the last frame with writes or a loop mark
    for (size_t i = 0; i < log.frameCount(); ++i) {
        std::span<const RegisterWrite> frame = log.frame(i);
        bool first = false, second = false;
        for (const RegisterWrite& w : frame) {
            if (w.reg >= qzd::kLoop) continue;
            (w.chip == 0 ? first : second) = true;
        }
        *p++ = qzd::kFrame;
        ++run;
        if (first || second) {
            if (run >= 3) p = packRun(p, run);
            run = 0;
        }
        if (static_cast<int>(i) == log.loopFrame && i > 0) {
            *p++ = qzd::kLoop;
            run = 0;
        }
        if (first) {
            for (const RegisterWrite& w : frame) {
                if (w.chip != 0 || w.reg >= qzd::kLoop) continue;
                *p++ = w.reg;
                *p++ = w.value;
            }
        }
        if (second) {
            *p++ = qzd::kSecondChip;
            for (const RegisterWrite& w : frame) {
                if (w.chip == 0 || w.reg >= qzd::kLoop) continue;
                *p++ = w.reg;
                *p++ = w.value;
            }
        }
    }
    *p++ = qzd::kEnd;
    out.resize(static_cast<size_t>(p - out.data()));
    return out;
}

bool exportRegisterDump(Player& player, ChipPair& chips, Song& song, const std::string& path,
                        uint32_t clock) {
    FrameLog log;
    recordSong(player, chips, song, log, clock);
    return writeWholeFile(path, encodeQzd(exportTexts(song), log));
}

}  // namespace qv
