// Writes the bundled demo song, examples/demo.qze: a short piece in A minor
// for all six channels with a handful of instruments and effects (arpeggio,
// vibrato, tone portamento, volume slide, pan, a speed change), so that a new
// user hears every part of the engine at once.
//
// Usage: make_demo [output path]   (default examples/demo.qze)
#include <cstdio>
#include <string>

#include "song/module_file.h"
#include "song/song.h"

namespace {

using qv::Cell;
using qv::Instrument;
using qv::Song;

// One operator's envelope and level in a single call.
void op(Instrument& ins, int n, int mult, int dt, int tl, int ar, int dr, int sr, int rr, int sl) {
    qv::Operator& o = ins.operators[n];
    o.MULT = mult;
    o.DT = dt;
    o.TL = tl;
    o.AR = ar;
    o.DR = dr;
    o.SR = sr;
    o.RR = rr;
    o.SL = sl;
}

void makeInstruments(Song& song) {
    // 1: electric piano, two stacked pairs.
    Instrument& piano = song.instrument(1);
    piano.setName("E.Piano");
    piano.algorithm = 4;
    piano.FB = 5;
    op(piano, 0, 1, 1, 30, 31, 8, 2, 6, 4);
    op(piano, 1, 1, 0, 8, 31, 5, 2, 7, 3);
    op(piano, 2, 7, 0, 40, 31, 12, 3, 6, 6);
    op(piano, 3, 1, 0, 6, 31, 6, 2, 7, 3);
    // 2: slap bass.
    Instrument& bass = song.instrument(2);
    bass.setName("Bass");
    bass.algorithm = 0;
    bass.FB = 6;
    op(bass, 0, 0, 0, 28, 31, 10, 0, 8, 5);
    op(bass, 1, 1, 0, 38, 31, 14, 0, 8, 7);
    op(bass, 2, 0, 0, 30, 31, 12, 0, 8, 4);
    op(bass, 3, 1, 0, 4, 31, 4, 2, 9, 2);
    // 3: soft lead, all carriers detuned for width.
    Instrument& lead = song.instrument(3);
    lead.setName("Lead");
    lead.algorithm = 5;
    lead.FB = 4;
    op(lead, 0, 1, 0, 26, 28, 4, 0, 6, 2);
    op(lead, 1, 2, 1, 10, 24, 3, 1, 6, 2);
    op(lead, 2, 1, -1, 12, 24, 3, 1, 6, 2);
    op(lead, 3, 1, 2, 14, 24, 3, 1, 6, 2);
    // 4: pad with slow attack.
    Instrument& pad = song.instrument(4);
    pad.setName("Pad");
    pad.algorithm = 7;
    op(pad, 0, 1, 0, 22, 12, 2, 0, 4, 1);
    op(pad, 1, 2, 1, 26, 10, 2, 0, 4, 1);
    op(pad, 2, 1, -1, 22, 12, 2, 0, 4, 1);
    op(pad, 3, 4, 0, 34, 14, 2, 0, 4, 1);
    // 5: kick, a fast pitch drop through effect 2.
    Instrument& kick = song.instrument(5);
    kick.setName("Kick");
    kick.algorithm = 0;
    kick.FB = 7;
    op(kick, 0, 0, 0, 20, 31, 20, 0, 12, 10);
    op(kick, 1, 0, 0, 30, 31, 18, 0, 12, 10);
    op(kick, 2, 0, 0, 30, 31, 18, 0, 12, 10);
    op(kick, 3, 0, 0, 0, 31, 14, 10, 12, 8);
    // 6: metallic hat.
    Instrument& hat = song.instrument(6);
    hat.setName("Hat");
    hat.algorithm = 4;
    hat.FB = 7;
    op(hat, 0, 15, 3, 0, 31, 24, 0, 15, 15);
    op(hat, 1, 11, 0, 20, 31, 24, 0, 15, 15);
    op(hat, 2, 13, 2, 0, 31, 24, 0, 15, 15);
    op(hat, 3, 9, 0, 22, 31, 24, 0, 15, 15);
}

void note(Song& song, int pattern, int row, int channel, int pitch, int instrument, int volume = 0,
          int effect = 0, int param = 0) {
    Cell& c = song.patterns[pattern].rows[row][channel];
    if (pitch >= 0) c.setPitch(pitch);
    c.instrument = static_cast<int16_t>(instrument);
    c.volume = static_cast<int8_t>(volume);
    c.effect = static_cast<int8_t>(effect);
    c.param = static_cast<uint8_t>(param);
}

void keyOff(Song& song, int pattern, int row, int channel) {
    song.patterns[pattern].rows[row][channel].note = qv::kNoteKeyOff;
}

void effect(Song& song, int pattern, int row, int channel, int effect, int param) {
    Cell& c = song.patterns[pattern].rows[row][channel];
    c.effect = static_cast<int8_t>(effect);
    c.param = static_cast<uint8_t>(param);
}

// Pitch of a note name in octave o: C=0 ... B=11; pitch = note + 12 (o - 1).
constexpr int P(int semitone, int octave) { return semitone + 12 * (octave - 1); }
constexpr int A = 9, C = 0, D = 2, E = 4, F = 5, G = 7, B = 11;

// The chord roots of the four bars: Am, F, C, G.
constexpr int kRoots[4] = {A, F, C, G};
constexpr int kRootOctave[4] = {3, 3, 4, 3};
// Arpeggio parameter (semitones of the third and fifth) per chord.
constexpr int kArp[4] = {0x37, 0x47, 0x47, 0x47};

// Rhythm section for one 64-row pattern (four bars of 16 rows).
void rhythm(Song& song, int p, bool busy) {
    for (int bar = 0; bar < 4; ++bar) {
        const int r0 = bar * 16;
        const int root = P(kRoots[bar], kRootOctave[bar] - 1);
        // Bass on channel 2: root, octave, fifth pattern.
        const int steps[8] = {0, 12, 0, 7, 0, 12, 10, 7};
        for (int s = 0; s < 8; ++s)
            note(song, p, r0 + s * 2, 1, root + steps[s], 2, s == 0 ? 31 : 24);
        // Kick and hat on channel 5 and 6.
        for (int beat = 0; beat < 4; ++beat) {
            note(song, p, r0 + beat * 4, 4, P(C, 3), 5, 31, 2, 0x30);
            if (busy || beat % 2 == 1) note(song, p, r0 + beat * 4 + 2, 5, P(C, 7), 6, 18);
        }
        if (busy) note(song, p, r0 + 14, 4, P(C, 3), 5, 26, 2, 0x30);
    }
}

// Chords: piano arpeggio on channel 3, pad on channel 4.
void harmony(Song& song, int p, bool pad) {
    for (int bar = 0; bar < 4; ++bar) {
        const int r0 = bar * 16;
        const int root = P(kRoots[bar], kRootOctave[bar] + 1);
        note(song, p, r0, 2, root, 1, 26, 0, kArp[bar]);
        for (int r = 1; r < 16; ++r) effect(song, p, r0 + r, 2, 0, kArp[bar]);
        if (pad) {
            note(song, p, r0, 3, root + 7, 4, 20, 4, 0x24);
            effect(song, p, r0 + 8, 3, 0xA, 0x01);
        }
    }
}

// Melody on channel 1, one note every two rows or longer, in pitch values.
void melody(Song& song, int p, const int* line, int count, int volume) {
    for (int i = 0; i < count && i * 4 < 64; ++i) {
        const int pitch = line[i];
        if (pitch < 0) continue;
        if (pitch == 0) {
            keyOff(song, p, i * 4, 0);
            continue;
        }
        note(song, p, i * 4, 0, pitch, 3, volume, 4, 0x33);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "examples/demo.qze";
    Song song;
    song.clear();
    song.setTrackName("Night Drive");
    song.setAuthor("Qorvette demo");
    song.setMessage("Demo song for Qorvette.\nSix FM channels on two chips:\n"
                    "lead, bass, piano, pad, kick and hat.");
    song.speedEven = 4;
    song.speedOdd = 3;
    song.interleave = 1;
    makeInstruments(song);

    // Pattern 0: intro, rhythm and piano only, panned piano.
    rhythm(song, 0, false);
    harmony(song, 0, false);
    effect(song, 0, 0, 5, 0xE, 0x82);
    // Pattern 1: the pad joins, busier drums.
    rhythm(song, 1, true);
    harmony(song, 1, true);
    // Pattern 2: melody A.
    rhythm(song, 2, true);
    harmony(song, 2, true);
    const int melodyA[16] = {P(E, 5), P(A, 5), P(C, 6), P(B, 5), P(A, 5), P(F, 5), P(A, 5),
                             P(C, 6), P(G, 5), P(E, 5), P(G, 5), P(D, 6), P(B, 5), 0,
                             P(G, 5), P(B, 5)};
    melody(song, 2, melodyA, 16, 28);
    // Pattern 3: melody B with a tone portamento and a volume slide at the end.
    rhythm(song, 3, true);
    harmony(song, 3, true);
    const int melodyB[16] = {P(A, 5), -1, P(E, 6), P(C, 6), P(F, 5), P(A, 5), P(C, 6), -1,
                             P(E, 6), P(D, 6), P(C, 6), P(B, 5), P(G, 5), -1, P(B, 5), -1};
    melody(song, 3, melodyB, 16, 30);
    note(song, 3, 30, 0, P(E, 6), 3, 0, 3, 0x40);
    effect(song, 3, 56, 0, 0xA, 0x02);
    effect(song, 3, 60, 0, 0xA, 0x04);
    // Pattern 4: breakdown, slower (speed effect), pad and piano only, then back.
    harmony(song, 4, true);
    note(song, 4, 0, 0, P(A, 4), 3, 24, 4, 0x46);
    effect(song, 4, 0, 5, 0xF, 0x55);
    effect(song, 4, 48, 5, 0xF, 0x00);
    for (int r = 48; r < 64; r += 4) note(song, 4, r, 4, P(C, 3), 5, 20 + (r - 48) / 2, 2, 0x30);
    keyOff(song, 4, 32, 0);

    const int order[] = {0, 1, 2, 3, 4, 2, 3, 1};
    song.order.length = static_cast<int16_t>(std::size(order));
    song.order.loopPosition = 1;
    for (size_t i = 0; i < std::size(order); ++i)
        song.order.entries[i].pattern = static_cast<uint8_t>(order[i]);

    if (!qv::saveModule(song, path)) {
        std::fprintf(stderr, "make_demo: cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("wrote %s\n", path.c_str());
    return 0;
}
