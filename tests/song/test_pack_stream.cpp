#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "song/pack_stream.h"

using namespace qv;
using Bytes = std::vector<uint8_t>;

static Bytes pack(const Bytes& in) { return packBytes(in.data(), in.size()); }
static bool unpack(const Bytes& in, size_t count, Bytes& out, size_t* consumed = nullptr) {
    return unpackBytes(in.data(), in.size(), count, out, consumed);
}

TEST(PackStream, ByteExamplesPackAndUnpackExactly) {
    struct Case {
        Bytes plain, packed;
    };
    const std::vector<Case> cases = {
        {{0x05, 0x05, 0x05, 0x05, 0x07}, {0x05, 0x80, 0x84, 0x07}},
        {{0x05, 0x05, 0x07}, {0x05, 0x05, 0x07}},
        {{0x80, 0x80}, {0x80, 0x80, 0x80, 0x80}},
        {{0x05, 0x05, 0x05}, {0x05, 0x80, 0x83}},
        {{0x09}, {0x09}},
        {{}, {}},
        // A 0x80 never starts a run, and the byte after it is a literal.
        {{0x80, 0x80, 0x80, 0x07, 0x07, 0x07}, {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x07, 0x80, 0x83}},
        {{0x00, 0x80, 0x00}, {0x00, 0x80, 0x80, 0x00}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pack(c.plain), c.packed);
        Bytes out;
        size_t consumed = 0;
        ASSERT_TRUE(unpack(c.packed, c.plain.size(), out, &consumed));
        EXPECT_EQ(out, c.plain);
        EXPECT_EQ(consumed, c.packed.size());
    }
}

TEST(PackStream, CountsAreSevenBitGroupsLeastSignificantFirst) {
    Bytes run200(200, 0x11);
    EXPECT_EQ(pack(run200), (Bytes{0x11, 0x80, 0x48, 0x81}));
    Bytes run128(128, 0);
    EXPECT_EQ(pack(run128), (Bytes{0x00, 0x80, 0x00, 0x81}));
    Bytes run127(127, 0);
    EXPECT_EQ(pack(run127), (Bytes{0x00, 0x80, 0xFF}));
    Bytes big(1981904, 0);
    Bytes packedBig = pack(big);
    EXPECT_EQ(packedBig, (Bytes{0x00, 0x80, 0x50, 0x7B, 0xF8}));  // 1981904 = 0x1E3DD0
    Bytes out;
    ASSERT_TRUE(unpack(packedBig, big.size(), out));
    EXPECT_EQ(out, big);
}

TEST(PackStream, ReaderFollowsTheEscapeRules) {
    Bytes out;
    // An escape with count 0 is a literal 0x80 and leaves the repeated byte alone.
    ASSERT_TRUE(unpack({0x05, 0x80, 0x80, 0x80, 0x83}, 4, out));
    EXPECT_EQ(out, (Bytes{0x05, 0x80, 0x05, 0x05}));
    // A count of one repeats nothing more than the byte itself.
    ASSERT_TRUE(unpack({0x07, 0x80, 0x81, 0x08}, 3, out));
    EXPECT_EQ(out, (Bytes{0x07, 0x07, 0x08}));
    // A non-minimal count with five groups is still a count.
    ASSERT_TRUE(unpack({0x03, 0x80, 0x04, 0x00, 0x00, 0x00, 0x80}, 4, out));
    EXPECT_EQ(out, (Bytes{0x03, 0x03, 0x03, 0x03}));
}

TEST(PackStream, ReaderStopsAtTheEndOfItsData) {
    Bytes out;
    size_t consumed = 99;
    EXPECT_FALSE(unpack({}, 1, out));
    EXPECT_FALSE(unpack({0x05, 0x80}, 3, out));                    // escape without a count
    EXPECT_FALSE(unpack({0x05, 0x80, 0x01, 0x02}, 3, out));        // count without its last group
    EXPECT_FALSE(unpack({0x05, 0x05}, 3, out, &consumed));          // too few bytes
    EXPECT_EQ(consumed, 2u);
    EXPECT_FALSE(unpack({0x80, 0x83}, 3, out));                     // a run with nothing to repeat
    EXPECT_FALSE(unpack({0x05, 0x80, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x81}, 3, out));  // six groups
    EXPECT_FALSE(unpack({0x05, 0x80, 0x7F, 0x7F, 0x7F, 0x7F, 0x90}, 3, out));  // past 32 bits
    // The largest count (2^32 - 1) is allowed; the reader only takes what is asked for.
    Bytes huge = {0x05, 0x80, 0x7F, 0x7F, 0x7F, 0x7F, 0x8F};
    ASSERT_TRUE(unpack(huge, 1000, out, &consumed));
    EXPECT_EQ(out, Bytes(1000, 0x05));
    EXPECT_EQ(consumed, huge.size());
}

TEST(PackStream, RandomDataWithRunsAndEscapesRoundTrips) {
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 50; ++trial) {
        Bytes plain;
        while (plain.size() < 5000) {
            const uint8_t values[] = {0x00, 0x80, 0xFF, 0x7F, 0x05};
            uint8_t b = (rng() % 3) ? values[rng() % 5] : static_cast<uint8_t>(rng());
            int n = 1 + static_cast<int>(rng() % (rng() % 4 ? 4 : 400));
            plain.insert(plain.end(), n, b);
        }
        Bytes packed = pack(plain), out;
        size_t consumed = 0;
        ASSERT_TRUE(unpack(packed, plain.size(), out, &consumed));
        ASSERT_EQ(out, plain);
        EXPECT_EQ(consumed, packed.size());
        // Every 0x80 of the data is coded as a pair, never inside a run.
        size_t escapes = 0;
        for (uint8_t b : plain) escapes += b == 0x80;
        EXPECT_GE(packed.size(), 2 * escapes);
    }
}
