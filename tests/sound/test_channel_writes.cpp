// What one channel's key, pitch, instrument and volume operations send to the
// chips.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sound/channel_writes.h"

namespace qv {
namespace {

class ChannelWrites : public ::testing::Test {
protected:
    ChannelWrites() : writer(queue, *song, tables, channels) {}

    std::vector<RegisterWrite> writes() const {
        return std::vector<RegisterWrite>(queue.entries.begin(), queue.entries.begin() + queue.count);
    }
    // Value of the last write of reg on chip, -1 if none.
    int last(int chip, int reg) const {
        int v = -1;
        for (const auto& w : writes())
            if (w.chip == chip && w.reg == reg) v = w.value;
        return v;
    }
    Instrument& instrument(int n, int algorithm, int tl) {
        Instrument& ins = song->instrument(n);
        for (auto& op : ins.operators) op.TL = tl;
        ins.algorithm = algorithm;
        return ins;
    }
    // Carrier-level writes (register 0x40 + offset + chip channel) in order,
    // as (operator, level).
    std::vector<std::pair<int, int>> levelWrites(int channel) const {
        std::vector<std::pair<int, int>> out;
        for (const auto& w : writes())
            if (w.chip == channel / 3 && (w.reg & 0xF0) == 0x40 && (w.reg & 3) == channel % 3)
                out.emplace_back(((w.reg - 0x40) >> 2) + 1, w.value);
        return out;
    }

    std::unique_ptr<Song> song = std::make_unique<Song>();
    RegisterWriteQueue queue;
    NoteTables tables;
    std::array<PlayerChannel, kChannels> channels{};
    ChannelWriter writer;
};

using Levels = std::vector<std::pair<int, int>>;

TEST_F(ChannelWrites, KeysGoToTheChannelsChipAndChipChannel) {
    for (int c = 0; c < 6; ++c) {
        writer.keyOff(c);
        writer.keyOn(c);
    }
    const auto w = writes();
    ASSERT_EQ(w.size(), 12u);
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(w[2 * c].chip, c / 3);
        EXPECT_EQ(w[2 * c].reg, 0x28);
        EXPECT_EQ(w[2 * c].value, c % 3);
        EXPECT_EQ(w[2 * c + 1].value, 0xF0 | c % 3);
    }
}

TEST_F(ChannelWrites, PitchIsWrittenHighByteFirstAndClamped) {
    writer.writePitch(4, 0, 0);
    writer.writePitch(0, 3071, 0);
    writer.writePitch(2, -40, 0x73);  // channel 3 mode does not concern other channels' data
    const auto w = writes();
    ASSERT_GE(w.size(), 4u);
    EXPECT_EQ(w[0].chip, 1);
    EXPECT_EQ(w[0].reg, 0xA5);
    EXPECT_EQ(w[0].value, 707 >> 8);
    EXPECT_EQ(w[1].reg, 0xA1);
    EXPECT_EQ(w[1].value, 707 & 0xFF);
    EXPECT_EQ(w[2].reg, 0xA4);
    EXPECT_EQ(w[2].value, 7 << 3 | 1410 >> 8);
    EXPECT_EQ(w[3].value, 1410 & 0xFF);
}

TEST_F(ChannelWrites, ChannelThreeModeSoundsFourOperatorPitches) {
    // 0x73 on C-4: offsets 0xC, 4, 8 and 0 sound C-4, D#-4, G-4 and C-5.
    writer.writePitch(2, 36 * 32, 0x73);
    const auto w = writes();
    ASSERT_EQ(w.size(), 8u);
    const int regs[8] = {0xA6, 0xA2, 0xAC, 0xA8, 0xAE, 0xAA, 0xAD, 0xA9};
    const int pitch[4] = {36 * 32, 39 * 32, 43 * 32, 48 * 32};
    for (int i = 0; i < 4; ++i) {
        const ChipFrequency f = tables.frequency(pitch[i]);
        EXPECT_EQ(w[2 * i].reg, regs[2 * i]);
        EXPECT_EQ(w[2 * i].value, f.high()) << i;
        EXPECT_EQ(w[2 * i + 1].reg, regs[2 * i + 1]);
        EXPECT_EQ(w[2 * i + 1].value, f.low()) << i;
        EXPECT_EQ(w[2 * i].chip, 0);
    }
    EXPECT_EQ(tables.frequency(pitch[3]).block, 4);  // C-5: one block above C-4
    EXPECT_EQ(tables.frequency(pitch[0]).block, 3);
    // Every one of the four is clamped on its own.
    queue.clear();
    writer.writePitch(2, 3000, 0x73);
    EXPECT_EQ(last(0, 0xA9), 1410 & 0xFF);
    EXPECT_EQ(last(0, 0xAD), 7 << 3 | 1410 >> 8);
    // Only channel 2 has the special mode.
    queue.clear();
    writer.writePitch(5, 36 * 32, 0x73);
    EXPECT_EQ(queue.count, 2);
}

TEST_F(ChannelWrites, InstrumentLoadWritesEveryRegisterInOrder) {
    Instrument& ins = instrument(9, 7, 40);
    const int dt[4] = {-3, 0, 2, 7};
    for (int k = 0; k < 4; ++k) {
        Operator& op = ins.operators[k];
        op.MULT = 3 + k;
        op.DT = dt[k];
        op.RS = k;
        op.AR = 20 + k;
        op.DR = 10 + k;
        op.SR = 5 + k;
        op.RR = 9 + k;
        op.SL = 12 - k;
        op.SSGEG = k == 2 ? 13 : 0;
    }
    ins.FB = 6;
    writer.loadInstrument(1, 9, 31, 0, 0);
    const auto w = writes();
    ASSERT_EQ(w.size(), 4u + 1 + 24 + 4);
    int i = 0;
    for (int k = 0; k < 4; ++k, ++i) {  // all carriers: silent first
        EXPECT_EQ(w[i].reg, 0x40 + 4 * k + 1);
        EXPECT_EQ(w[i].value, 0xFF);
    }
    EXPECT_EQ(w[i].reg, 0xB1);
    EXPECT_EQ(w[i++].value, 7 | 6 << 3);
    const int dtCodes[4] = {7, 0, 2, 0};
    for (int k = 0; k < 4; ++k, ++i) {
        EXPECT_EQ(w[i].reg, 0x30 + 4 * k + 1);
        EXPECT_EQ(w[i].value, dtCodes[k] << 4 | (3 + k));
    }
    for (int k = 0; k < 4; ++k, ++i) EXPECT_EQ(w[i].value, (20 + k) | k << 6);
    for (int k = 0; k < 4; ++k, ++i) EXPECT_EQ(w[i].value, 10 + k);
    for (int k = 0; k < 4; ++k, ++i) EXPECT_EQ(w[i].value, 5 + k);
    for (int k = 0; k < 4; ++k, ++i) EXPECT_EQ(w[i].value, (9 + k) | (12 - k) << 4);
    for (int k = 0; k < 4; ++k, ++i) {
        EXPECT_EQ(w[i].reg, 0x90 + 4 * k + 1);
        EXPECT_EQ(w[i].value, k == 2 ? 13 : 0);
    }
    for (int k = 0; k < 4; ++k, ++i) {  // volume 31 keeps the instrument's level
        EXPECT_EQ(w[i].reg, 0x40 + 4 * k + 1);
        EXPECT_EQ(w[i].value, 40);
    }
    EXPECT_EQ(channels[1].currentInstrument, 9);
    EXPECT_FALSE(channels[1].reloadInstrument);
}

TEST_F(ChannelWrites, InstrumentLoadTakesMultiplierFeedbackAndLevelFromTheCellEffect) {
    instrument(2, 0, 0);
    channels[3].reloadInstrument = true;
    channels[3].channelVolume = 80;
    writer.loadInstrument(3, 2, 0, 14, 0x2B);  // operator 3 MULT 11
    EXPECT_EQ(last(1, 0x38), 11);
    EXPECT_EQ(channels[3].channelVolume, 80);  // no cell volume: kept
    queue.clear();
    writer.loadInstrument(3, 2, 0, 14, 0xF4);
    EXPECT_EQ(last(1, 0xB0), 4 << 3);
    queue.clear();
    writer.loadInstrument(3, 2, 12, 8, 0x33);  // level effect on a modulator
    EXPECT_EQ(channels[3].channelVolume, 96);
    const Levels lv = levelWrites(3);
    ASSERT_EQ(lv.size(), 6u);
    EXPECT_EQ(lv[0], std::make_pair(1, 0xFF));
    EXPECT_EQ(lv[1], std::make_pair(2, 0));
    EXPECT_EQ(lv[3], std::make_pair(4, 0xFF));
    EXPECT_EQ(lv[4], std::make_pair(1, 0x33));
    EXPECT_EQ(lv[5], std::make_pair(4, 127 - 104));
}

TEST_F(ChannelWrites, VolumeCurveScalesOnlyTheCarriers) {
    instrument(1, 7, 0);
    instrument(2, 0, 0);
    channels[0].currentInstrument = 1;
    channels[1].currentInstrument = 2;
    writer.updateVolume(0, 1 * 8, 0, 0);  // volume 1: silence on all four
    EXPECT_EQ(levelWrites(0), (Levels{{1, 127}, {2, 127}, {3, 127}, {4, 127}}));
    queue.clear();
    writer.updateVolume(1, 16 * 8, 0, 0);  // algorithm 0: operator 4 alone
    EXPECT_EQ(levelWrites(1), (Levels{{4, 17}}));
    queue.clear();
    instrument(2, 0, 50);
    writer.updateVolume(1, 31 * 8, 0, 0);
    EXPECT_EQ(levelWrites(1), (Levels{{4, 50}}));
    queue.clear();
    // A modulator's level effect writes it and the carrier, in operator order.
    writer.updateVolume(1, 0, 8, 0x95);
    EXPECT_EQ(levelWrites(1), (Levels{{1, 0x15}, {4, 50}}));
    // A level effect on the carrier is scaled by the volume too.
    queue.clear();
    writer.updateVolume(1, 16 * 8, 13, 0x10);
    EXPECT_EQ(levelWrites(1), (Levels{{4, 127 - 110 * (127 - 16) / 127}}));
}

TEST_F(ChannelWrites, EveryAlgorithmScalesItsOwnCarriers) {
    const unsigned carriers[8] = {8, 8, 8, 8, 12, 14, 14, 15};
    for (int a = 0; a < 8; ++a) {
        queue.clear();
        instrument(1, a, 0);
        channels[5].currentInstrument = 1;
        writer.updateVolume(5, 2 * 8, 0, 0);
        unsigned mask = 0;
        for (auto [op, level] : levelWrites(5)) {
            mask |= 1u << (op - 1);
            EXPECT_EQ(level, 127 - 88);
        }
        EXPECT_EQ(mask, carriers[a]) << a;
    }
}

TEST_F(ChannelWrites, OutOfRangeVolumesAndInstrumentsAreContained) {
    instrument(1, 7, 0);
    channels[0].currentInstrument = 1;
    writer.updateVolume(0, 100 * 8, 0, 0);  // a damaged cell volume
    EXPECT_EQ(channels[0].channelVolume, 248);
    writer.updateVolume(0, -16, 0, 0);
    EXPECT_EQ(channels[0].channelVolume, 0);
    queue.clear();
    // No instrument: the volume is kept, nothing is written.
    channels[1].currentInstrument = -1;
    writer.updateVolume(1, 40, 0, 0);
    EXPECT_EQ(channels[1].channelVolume, 40);
    writer.loadInstrument(1, 0, 5, 0, 0);
    writer.loadInstrument(1, 256, 5, 0, 0);
    EXPECT_EQ(queue.count, 0);
    EXPECT_EQ(channels[1].currentInstrument, -1);
}

TEST_F(ChannelWrites, AFullFrameDropsFurtherWrites) {
    for (int i = 0; i < RegisterWriteQueue::kFrameLimit; ++i) writer.keyOff(0);
    writer.keyOn(0);
    EXPECT_EQ(queue.count, RegisterWriteQueue::kFrameLimit);
    EXPECT_EQ(queue.entries[queue.count - 1].value, 0);
}

}  // namespace
}  // namespace qv
