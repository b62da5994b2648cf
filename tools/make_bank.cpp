// Writes the instrument bank, instruments/*.qzi: basses, pianos and electric
// pianos, organs, brass, strings, leads, pads, bells, plucks and drums, each
// a set of operator values tried out on the editor's own chip emulation.
// The file name is the name the instrument gets when it is opened.
//
// Usage: make_bank [output folder]   (default instruments)
//
// Operators are given in slot order S1-S4 (the chip's modulation order);
// the Instrument keeps them in register order S1, S3, S2, S4. Carriers per
// algorithm: 0-3 S4; 4 S2 and S4; 5 and 6 S2, S3 and S4; 7 all four.
// Every pitched sound keeps whole-number frequency ratios, so it sounds at
// the pitch of its note (or an octave below where a slot runs at MULT 0).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "song/instrument_file.h"
#include "song/song.h"

namespace {

using qv::Instrument;

struct Slot {
    int mult, dt, tl, ar, dr, sr, rr, sl, rs = 0;
};

struct Patch {
    const char* file;
    int algorithm;
    int feedback;
    Slot s[4];  // S1, S2, S3, S4
};

// Register order of the slots: S1, S3, S2, S4.
constexpr int kIndexOfSlot[4] = {0, 2, 1, 3};

//                     MULT DT  TL  AR  DR  SR  RR  SL  RS
const Patch kBank[] = {
    // Basses.
    {"bass-finger", 4, 4, {{1, 0, 30, 31, 10, 2, 8, 4}, {1, 0, 6, 31, 5, 2, 8, 2},
                           {2, 0, 38, 31, 12, 3, 8, 6}, {1, 0, 8, 31, 5, 2, 8, 3}}},
    {"bass-slap", 0, 6, {{1, 0, 34, 31, 14, 4, 8, 6}, {3, 0, 38, 31, 16, 4, 8, 8},
                         {1, 0, 28, 31, 12, 3, 8, 5}, {1, 0, 4, 31, 6, 3, 8, 3, 1}}},
    {"bass-synth", 4, 7, {{1, 0, 24, 31, 6, 1, 8, 2}, {1, 0, 2, 31, 3, 1, 8, 1},
                          {1, 1, 30, 31, 8, 1, 8, 3}, {1, -1, 4, 31, 3, 1, 8, 1}}},
    {"bass-fretless", 4, 2, {{1, 0, 40, 24, 6, 2, 7, 3}, {1, 0, 6, 26, 3, 2, 7, 2},
                             {1, 0, 46, 24, 6, 2, 7, 3}, {1, 0, 10, 26, 3, 2, 7, 2}}},
    // Pianos and electric pianos.
    {"piano-grand", 4, 3, {{1, 0, 36, 31, 10, 3, 7, 5, 1}, {1, 0, 6, 31, 7, 3, 7, 4, 1},
                           {3, 0, 44, 31, 12, 4, 7, 6, 1}, {1, 0, 8, 31, 8, 3, 7, 4, 1}}},
    {"piano-bright", 4, 5, {{2, 0, 32, 31, 12, 4, 7, 6, 1}, {1, 0, 4, 31, 8, 3, 7, 4, 1},
                            {5, 0, 44, 31, 14, 5, 7, 7, 1}, {2, 0, 10, 31, 8, 3, 7, 4, 1}}},
    {"epiano-tine", 4, 5, {{1, 1, 30, 31, 8, 2, 6, 4}, {1, 0, 8, 31, 5, 2, 7, 3},
                           {14, 0, 40, 31, 14, 4, 6, 8}, {1, 0, 6, 31, 6, 2, 7, 3}}},
    {"epiano-soft", 4, 2, {{1, 0, 40, 28, 8, 2, 6, 4}, {1, 0, 6, 30, 5, 2, 6, 3},
                           {1, 0, 48, 28, 8, 2, 6, 4}, {2, 0, 14, 30, 5, 2, 6, 3}}},
    // Organs.
    {"organ-drawbar", 7, 0, {{1, 0, 10, 31, 0, 0, 10, 0}, {2, 0, 16, 31, 0, 0, 10, 0},
                             {4, 0, 22, 31, 0, 0, 10, 0}, {3, 0, 24, 31, 0, 0, 10, 0}}},
    {"organ-percussive", 5, 3, {{3, 0, 30, 31, 10, 0, 10, 15}, {1, 0, 10, 31, 0, 0, 10, 0},
                                {2, 0, 16, 31, 0, 0, 10, 0}, {4, 0, 20, 31, 12, 6, 10, 8}}},
    // Brass.
    {"brass-section", 4, 5, {{1, 0, 28, 22, 4, 1, 8, 2}, {1, 0, 8, 24, 3, 1, 8, 2},
                             {1, 1, 30, 22, 4, 1, 8, 2}, {1, -1, 8, 24, 3, 1, 8, 2}}},
    {"brass-trumpet", 0, 5, {{1, 0, 36, 20, 4, 1, 8, 2}, {1, 0, 34, 22, 4, 1, 8, 2},
                             {1, 0, 26, 22, 4, 1, 8, 2}, {1, 0, 0, 24, 3, 1, 8, 1}}},
    {"brass-synth", 4, 6, {{1, 0, 24, 26, 6, 1, 8, 3}, {1, 0, 3, 28, 3, 1, 8, 2},
                           {2, 0, 34, 26, 6, 1, 8, 3}, {1, 0, 5, 28, 3, 1, 8, 2}}},
    // Strings.
    {"strings-ensemble", 4, 3, {{1, 1, 32, 16, 2, 0, 6, 1}, {1, -1, 10, 16, 2, 0, 6, 1},
                                {1, 2, 34, 16, 2, 0, 6, 1}, {1, -2, 10, 16, 2, 0, 6, 1}}},
    {"strings-slow", 4, 2, {{1, 0, 36, 12, 1, 0, 6, 1}, {1, 1, 12, 12, 1, 0, 6, 1},
                            {3, 0, 44, 12, 1, 0, 6, 1}, {1, -1, 12, 12, 1, 0, 6, 1}}},
    {"strings-pizz", 4, 2, {{1, 0, 36, 31, 14, 8, 8, 8}, {1, 0, 6, 31, 10, 6, 8, 6},
                            {2, 0, 42, 31, 14, 8, 8, 8}, {1, 0, 8, 31, 10, 6, 8, 6}}},
    // Leads.
    {"lead-square", 4, 0, {{2, 0, 24, 31, 0, 0, 8, 0}, {1, 0, 3, 31, 0, 0, 8, 0},
                           {3, 0, 28, 31, 0, 0, 8, 0}, {1, 0, 6, 31, 0, 0, 8, 0}}},
    {"lead-saw", 4, 6, {{1, 0, 22, 31, 0, 0, 8, 0}, {1, 0, 8, 31, 0, 0, 8, 0},
                        {1, 1, 24, 31, 0, 0, 8, 0}, {1, 0, 10, 31, 0, 0, 8, 0}}},
    {"lead-sync", 0, 4, {{1, 0, 30, 31, 6, 2, 8, 4}, {2, 0, 30, 31, 0, 0, 8, 0},
                         {3, 0, 26, 31, 4, 0, 8, 2}, {1, 0, 6, 31, 0, 0, 8, 0}}},
    {"lead-flute", 5, 0, {{1, 0, 46, 20, 0, 0, 8, 0}, {1, 0, 2, 20, 0, 0, 8, 0},
                          {2, 0, 36, 20, 0, 0, 8, 0}, {1, 0, 60, 20, 0, 0, 8, 0}}},
    // Pads.
    {"pad-warm", 7, 0, {{1, 0, 14, 12, 1, 0, 6, 1}, {1, 1, 14, 12, 1, 0, 6, 1},
                        {2, -1, 24, 10, 1, 0, 6, 1}, {1, 2, 14, 12, 1, 0, 6, 1}}},
    {"pad-glass", 5, 3, {{3, 0, 34, 14, 2, 0, 6, 2}, {1, 0, 10, 12, 1, 0, 6, 1},
                         {2, 1, 18, 12, 1, 0, 6, 1}, {4, -1, 22, 12, 1, 0, 6, 1}}},
    {"pad-choir", 4, 1, {{1, 1, 40, 12, 1, 0, 6, 1}, {1, 0, 10, 10, 1, 0, 6, 1},
                         {2, -1, 44, 12, 1, 0, 6, 1}, {1, 1, 10, 10, 1, 0, 6, 1}}},
    // Bells and mallets.
    {"bell-tubular", 4, 0, {{7, 0, 30, 31, 4, 2, 6, 6}, {1, 0, 8, 31, 3, 2, 6, 4},
                            {3, 0, 34, 31, 5, 2, 6, 6}, {2, 0, 12, 31, 3, 2, 6, 4}}},
    {"bell-glocken", 4, 0, {{5, 0, 34, 31, 6, 3, 6, 6}, {2, 0, 10, 31, 5, 3, 6, 5},
                            {7, 0, 40, 31, 6, 3, 6, 6}, {4, 0, 14, 31, 5, 3, 6, 5}}},
    {"bell-marimba", 4, 0, {{4, 0, 30, 31, 16, 8, 7, 10}, {1, 0, 6, 31, 9, 6, 7, 6},
                            {1, 0, 40, 31, 12, 6, 7, 8}, {1, 0, 10, 31, 9, 6, 7, 6}}},
    // Plucks.
    {"pluck-guitar", 4, 4, {{1, 0, 30, 31, 12, 4, 7, 6}, {1, 0, 6, 31, 8, 4, 7, 5},
                            {3, 0, 40, 31, 14, 5, 7, 7}, {1, 0, 8, 31, 8, 4, 7, 5}}},
    {"pluck-harp", 4, 1, {{2, 0, 40, 31, 10, 3, 6, 6}, {1, 0, 6, 31, 7, 3, 6, 5},
                          {1, 0, 44, 31, 10, 3, 6, 6}, {1, 0, 10, 31, 7, 3, 6, 5}}},
    {"pluck-clavinet", 0, 6, {{1, 0, 34, 31, 14, 6, 8, 8}, {3, 0, 34, 31, 12, 5, 8, 6},
                              {2, 0, 30, 31, 12, 5, 8, 6}, {1, 0, 6, 31, 9, 5, 8, 5}}},
    // Drums: played on one note, they fade while the key is held.
    {"drum-kick", 4, 0, {{2, 0, 18, 31, 22, 16, 12, 15}, {1, 0, 127, 31, 0, 0, 15, 0},
                         {1, 0, 30, 31, 18, 14, 12, 15}, {1, 0, 0, 31, 12, 10, 12, 10}}},
    {"drum-snare", 4, 7, {{15, 0, 0, 31, 0, 0, 12, 0}, {8, 0, 2, 31, 16, 14, 12, 12},
                          {1, 0, 36, 31, 20, 16, 12, 15}, {1, 0, 6, 31, 18, 16, 12, 15}}},
    {"drum-hat-closed", 4, 7, {{15, 0, 0, 31, 0, 0, 15, 0}, {15, 3, 0, 31, 16, 14, 15, 15},
                               {15, 0, 0, 31, 0, 0, 15, 0}, {13, -3, 0, 31, 16, 14, 15, 15}}},
    {"drum-hat-open", 4, 7, {{15, 0, 0, 31, 0, 0, 12, 0}, {15, 3, 4, 31, 14, 12, 12, 15},
                             {15, 0, 0, 31, 0, 0, 12, 0}, {13, -3, 10, 31, 14, 12, 12, 15}}},
    {"drum-tom-low", 4, 0, {{1, 0, 30, 31, 20, 14, 12, 15}, {1, 0, 127, 31, 0, 0, 15, 0},
                            {1, 0, 36, 31, 18, 12, 12, 15}, {1, 0, 2, 31, 13, 10, 12, 10}}},
    {"drum-tom-high", 4, 0, {{1, 0, 30, 31, 20, 14, 12, 15}, {1, 0, 127, 31, 0, 0, 15, 0},
                             {1, 0, 36, 31, 18, 12, 12, 15}, {1, 0, 2, 31, 14, 11, 12, 10}}},
};

Instrument build(const Patch& p) {
    Instrument ins;
    ins.algorithm = p.algorithm;
    ins.FB = p.feedback;
    for (int s = 0; s < 4; ++s) {
        qv::Operator& o = ins.operators[kIndexOfSlot[s]];
        const Slot& v = p.s[s];
        o.MULT = v.mult;
        o.DT = v.dt;
        o.TL = v.tl;
        o.AR = v.ar;
        o.DR = v.dr;
        o.SR = v.sr;
        o.RR = v.rr;
        o.SL = v.sl;
        o.RS = v.rs;
    }
    ins.setName(p.file);
    return ins;
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path dir = argc > 1 ? argv[1] : "instruments";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    int written = 0;
    for (const Patch& p : kBank) {
        const std::vector<uint8_t> bytes = qv::encodeQzi(build(p));
        const std::filesystem::path path = dir / (std::string(p.file) + ".qzi");
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "make_bank: cannot write %s\n", path.string().c_str());
            return 1;
        }
        ++written;
    }
    std::printf("make_bank: %d instruments in %s\n", written, dir.string().c_str());
    return 0;
}
