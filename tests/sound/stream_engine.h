// The real sound engine for the audio stream tests: a small two-pattern song
// on five channels, the ChipPair, the Player and the frame-clocked sample
// source, wired as the program wires them.
#pragma once

#include <memory>
#include <mutex>

#include "song/song.h"
#include "sound/chip_pair.h"
#include "sound/player.h"
#include "sound/sample_source.h"

namespace qv::test {

inline void fillStreamSong(Song& song) {
    auto voice = [&](int n, int algorithm, int mult, int rr) {
        Instrument& ins = song.instrument(n);
        ins = Instrument{};
        for (Operator& op : ins.operators) {
            op.TL = 20;
            op.MULT = mult;
            op.AR = 31;
            op.DR = 4;
            op.SL = 3;
            op.RR = rr;
        }
        ins.algorithm = algorithm;
        ins.FB = 3;
        ins.setName("stream");
    };
    voice(1, 7, 1, 8);
    voice(2, 4, 2, 12);
    voice(3, 5, 3, 6);
    auto note = [&](int pattern, int row, int channel, int semitone, int octave, int instrument, int volume,
                    int effect = 0, int param = 0) {
        Cell& c = song.patterns[pattern].rows[row][channel];
        c.note = static_cast<int16_t>(semitone);
        c.octave = static_cast<int8_t>(octave);
        c.instrument = static_cast<int16_t>(instrument);
        c.volume = static_cast<int8_t>(volume);
        c.effect = static_cast<int8_t>(effect);
        c.param = static_cast<uint8_t>(param);
    };
    for (int p = 0; p < 2; ++p) {
        song.patterns[p].length = 32;
        for (int r = 0; r < 32; r += 4) {
            note(p, r, 0, (r / 4 * 5 + p * 2) % 12, 4, 1, 24);
            note(p, r + 2, 1, (r / 4 * 7) % 12, 5, 2, 20, p == 0 ? 0 : 4, p == 0 ? 0x47 : 0x46);
        }
        for (int r = 0; r < 32; r += 8) note(p, r, 3, (r / 8 * 3) % 12, 2, 3, 28);
        note(p, 16, 4, 9, 4, 2, 18, 0, 0x47);  // arpeggio
        note(p, 24, 5, 0, 6, 1, 16, 1, 0x08);  // portamento up
    }
    song.order.length = 2;
    song.order.loopPosition = 0;
    song.order.entries[0].pattern = 0;
    song.order.entries[1].pattern = 1;
    song.speedEven = song.speedOdd = 3;
    song.interleave = 1;
}

struct StreamEngine {
    StreamEngine() {
        fillStreamSong(*song);
        chips.create(kSampleRate, kChipClock, 128);
        player = std::make_unique<Player>(*song, chips);
        source = std::make_unique<SampleSource>(*player, chips);
        {
            std::lock_guard lock(player->songMutex());
            player->songLengthFrames();
        }
    }
    ~StreamEngine() { chips.destroy(); }
    StreamEngine(const StreamEngine&) = delete;
    StreamEngine& operator=(const StreamEngine&) = delete;

    void playFromStart() { player->start(0, 0, false, false, false, -1); }

    std::unique_ptr<Song> song = std::make_unique<Song>();
    ChipPair chips;
    std::unique_ptr<Player> player;
    std::unique_ptr<SampleSource> source;
};

}  // namespace qv::test
