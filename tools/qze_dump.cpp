// Prints a module as plain text, one line per fact, so that two modules can be
// compared with diff: the timing, the order list, the pattern lengths and
// every non-empty cell. Used by the end-to-end tests to check what the editor
// saved.
//
// Usage: qze_dump MODULE.qze
#include <cstdio>
#include <memory>

#include "song/module_file.h"
#include "song/song.h"

namespace {

const char* const kNoteNames[12] = {"C-", "C#", "D-", "D#", "E-", "F-",
                                    "F#", "G-", "G#", "A-", "A#", "B-"};

void printCell(int pattern, int row, int channel, const qv::Cell& c) {
    char note[8] = "...";
    if (c.hasNote())
        std::snprintf(note, sizeof note, "%s%d", kNoteNames[c.note], c.octave);
    else if (c.note == qv::kNoteKeyOff)
        std::snprintf(note, sizeof note, "OFF");
    std::printf("cell %03d.%03d.%d %s ins=%d vol=%d fx=%X%02X\n", pattern, row, channel + 1, note,
                c.instrument, c.volume, c.effect, c.param);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qze_dump MODULE.qze\n");
        return 2;
    }
    auto song = std::make_unique<qv::Song>();
    song->clear();
    if (const int result = qv::loadModule(*song, argv[1]); result != 0) {
        std::fprintf(stderr, "qze_dump: %s: load failed (%d)\n", argv[1], result);
        return 1;
    }
    const qv::Song& s = *song;
    std::printf("speed %d/%d interleave %d\n", s.speedEven, s.speedOdd, s.interleave);
    std::printf("order length %d loop %d:", s.order.length, s.order.loopPosition);
    for (int i = 0; i < s.order.length; ++i) std::printf(" %d", s.order.entries[i].pattern);
    std::printf("\n");
    bool used[qv::kPatterns] = {};
    for (int i = 0; i < s.order.length; ++i) used[s.order.entries[i].pattern] = true;
    for (int p = 0; p < qv::kPatterns; ++p) {
        const qv::Pattern& pattern = s.patterns[p];
        bool any = used[p];
        for (int r = 0; r < pattern.length && !any; ++r)
            for (const qv::Cell& c : pattern.rows[r]) any = any || !c.isEmpty();
        if (!any) continue;
        std::printf("pattern %03d length %d\n", p, pattern.length);
        for (int r = 0; r < pattern.length; ++r)
            for (int ch = 0; ch < qv::kChannels; ++ch)
                if (!pattern.rows[r][ch].isEmpty()) printCell(p, r, ch, pattern.rows[r][ch]);
    }
    return 0;
}
