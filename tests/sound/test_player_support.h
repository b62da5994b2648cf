// Test-side helpers for the Player tests: a song fixture and a decoder that
// turns one frame's register writes back into what each channel does.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

#include "sound/chip_pair.h"
#include "sound/player.h"

namespace qvtest {

using namespace qv;

// An instrument whose number can be read back from the chip registers:
// operator 1 gets AR = number & 31 and DR = number >> 5. Every operator has
// TL 0, so a carrier's written level shows the volume factor alone.
inline Instrument makeInstrument(int number, int algorithm = 4, int fb = 0) {
    Instrument ins;
    for (int k = 0; k < 4; ++k) {
        Operator& op = ins.operators[k];
        op = Operator{};
        op.TL = 0;
        op.MULT = k + 1;
        op.AR = 31;
        op.DR = 5;
        op.SR = 3;
        op.RR = 7;
        op.SL = 2;
        op.DT = k - 1;  // -1, 0, 1, 2
    }
    ins.operators[0].AR = number & 31;
    ins.operators[0].DR = number >> 5;
    ins.algorithm = algorithm;
    ins.FB = fb;
    ins.setName("test");
    return ins;
}

inline Cell noteCell(int semitone, int octave, int instrument = 0, int volume = 0, int effect = 0,
                     int param = 0) {
    Cell c;
    c.note = static_cast<int16_t>(semitone);
    c.octave = static_cast<int8_t>(octave);
    c.instrument = static_cast<int16_t>(instrument);
    c.volume = static_cast<int8_t>(volume);
    c.effect = static_cast<int8_t>(effect);
    c.param = static_cast<uint8_t>(param);
    return c;
}

inline Cell effectCell(int effect, int param, int volume = 0) {
    Cell c;
    c.effect = static_cast<int8_t>(effect);
    c.param = static_cast<uint8_t>(param);
    c.volume = static_cast<int8_t>(volume);
    return c;
}

inline Cell keyOffCell(int volume = 0, int effect = 0, int param = 0) {
    Cell c = effectCell(effect, param, volume);
    c.note = kNoteKeyOff;
    return c;
}

// Engine pitch of a note (semitone 0-11, octave 1-8).
constexpr int enginePitch(int semitone, int octave) { return (octave * 12 + semitone - 12) * 32; }

// Level a carrier of TL 0 gets at a given cell volume.
inline int carrierLevel(int volume, int tl = 0) { return 127 - kVolumeTable[volume] * (127 - tl) / 127; }

struct ChannelFrame {
    std::vector<int> keys;       // operator masks written to 0x28 in order: 0 off, 15 all on
    bool pitchWritten = false;
    int pitch = -1;              // from the registers after the frame
    unsigned levelsWritten = 0;  // bit k-1: operator k's level written
    std::array<int, 4> levels{};  // last level written this frame, by operator
    bool loaded = false;         // a full instrument load happened
    int instrument = -1;         // read back from the registers after a load

    bool keyedOn() const {
        for (int k : keys)
            if (k == 15) return true;
        return false;
    }
    bool keyedOff() const {
        for (int k : keys)
            if (k == 0) return true;
        return false;
    }
};

struct DecodedFrame {
    std::array<ChannelFrame, kChannels> channel;
    std::vector<RegisterWrite> writes;
    int placeholderIndex = -1;  // position of the loop marker in the queue
    int count(int chip, int reg) const {
        int n = 0;
        for (const auto& w : writes) n += w.chip == chip && w.reg == reg;
        return n;
    }
    int last(int chip, int reg) const {
        int v = -1;
        for (const auto& w : writes)
            if (w.chip == chip && w.reg == reg) v = w.value;
        return v;
    }
};

// Keeps a shadow of both chips' registers across frames, like the chips.
class QueueDecoder {
public:
    explicit QueueDecoder(const NoteTables& tables) : tables_(tables) {}

    DecodedFrame decode(const RegisterWriteQueue& q) {
        DecodedFrame f;
        for (int i = 0; i < q.count; ++i) {
            const RegisterWrite w = q.entries[i];
            f.writes.push_back(w);
            if (w.reg == 255) {
                f.placeholderIndex = i;
                continue;
            }
            regs_[w.chip][w.reg] = w.value;
            if (w.reg == 0x28) {
                const int cc = w.value & 3;
                if (cc < 3) f.channel[w.chip * 3 + cc].keys.push_back(w.value >> 4);
                continue;
            }
            const int cc = w.reg & 3;
            if (cc == 3) continue;
            ChannelFrame& ch = f.channel[w.chip * 3 + cc];
            if ((w.reg & 0xF0) == 0x40) {
                const int k = (w.reg - 0x40) >> 2;
                ch.levelsWritten |= 1u << k;
                ch.levels[k] = w.value;
            } else if (w.reg >= 0xA0 && w.reg <= 0xA6) {
                ch.pitchWritten = true;
            } else if ((w.reg & 0xF0) == 0x50) {
                ch.loaded = true;
            }
        }
        for (int c = 0; c < kChannels; ++c) {
            ChannelFrame& ch = f.channel[c];
            const int chip = c / 3, cc = c % 3;
            ch.pitch = pitchOf(chip, 0xA4 + cc, 0xA0 + cc);
            if (ch.loaded) ch.instrument = (regs_[chip][0x50 + cc] & 31) | (regs_[chip][0x60 + cc] & 31) << 5;
        }
        return f;
    }

    int reg(int chip, int r) const { return regs_[chip][r]; }

    // Pitch (1/32 semitone) that a high/low register pair sounds, -1 if none.
    int pitchOf(int chip, int high, int low) const {
        const int block = regs_[chip][high] >> 3 & 7;
        const int fnum = (regs_[chip][high] & 7) << 8 | regs_[chip][low];
        for (int i = 0; i < 384; ++i)
            if (tables_.noteFrequency(i) == fnum) return block * 384 + i;
        return -1;
    }

private:
    const NoteTables& tables_;
    std::array<std::array<uint8_t, 256>, 2> regs_{};
};

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(chips.create(kSampleRate, kChipClock, 128));
        player = std::make_unique<Player>(*song, chips);
        decoder = std::make_unique<QueueDecoder>(player->noteTables());
        for (int i = 1; i <= 8; ++i) song->instrument(i) = makeInstrument(i);
    }

    Cell& cell(int row, int channel, int pattern = 0) { return song->patterns[pattern].rows[row][channel]; }

    void startPlaying(int orderPosition = 0, int row = 0, bool stopAfterRow = false, bool loopPattern = false,
                      bool stopOnRelease = false, int solo = -1) {
        player->songLengthFrames();
        ASSERT_FALSE(player->start(orderPosition, row, stopAfterRow, loopPattern, stopOnRelease, solo));
    }

    DecodedFrame frame() {
        player->tick();
        return decoder->decode(chips.queue());
    }

    // The row that the next tick reads (speed 1 songs).
    int nextRow() const { return player->position().row; }

    std::unique_ptr<Song> song = std::make_unique<Song>();
    ChipPair chips;
    std::unique_ptr<Player> player;
    std::unique_ptr<QueueDecoder> decoder;
};

}  // namespace qvtest
