// Register dump bytes from synthetic frames, and a round trip through an
// independent reader.
#include <gtest/gtest.h>

#include <random>

#include "io/export_readers.h"
#include "io/register_dump.h"

using namespace qv;
using qvtest::makeLog;

namespace {

std::vector<uint8_t> body(const std::vector<uint8_t>& file, size_t textsEnd) {
    return std::vector<uint8_t>(file.begin() + static_cast<long>(textsEnd), file.end());
}

const RegisterWrite kW0{0, 0x40, 0x11};
const RegisterWrite kW1{1, 0x41, 0x22};

}  // namespace

TEST(QzdEncoder, UntitledSongHeaderAndLoopAtStart) {
    ExportTexts texts;
    auto file = encodeQzd(texts, makeLog({{kW0}}, 0));
    std::vector<uint8_t> expect = {'Q', 'Z', 'M', 'D', 0, 0, 0, 0xFA, 0xFF, 0x40, 0x11, 0xFB};
    EXPECT_EQ(file, expect);

    texts.trackName = "Tune";
    texts.author = "Me";
    texts.message = "Hi";
    file = encodeQzd(texts, makeLog({{kW0}}, 1));  // loop frame beyond the end: no mark
    expect = {'Q', 'Z', 'M', 'D', 'T', 'u', 'n', 'e', 0, 'M', 'e', 0, 'H', 'i', 0, 0xFF, 0x40, 0x11, 0xFB};
    EXPECT_EQ(file, expect);
}

TEST(QzdEncoder, RunsOfEmptyFrames) {
    // writes, k empty frames, writes
    auto encodeGap = [](int k) {
        std::vector<std::vector<RegisterWrite>> frames{{kW0}};
        for (int i = 0; i < k; ++i) frames.push_back({});
        frames.push_back({kW0});
        return body(encodeQzd({}, makeLog(frames, -1)), 7);
    };
    EXPECT_EQ(encodeGap(0), (std::vector<uint8_t>{0xFF, 0x40, 0x11, 0xFF, 0x40, 0x11, 0xFB}));
    EXPECT_EQ(encodeGap(1), (std::vector<uint8_t>{0xFF, 0x40, 0x11, 0xFF, 0xFF, 0x40, 0x11, 0xFB}));
    EXPECT_EQ(encodeGap(2), (std::vector<uint8_t>{0xFF, 0x40, 0x11, 0xFE, 0x00, 0x40, 0x11, 0xFB}));
    EXPECT_EQ(encodeGap(3), (std::vector<uint8_t>{0xFF, 0x40, 0x11, 0xFE, 0x01, 0x40, 0x11, 0xFB}));
    // 257 empty frames + the frame with writes = 258 starts: one code.
    EXPECT_EQ(encodeGap(257), (std::vector<uint8_t>{0xFF, 0x40, 0x11, 0xFE, 0xFF, 0x40, 0x11, 0xFB}));
    // 259 starts: 256 + 3.
    EXPECT_EQ(encodeGap(258),
              (std::vector<uint8_t>{0xFF, 0x40, 0x11, 0xFE, 0xFD, 0xFE, 0x00, 0x40, 0x11, 0xFB}));
    // 261 starts: 258 + 3; 262: 258 + 4.
    EXPECT_EQ(encodeGap(260),
              (std::vector<uint8_t>{0xFF, 0x40, 0x11, 0xFE, 0xFF, 0xFE, 0x00, 0x40, 0x11, 0xFB}));
    EXPECT_EQ(encodeGap(261),
              (std::vector<uint8_t>{0xFF, 0x40, 0x11, 0xFE, 0xFF, 0xFE, 0x01, 0x40, 0x11, 0xFB}));
    // A leading run from the header counts too.
    auto lead = body(encodeQzd({}, makeLog({{}, {}, {kW0}}, -1)), 7);
    EXPECT_EQ(lead, (std::vector<uint8_t>{0xFE, 0x00, 0x40, 0x11, 0xFB}));
}

TEST(QzdEncoder, TrailingEmptyFramesStaySingle) {
    auto b = body(encodeQzd({}, makeLog({{kW0}, {}, {}, {}, {}}, -1)), 7);
    EXPECT_EQ(b, (std::vector<uint8_t>{0xFF, 0x40, 0x11, 0xFF, 0xFF, 0xFF, 0xFF, 0xFB}));
}

TEST(QzdEncoder, SecondChipAndOrdering) {
    // Only the second chip: FF FD pairs.
    auto b = body(encodeQzd({}, makeLog({{kW1}}, -1)), 7);
    EXPECT_EQ(b, (std::vector<uint8_t>{0xFF, 0xFD, 0x41, 0x22, 0xFB}));
    // Mixed queue order: first chip's pairs first, then FD and the second's, each in queue order.
    b = body(encodeQzd({}, makeLog({{{1, 1, 1}, {0, 2, 2}, {1, 3, 3}, {0, 4, 4}}}, -1)), 7);
    EXPECT_EQ(b, (std::vector<uint8_t>{0xFF, 2, 2, 4, 4, 0xFD, 1, 1, 3, 3, 0xFB}));
}

TEST(QzdEncoder, LoopMarkInsideTheStream) {
    // Loop frame 2 with writes after two empty frames... the run ending with
    // its own start is packed, then the mark.
    auto b = body(encodeQzd({}, makeLog({{kW0}, {}, {}, {kW0}, {}}, 3)), 7);
    EXPECT_EQ(b, (std::vector<uint8_t>{0xFF, 0x40, 0x11, 0xFE, 0x00, 0xFA, 0x40, 0x11, 0xFF, 0xFB}));
    // Loop frame without writes: single start, mark, and the run starts afresh.
    b = body(encodeQzd({}, makeLog({{kW0}, {}, {}, {}, {kW0}}, 2)), 7);
    EXPECT_EQ(b, (std::vector<uint8_t>{0xFF, 0x40, 0x11, 0xFF, 0xFF, 0xFA, 0xFF, 0xFF, 0x40, 0x11, 0xFB}));
    b = body(encodeQzd({}, makeLog({{kW0}, {}, {}, {}, {}, {}, {kW0}}, 2)), 7);
    EXPECT_EQ(b, (std::vector<uint8_t>{0xFF, 0x40, 0x11, 0xFF, 0xFF, 0xFA, 0xFE, 0x01, 0x40, 0x11, 0xFB}));
}

TEST(QzdEncoder, RegistersThatWouldReadAsCodesAreLeftOut) {
    auto b = body(encodeQzd({}, makeLog({{{0, 0xFA, 1}, {0, 0xFF, 2}, {1, 0xFB, 3}, kW0}}, -1)), 7);
    EXPECT_EQ(b, (std::vector<uint8_t>{0xFF, 0x40, 0x11, 0xFB}));
}

TEST(QzdEncoder, RandomRoundTrip) {
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<std::vector<RegisterWrite>> frames(1 + rng() % 700);
        for (auto& f : frames) {
            int kind = static_cast<int>(rng() % 10);
            if (kind < 6) continue;  // mostly empty, to make long runs
            int n = 1 + static_cast<int>(rng() % 6);
            for (int i = 0; i < n; ++i)
                f.push_back(RegisterWrite{static_cast<uint8_t>(rng() % 2), static_cast<uint8_t>(rng() % 0xFA),
                                          static_cast<uint8_t>(rng())});
        }
        if (trial % 5 == 0) {  // very long silences
            frames.insert(frames.begin() + static_cast<long>(frames.size() / 2), 300 + rng() % 600, {});
            frames.push_back({kW0});
        }
        int loop = static_cast<int>(rng() % frames.size());
        auto file = encodeQzd({"a", "b", "c"}, makeLog(frames, loop));
        auto d = qvtest::decodeQzd(file);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.texts[0], "a");
        EXPECT_EQ(d.texts[2], "c");
        ASSERT_EQ(d.frames.size(), frames.size());
        EXPECT_EQ(d.loopFrame, loop);
        for (size_t i = 0; i < frames.size(); ++i) {
            // The dump groups each frame by chip; order within a chip is kept.
            std::vector<RegisterWrite> expect;
            for (int chip = 0; chip < 2; ++chip)
                for (const auto& w : frames[i])
                    if (w.chip == chip) expect.push_back(w);
            ASSERT_EQ(d.frames[i].size(), expect.size()) << "frame " << i;
            for (size_t k = 0; k < expect.size(); ++k) {
                EXPECT_EQ(d.frames[i][k].chip, expect[k].chip);
                EXPECT_EQ(d.frames[i][k].reg, expect[k].reg);
                EXPECT_EQ(d.frames[i][k].value, expect[k].value);
            }
        }
    }
}
