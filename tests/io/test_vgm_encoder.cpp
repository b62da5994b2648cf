// VGM bytes from synthetic frames, and a round trip through an independent reader.
#include <gtest/gtest.h>

#include <random>

#include "io/export_readers.h"
#include "io/vgm_export.h"
#include "song/song.h"

using namespace qv;
using qvtest::makeLog;
using qvtest::le32;

namespace {

// The six writes that open every YM2612 file: left and right on, channels 1-6.
const std::vector<uint8_t> kPanOn = {0x52, 0xB4, 0xC0, 0x52, 0xB5, 0xC0, 0x52, 0xB6, 0xC0,
                                     0x53, 0xB4, 0xC0, 0x53, 0xB5, 0xC0, 0x53, 0xB6, 0xC0};
// Where the frames start: after the header (and the six writes).
constexpr size_t kFrames = 0x40 + 18;
constexpr size_t kFrames2203 = 0x80;

// The command bytes between start and the 0x66.
std::vector<uint8_t> commands(const std::vector<uint8_t>& f, size_t start = kFrames) {
    size_t end = le32(f, 0x14) + 0x14 - 1;
    return std::vector<uint8_t>(f.begin() + static_cast<long>(start), f.begin() + static_cast<long>(end));
}

const RegisterWrite kW0{0, 0x40, 0x11};

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(VgmEncoder, HeaderFieldsForTenFramesLoopingAtStart) {
    std::vector<std::vector<RegisterWrite>> frames(10);
    frames[0] = {kW0};
    frames[3] = {kW0};
    auto f = encodeVgm({}, makeLog(frames, 0));
    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "Vgm ");
    EXPECT_EQ(le32(f, 0x04), f.size() - 4);
    EXPECT_EQ(le32(f, 0x08), 0x101u);
    EXPECT_EQ(le32(f, 0x0C), 0u);
    EXPECT_EQ(le32(f, 0x10), 7670442u);
    EXPECT_EQ(le32(f, 0x18), 10u * 882);
    EXPECT_EQ(le32(f, 0x1C), 0x24u);
    EXPECT_EQ(le32(f, 0x20), 10u * 882);
    for (size_t i = 0x24; i < 0x40; ++i) EXPECT_EQ(f[i], 0) << i;
    // The loop at frame 0 points at the output switches, so a replay that
    // loops switches them on again.
    const std::vector<uint8_t> frames0 = {0x63, 0x52, 0x40, 0x11, 0x63, 0x63, 0x63, 0x52,
                                          0x40, 0x11, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63};
    EXPECT_EQ(commands(f, 0x40), kPanOn + frames0);
    auto d = qvtest::decodeVgm(f);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.prelude.size(), 6u);
    EXPECT_EQ(d.loopFrame, 0);
}

TEST(VgmEncoder, TwoYm2203Header) {
    std::vector<std::vector<RegisterWrite>> frames(10);
    frames[0] = {{0, 0x28, 0xF1}, {1, 0x28, 0xF1}, {1, 0xA0, 0x55}};
    frames[6] = {kW0};
    auto f = encodeVgm2203({"T", "A", "M", 0}, makeLog(frames, 0));
    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "Vgm ");
    EXPECT_EQ(le32(f, 0x04), f.size() - 4);
    EXPECT_EQ(le32(f, 0x08), 0x151u);
    EXPECT_EQ(le32(f, 0x18), 10u * 882);
    EXPECT_EQ(le32(f, 0x1C) + 0x1C, kFrames2203);  // loop at the start: the first command
    EXPECT_EQ(le32(f, 0x20), 10u * 882);
    EXPECT_EQ(le32(f, 0x34) + 0x34, kFrames2203);
    EXPECT_EQ(le32(f, 0x44), 3500000u | 0x40000000u);
    for (size_t i = 0x24; i < 0x80; i += 4)
        if (i != 0x34 && i != 0x44) {
            EXPECT_EQ(le32(f, i), 0u) << "no other chip: " << i;
        }
    EXPECT_EQ(le32(f, 0x0C) | le32(f, 0x10), 0u);
    // Both chips' writes as they are, key on/off included; waits as for the YM2612.
    EXPECT_EQ(commands(f, kFrames2203), (std::vector<uint8_t>{0x63, 0x55, 0x28, 0xF1, 0xA5, 0x28, 0xF1, 0xA5, 0xA0,
                                                               0x55, 0x61, 0xAC, 0x14, 0x55, 0x40, 0x11, 0x63, 0x63,
                                                               0x63}));
    // Loop at frame 6: the offset points at its wait, the five waits before stay single.
    f = encodeVgm2203({}, makeLog(frames, 6));
    EXPECT_EQ(le32(f, 0x1C) + 0x1C, kFrames2203 + 10 + 5);
    EXPECT_EQ(le32(f, 0x20), 4u * 882);
    // The tag is the same as the YM2612 file's.
    auto mine = encodeVgm2203({"T", "A", "M", 0}, makeLog(frames, -1));
    auto other = encodeVgm({"T", "A", "M", 0}, makeLog(frames, -1));
    EXPECT_EQ(std::vector<uint8_t>(mine.begin() + le32(mine, 0x14) + 0x14, mine.end()),
              std::vector<uint8_t>(other.begin() + le32(other, 0x14) + 0x14, other.end()));
}

TEST(VgmEncoder, WaitRuns) {
    std::vector<std::vector<RegisterWrite>> frames(11);
    frames[10] = {kW0};
    auto f = encodeVgm({}, makeLog(frames, -1));
    // Ten empty frames and a frame with writes: 11 x 882 = 9702 = 0x25E6.
    EXPECT_EQ(commands(f), (std::vector<uint8_t>{0x61, 0xE6, 0x25, 0x52, 0x40, 0x11}));
    EXPECT_EQ(le32(f, 0x1C), 0u);
    EXPECT_EQ(le32(f, 0x20), 0u);

    // Three waits stay single; four are packed.
    frames.assign(4, {});
    frames[3] = {kW0};
    EXPECT_EQ(commands(encodeVgm({}, makeLog(frames, -1))), (std::vector<uint8_t>{0x61, 0xC8, 0x0D, 0x52, 0x40, 0x11}));
    frames.assign(3, {});
    frames[2] = {kW0};
    EXPECT_EQ(commands(encodeVgm({}, makeLog(frames, -1))), (std::vector<uint8_t>{0x63, 0x63, 0x63, 0x52, 0x40, 0x11}));

    // 100 frames = 88200 samples: 65535 then 22665 (0x5889).
    frames.assign(100, {});
    frames[99] = {kW0};
    EXPECT_EQ(commands(encodeVgm({}, makeLog(frames, -1))),
              (std::vector<uint8_t>{0x61, 0xFF, 0xFF, 0x61, 0x89, 0x58, 0x52, 0x40, 0x11}));
}

TEST(VgmEncoder, SecondChipPortsAndKeyFold) {
    auto f = encodeVgm({}, makeLog({{{1, 0x28, 0xF1}, {1, 0xA0, 0x55}, {0, 0x28, 0xF2}}}, -1));
    EXPECT_EQ(commands(f), (std::vector<uint8_t>{0x63, 0x52, 0x28, 0xF5, 0x53, 0xA0, 0x55, 0x52, 0x28, 0xF2}));
}

TEST(VgmEncoder, RunsNeverReachAcrossTheLoopPoint) {
    const std::vector<RegisterWrite> w{kW0};
    // The loop offset points at the loop frame's wait; the run before it
    // stays single waits even where it is 4 long.
    auto f = encodeVgm({}, makeLog({w, {}, {}, {}, {}, w, {}, w}, 5));
    auto c = commands(f);
    EXPECT_EQ(c, (std::vector<uint8_t>{0x63, 0x52, 0x40, 0x11, 0x63, 0x63, 0x63, 0x63, 0x63, 0x52, 0x40, 0x11,
                                       0x63, 0x63, 0x52, 0x40, 0x11}));
    EXPECT_EQ(le32(f, 0x1C) + 0x1C, kFrames + 8);
    EXPECT_EQ(le32(f, 0x20), 3u * 882);
    // The count starts afresh at the loop frame.
    f = encodeVgm({}, makeLog({w, {}, {}, {}, {}, {}, w}, 3));
    c = commands(f);
    EXPECT_EQ(c, (std::vector<uint8_t>{0x63, 0x52, 0x40, 0x11, 0x63, 0x63, 0x61, 0xC8, 0x0D, 0x52, 0x40, 0x11}));
    EXPECT_EQ(le32(f, 0x1C) + 0x1C, kFrames + 6);
    EXPECT_EQ(le32(f, 0x20), 4u * 882);
    f = encodeVgm({}, makeLog({w, {}, {}, {}, {}, {}, {}, {}, w}, 3));
    c = commands(f);
    EXPECT_EQ(c, (std::vector<uint8_t>{0x63, 0x52, 0x40, 0x11, 0x63, 0x63, 0x61, 0xAC, 0x14, 0x52, 0x40, 0x11}));
    // Played in a loop, the loop part lasts exactly the loop samples: the
    // last frame keeps its wait before the loop frame's writes come again.
    auto d = qvtest::decodeVgm(f);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.loopFrame, 3);
    EXPECT_EQ(d.totalSamples - 3u * 882, le32(f, 0x20));
}

TEST(VgmEncoder, Gd3Tag) {
    ExportTexts t{"Song\xE9", "Author", "Notes", packDate(7, 3, 2024)};
    auto d = qvtest::decodeVgm(encodeVgm(t, makeLog({{kW0}}, 0)));
    ASSERT_TRUE(d.ok) << d.error;
    ASSERT_EQ(d.tags.size(), 11u);
    EXPECT_EQ(d.tags[0], u"Song\u00E9");  // widened byte by byte
    EXPECT_EQ(d.tags[1], u"");
    EXPECT_EQ(d.tags[4], u"Zentaro - ZX Spectrum Sound Extension (2xYM2203)");
    EXPECT_EQ(d.tags[6], u"Author");
    EXPECT_EQ(d.tags[8], u"2024/03/07");
    EXPECT_EQ(d.tags[9], u"Qorvette VGM Exporter");
    EXPECT_EQ(d.tags[10], u"Notes");
    EXPECT_EQ(vgmReleaseDate(0), "2000/01/00");
}

TEST(VgmEncoder, RandomRoundTrip) {
    std::mt19937 rng(99);
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<std::vector<RegisterWrite>> frames(1 + rng() % 600);
        for (auto& f : frames) {
            if (rng() % 10 < 7) continue;
            int n = 1 + static_cast<int>(rng() % 5);
            for (int i = 0; i < n; ++i) {
                uint8_t chip = static_cast<uint8_t>(rng() % 2);
                uint8_t reg = rng() % 4 == 0 ? 0x28 : static_cast<uint8_t>(rng() % 0xF0);
                // Key on/off values carry the channel in bits 0-1 only.
                uint8_t value = reg == 0x28 ? static_cast<uint8_t>((rng() & 0xF0) | rng() % 3) : static_cast<uint8_t>(rng());
                f.push_back(RegisterWrite{chip, reg, value});
            }
        }
        if (trial % 4 == 0) frames.insert(frames.begin() + 1, 200 + rng() % 5000, {});
        int loop = trial % 3 == 0 ? -1 : static_cast<int>(rng() % frames.size());
        auto d = qvtest::decodeVgm(encodeVgm({}, makeLog(frames, loop)));
        ASSERT_TRUE(d.ok) << d.error;
        ASSERT_EQ(d.frames.size(), frames.size());
        EXPECT_EQ(d.loopFrame, loop);
        if (loop >= 0) {
            EXPECT_EQ(d.loopSamples, (frames.size() - static_cast<size_t>(loop)) * 882);
        }
        for (size_t i = 0; i < frames.size(); ++i) {
            ASSERT_EQ(d.frames[i].size(), frames[i].size()) << "frame " << i;
            for (size_t k = 0; k < frames[i].size(); ++k) {
                EXPECT_EQ(d.frames[i][k].chip, frames[i][k].chip);
                EXPECT_EQ(d.frames[i][k].reg, frames[i][k].reg);
                EXPECT_EQ(d.frames[i][k].value, frames[i][k].value);
            }
        }
    }
}
