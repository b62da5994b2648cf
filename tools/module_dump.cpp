// Prints a module's order list and the cells of some of its patterns as
// plain text, for scripts that check what the editor saved.
//
// Usage: module_dump <module.qze> [pattern ... | iN ...]
//
//   order 3 loop 1: 0 0 1
//   pattern 0 length 64
//   00 1 G-4 01 00 0 00
//   instrument 1 "Piano" algorithm 4 feedback 5
//   op1 AR 31 DR 8 SR 2 RR 6 TL 30 SL 4 MULT 1 DT 1 RS 0 SSG-EG 0
//
// A pattern line is row, channel (1-6), note ("C#3", "OFF" for key off),
// instrument, volume, effect and parameter (hexadecimal, as the pattern view
// shows them); empty cells are left out. Exit code 0, or 1 when the module
// does not load.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "song/module_file.h"
#include "song/song.h"

namespace {

std::string noteText(const qv::Cell& cell) {
    static const char* const names[12] = {"C-", "C#", "D-", "D#", "E-", "F-",
                                          "F#", "G-", "G#", "A-", "A#", "B-"};
    if (cell.hasNote()) return names[cell.note] + std::to_string(cell.octave);
    if (cell.note == qv::kNoteEmpty) return "---";
    return "OFF";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <module.qze> [pattern ...]\n", argv[0]);
        return 2;
    }
    auto song = std::make_unique<qv::Song>();
    const int result = qv::loadModule(*song, argv[1]);
    if (result != qv::kModuleLoaded) {
        std::fprintf(stderr, "%s: load result %d\n", argv[1], result);
        return 1;
    }
    const qv::OrderList& order = song->order;
    std::printf("order %d loop %d:", order.length, order.loopPosition);
    for (int i = 0; i < order.length; ++i) std::printf(" %d", order.entries[i].pattern);
    std::printf("\n");
    for (int a = 2; a < argc; ++a) {
        if (argv[a][0] == 'i') {  // iN: instrument N (1-255)
            const int n = std::atoi(argv[a] + 1);
            if (n < 1 || n > qv::kInstruments) continue;
            const qv::Instrument& in = song->instrument(n);
            std::printf("instrument %d \"%s\" algorithm %d feedback %d\n", n, in.nameText().c_str(),
                        in.algorithm, in.FB);
            for (int op = 0; op < 4; ++op) {
                const qv::Operator& o = in.operators[op];
                std::printf("op%d AR %d DR %d SR %d RR %d TL %d SL %d MULT %d DT %d RS %d SSG-EG %d\n",
                            op + 1, o.AR, o.DR, o.SR, o.RR, o.TL, o.SL, o.MULT, o.DT, o.RS, o.SSGEG);
            }
            continue;
        }
        const int number = std::atoi(argv[a]);
        if (number < 0 || number >= qv::kPatterns) continue;
        const qv::Pattern& pattern = song->patterns[number];
        std::printf("pattern %d length %d\n", number, pattern.length);
        for (int r = 0; r < pattern.length; ++r)
            for (int c = 0; c < qv::kChannels; ++c) {
                const qv::Cell& cell = pattern.rows[r][c];
                if (cell.isEmpty()) continue;
                std::printf("%02X %d %s %02X %02X %X %02X\n", unsigned(r), c + 1,
                            noteText(cell).c_str(), unsigned(cell.instrument), unsigned(cell.volume),
                            unsigned(cell.effect), unsigned(cell.param));
            }
    }
    return 0;
}
