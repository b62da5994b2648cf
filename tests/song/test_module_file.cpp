#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "song/module_file.h"
#include "song/pack_stream.h"

using namespace qv;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

// Offsets of the unpacked sequence, written out independently of the writer.
constexpr size_t kAuthorAt = 10, kTrackAt = 74, kMessageAt = 138, kOrderAt = 522, kNamesAt = 778,
                 kParamsAt = 4858, kLengthsAt = 15568, kCellsAt = 15824;
size_t cellAt(int pattern, int channel, int column, int row) {
    return kCellsAt + ((static_cast<size_t>(pattern) * 6 + channel) * 5 + column) * 256 + row;
}

std::unique_ptr<Song> newSong() {
    auto s = std::make_unique<Song>();
    s->clear();
    return s;
}

Bytes readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void writeFile(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

struct TempDir {
    fs::path path;
    TempDir() {
        std::random_device rd;
        path = fs::temp_directory_path() / ("qv_module_test_" + std::to_string(rd()));
        fs::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
};

void randomInstrument(Instrument& ins, std::mt19937& rng) {
    auto r = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
    ins.algorithm = r(0, 7);
    ins.FB = r(0, 7);
    for (auto& op : ins.operators) {
        op.MULT = r(0, 15);
        op.DT = r(-3, 3);
        op.TL = r(0, 127);
        op.RS = r(0, 3);
        op.AR = r(0, 31);
        op.DR = r(0, 31);
        op.SR = r(0, 31);
        op.RR = r(0, 15);
        op.SL = r(0, 15);
        op.SSGEG = r(0, 1) ? 0 : r(8, 15);
    }
}

// Every stored field of a song filled at random, rows past the lengths included.
std::unique_ptr<Song> randomSong(uint32_t seed) {
    std::mt19937 rng(seed);
    auto r = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
    auto s = newSong();
    for (auto& p : s->patterns) {
        p.length = r(1, 256);
        for (auto& row : p.rows)
            for (auto& c : row) {
                int kind = r(0, 9);
                if (kind < 6) {
                    c.setPitch(r(0, 95));
                } else if (kind == 6) {
                    c.note = kNoteKeyOff;
                    c.octave = 0;
                } else {
                    c.note = kNoteEmpty;
                    c.octave = 0;
                }
                c.volume = static_cast<int8_t>(r(0, 31));
                c.effect = static_cast<int8_t>(r(0, 15));
                c.param = static_cast<uint8_t>(r(0, 255));
                c.instrument = static_cast<int16_t>(r(0, 255));
            }
    }
    s->order.length = static_cast<int16_t>(r(1, 256));
    s->order.loopPosition = static_cast<int16_t>(r(0, s->order.length - 1));
    for (auto& e : s->order.entries) e.pattern = static_cast<uint8_t>(r(0, 255));
    for (int i = 1; i <= kInstruments; ++i) {
        Instrument& ins = s->instrument(i);
        randomInstrument(ins, rng);
        std::string name;
        int len = i % 3 == 0 ? 16 : r(0, 16);
        for (int k = 0; k < len; ++k) name += static_cast<char>(r(1, 254));
        ins.setName(i % 7 == 0 ? "empty" : name);
    }
    s->speedEven = r(1, 15);
    s->speedOdd = r(1, 15);
    s->interleave = r(1, 255);
    s->setTrackName(std::string(63, 'T'));
    s->setAuthor("Author \x01\xfe");
    s->setMessage(std::string(200, 'm') + "\r\nsecond line" + std::string(171, 'z'));
    s->created = packDate(r(1, 31), r(1, 12), r(0, 99));
    s->saved = packDate(r(1, 31), r(1, 12), r(0, 99));
    s->saveCount = static_cast<uint16_t>(r(0, 65535));
    return s;
}

void expectSameStoredFields(const Song& a, const Song& b) {
    EXPECT_EQ(a.speedEven, b.speedEven);
    EXPECT_EQ(a.speedOdd, b.speedOdd);
    EXPECT_EQ(a.interleave, b.interleave);
    EXPECT_EQ(a.order.length, b.order.length);
    EXPECT_EQ(a.order.loopPosition, b.order.loopPosition);
    for (int i = 0; i < kOrderEntries; ++i) EXPECT_EQ(a.order.entries[i].pattern, b.order.entries[i].pattern);
    EXPECT_EQ(a.trackNameText(), b.trackNameText());
    EXPECT_EQ(a.authorText(), b.authorText());
    EXPECT_EQ(a.messageText(), b.messageText());
    EXPECT_EQ(a.created, b.created);
    EXPECT_EQ(a.saved, b.saved);
    EXPECT_EQ(a.saveCount, b.saveCount);
    for (int i = 0; i < kInstruments; ++i) EXPECT_EQ(a.instruments[i], b.instruments[i]) << "instrument " << i + 1;
    for (int p = 0; p < kPatterns; ++p) ASSERT_EQ(a.patterns[p], b.patterns[p]) << "pattern " << p;
}

}  // namespace

TEST(ModuleFile, NewSongPacksToAFewLongZeroRuns) {
    // The whole packed file of a new song created on 5 March 2008, byte by byte.
    const Bytes expected = {0x33, 0x01, 0x01, 0x00, 0x08, 0x29, 0x00, 0x80, 0x04, 0x86, 0xFF, 0x80, 0x70, 0x9F,
                            0x00, 0x80, 0x56, 0xD3, 0x40, 0x80, 0x00, 0x82, 0x00, 0x80, 0x00, 0x00, 0xF8};
    auto s = newSong();
    s->created = packDate(5, 3, 2008);
    EXPECT_EQ(moduleSequence(*s).size(), kModuleSequenceSize);
    EXPECT_EQ(packModule(*s), expected);

    auto loaded = std::make_unique<Song>();
    ASSERT_EQ(decodeModule(expected, *loaded), kModuleLoaded);
    EXPECT_EQ(packedDateText(loaded->created), "05.03.08");
    EXPECT_EQ(loaded->order.length, 1);
    EXPECT_EQ(loaded->patterns[255].length, 64);
    EXPECT_TRUE(loaded->instrumentIsFree(255));
    expectSameStoredFields(*s, *loaded);
}

TEST(ModuleFile, HandBuiltSequenceDecodesFieldByField) {
    Bytes q(kModuleSequenceSize, 0);
    q[0] = 0x5C;  // speeds 5 and 12
    q[1] = 7;
    q[2] = 0;     // order length 256
    q[3] = 200;
    q[4] = 0x08; q[5] = 0x29;  // 05.03.08
    q[6] = 0xE3; q[7] = 0xFD;  // 31.12.99
    q[8] = 0x34; q[9] = 0x12;
    const std::string author = "Me", track = "Title", message = "line1\r\nline2";
    std::copy(author.begin(), author.end(), q.begin() + kAuthorAt);
    std::copy(track.begin(), track.end(), q.begin() + kTrackAt);
    std::copy(message.begin(), message.end(), q.begin() + kMessageAt);
    for (int i = 0; i < 256; ++i) q[kOrderAt + i] = static_cast<uint8_t>(255 - i);
    for (int i = 0; i < 255; ++i) std::fill_n(q.begin() + kNamesAt + 16 * i, 16, 0xFF);
    const std::string full = "SixteenCharName!";
    std::copy(full.begin(), full.end(), q.begin() + kNamesAt + 16 * 2);  // instrument 3
    std::fill_n(q.begin() + kNamesAt + 16 * 3, 16, 0);                    // instrument 4: ""
    for (int i = 0; i < 255; ++i) {
        uint8_t* p = &q[kParamsAt + 42 * i];
        for (int k = 0; k < 4; ++k) p[2 + 10 * k + 2] = 0;  // TL 127 stored inverted
    }
    uint8_t* ins5 = &q[kParamsAt + 42 * 4];
    ins5[0] = 5; ins5[1] = 6;
    const uint8_t op2[10] = {9, 0xFE, 0x7F ^ 20, 2, 31, 12, 7, 15, 3, 10};
    std::copy(op2, op2 + 10, ins5 + 2 + 10);
    for (int p = 0; p < 256; ++p) q[kLengthsAt + p] = static_cast<uint8_t>(p);  // pattern 0 -> 256
    q[cellAt(7, 2, 0, 0)] = 0xF3;           // C-1
    q[cellAt(7, 2, 0, 1)] = (11 + 96) ^ 0xFF;  // B-8
    q[cellAt(7, 2, 0, 2)] = 254 ^ 0xFF;     // key off
    q[cellAt(7, 2, 0, 250)] = (4 + 36) ^ 0xFF;  // E-3 past the length
    q[cellAt(7, 2, 1, 0)] = 31;
    q[cellAt(7, 2, 2, 0)] = 255;
    q[cellAt(7, 2, 3, 0)] = 15;
    q[cellAt(7, 2, 4, 0)] = 0x80;

    auto s = std::make_unique<Song>();
    ASSERT_EQ(decodeModule(packBytes(q.data(), q.size()), *s), kModuleLoaded);
    EXPECT_EQ(s->speedEven, 5);
    EXPECT_EQ(s->speedOdd, 12);
    EXPECT_EQ(s->interleave, 7);
    EXPECT_EQ(s->order.length, 256);
    EXPECT_EQ(s->order.loopPosition, 200);
    EXPECT_EQ(s->created, 10504);
    EXPECT_EQ(packedDateText(s->saved), "31.12.99");
    EXPECT_EQ(s->saveCount, 0x1234);
    EXPECT_EQ(s->authorText(), "Me");
    EXPECT_EQ(s->trackNameText(), "Title");
    EXPECT_EQ(s->messageText(), message);
    EXPECT_EQ(s->order.entries[0].pattern, 255);
    EXPECT_EQ(s->order.entries[255].pattern, 0);
    EXPECT_TRUE(s->instrumentIsFree(1));
    EXPECT_EQ(s->instrument(3).nameText(), full);
    EXPECT_EQ(s->instrument(4).nameText(), "");
    const Instrument& i5 = s->instrument(5);
    EXPECT_EQ(i5.algorithm, 5);
    EXPECT_EQ(i5.FB, 6);
    EXPECT_EQ(i5.operators[0], Operator{});
    EXPECT_EQ(i5.operators[1], (Operator{9, -2, 20, 2, 31, 12, 7, 15, 3, 10}));
    EXPECT_EQ(s->patterns[0].length, 256);
    EXPECT_EQ(s->patterns[7].length, 7);
    const auto& rows = s->patterns[7].rows;
    EXPECT_EQ(rows[0][2].note, 0);
    EXPECT_EQ(rows[0][2].octave, 1);
    EXPECT_EQ(rows[0][2].pitch(), 0);
    EXPECT_EQ(rows[1][2].pitch(), 95);
    EXPECT_EQ(rows[2][2].note, kNoteKeyOff);
    EXPECT_EQ(rows[250][2].pitch(), 4 + 24);
    EXPECT_EQ(rows[0][2].volume, 31);
    EXPECT_EQ(rows[0][2].instrument, 255);
    EXPECT_EQ(rows[0][2].effect, 15);
    EXPECT_EQ(rows[0][2].param, 0x80);
    EXPECT_TRUE(rows[3][2].isEmpty());

    // And the writer produces the same sequence back.
    EXPECT_EQ(moduleSequence(*s), q);
}

TEST(ModuleFile, RandomFullSongRoundTrips) {
    for (uint32_t seed : {1u, 2u}) {
        auto s = randomSong(seed);
        Bytes packed = packModule(*s);
        auto loaded = std::make_unique<Song>();
        ASSERT_EQ(decodeModule(packed, *loaded), kModuleLoaded);
        expectSameStoredFields(*s, *loaded);
        EXPECT_EQ(packModule(*loaded), packed);
    }
}

TEST(ModuleFile, CapacityValuesAndNamesAreCodedAsStored) {
    auto s = newSong();
    s->order.length = 256;
    s->patterns[9].length = 256;
    s->instrument(2).setName("ABCDEFGHIJKLMNOP");
    s->instrument(3).setName("empty");
    s->instrument(3).FB = 1;  // a used instrument that is still called "empty"
    Bytes q = moduleSequence(*s);
    EXPECT_EQ(q[2], 0);
    EXPECT_EQ(q[kLengthsAt + 9], 0);
    EXPECT_EQ(q[kLengthsAt + 8], 64);
    EXPECT_EQ(Bytes(q.begin() + kNamesAt, q.begin() + kNamesAt + 16), Bytes(16, 0xFF));
    EXPECT_EQ(std::string(q.begin() + kNamesAt + 16, q.begin() + kNamesAt + 32), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(Bytes(q.begin() + kNamesAt + 32, q.begin() + kNamesAt + 48), Bytes(16, 0xFF));
    EXPECT_EQ(q[kParamsAt + 2 + 2], 0);  // TL 127 of instrument 1, inverted

    auto loaded = std::make_unique<Song>();
    ASSERT_EQ(decodeModule(packModule(*s), *loaded), kModuleLoaded);
    EXPECT_EQ(loaded->order.length, 256);
    EXPECT_EQ(loaded->patterns[9].length, 256);
    EXPECT_EQ(loaded->instrument(2).nameText(), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(loaded->instrument(3).nameText(), "empty");
    EXPECT_EQ(loaded->instrument(3).FB, 1);
    EXPECT_TRUE(loaded->instrumentIsFree(1));
}

TEST(ModuleFile, FinalLengthCheckAllowsOneSpareByte) {
    auto s = randomSong(7);
    Bytes packed = packModule(*s);
    auto current = newSong();
    current->setTrackName("current");

    Bytes longer = packed;
    longer.push_back(0x00);
    auto loaded = std::make_unique<Song>();
    EXPECT_EQ(decodeModule(longer, *loaded), kModuleLoaded);
    expectSameStoredFields(*s, *loaded);

    longer.push_back(0x00);
    EXPECT_EQ(decodeModule(longer, *current), kModuleWrongFormat);
    EXPECT_EQ(current->trackNameText(), "current");  // untouched

    // Truncated anywhere: wrong format, never a read past the data.
    for (size_t cut : {size_t{0}, size_t{1}, size_t{9}, size_t{10}, packed.size() / 3, packed.size() - 2,
                       packed.size() - 1}) {
        Bytes t(packed.begin(), packed.begin() + static_cast<long>(cut));
        EXPECT_EQ(decodeModule(t, *current), kModuleWrongFormat) << "cut at " << cut;
    }
    EXPECT_EQ(current->trackNameText(), "current");
}

TEST(ModuleFile, GarbageAndForeignFilesAreWrongFormat) {
    auto s = newSong();
    std::mt19937 rng(99);
    for (int trial = 0; trial < 20; ++trial) {
        Bytes garbage(1 + rng() % 3000);
        for (auto& b : garbage) b = static_cast<uint8_t>(rng());
        EXPECT_EQ(decodeModule(garbage, *s), kModuleWrongFormat);
    }
    // A run count claiming four billion bytes ends at the sequence's length;
    // the data behind it is then far too long.
    Bytes huge = {0x33, 0x01, 0x01, 0x00, 0x00, 0x80, 0x7F, 0x7F, 0x7F, 0x7F, 0x8F, 0x01, 0x02};
    EXPECT_EQ(decodeModule(huge, *s), kModuleWrongFormat);
    // A count needing six groups or more than 32 bits.
    EXPECT_EQ(decodeModule(Bytes{0x33, 0x00, 0x80, 0x01, 0x01, 0x01, 0x01, 0x01, 0x81}, *s), kModuleWrongFormat);
    EXPECT_EQ(decodeModule(Bytes{0x33, 0x00, 0x80, 0x7F, 0x7F, 0x7F, 0x7F, 0xFF}, *s), kModuleWrongFormat);
    EXPECT_EQ(decodeModule(nullptr, 0, *s), kModuleWrongFormat);
    // Over the largest size any reader position could reach: refused unread.
    Bytes oversized(kModuleMaxFileSize + 1, 0);
    EXPECT_EQ(decodeModule(oversized, *s), kModuleWrongFormat);
}

TEST(ModuleFile, ImplausibleDatesAreWrongFormat) {
    auto base = newSong();
    auto current = newSong();
    current->setAuthor("keep");
    struct Case {
        uint16_t created, saved;
        int result;
    };
    const Case cases[] = {
        {static_cast<uint16_t>(1 << 11 | 100), 0, kModuleWrongFormat},  // year 100
        {static_cast<uint16_t>(1 << 11 | 127), 0, kModuleWrongFormat},
        {static_cast<uint16_t>(1 << 11 | 12 << 7), 0, kModuleWrongFormat},  // month 13
        {packDate(1, 1, 2000), static_cast<uint16_t>(15 << 7), kModuleWrongFormat},  // saved month 16
        {packDate(31, 12, 2099), packDate(1, 1, 2000), kModuleLoaded},
        {0, 0, kModuleLoaded},
    };
    for (const auto& c : cases) {
        Bytes q = moduleSequence(*base);
        q[4] = static_cast<uint8_t>(c.created & 0xFF);
        q[5] = static_cast<uint8_t>(c.created >> 8);
        q[6] = static_cast<uint8_t>(c.saved & 0xFF);
        q[7] = static_cast<uint8_t>(c.saved >> 8);
        auto target = newSong();
        target->setAuthor("keep");
        EXPECT_EQ(decodeModule(packBytes(q.data(), q.size()), *target), c.result) << c.created << " " << c.saved;
        if (c.result != kModuleLoaded) EXPECT_EQ(target->authorText(), "keep");
        else EXPECT_EQ(target->created, c.created);
    }
}

TEST(ModuleFile, OutOfRangeFieldsAreBroughtIntoTheSongsRanges) {
    Bytes q = moduleSequence(*newSong());
    std::fill_n(q.begin() + kAuthorAt, 64, 'a');     // no terminator
    std::fill_n(q.begin() + kMessageAt, 384, 'm');   // no terminator
    q[kNamesAt] = 'x';
    q[kNamesAt + 1] = 0;
    q[kNamesAt + 2] = 'j';  // after the terminator
    q[0] = 0x00;            // speeds 0 and 0
    q[1] = 0;               // interleave 0
    q[2] = 2;               // order length 2
    q[3] = 5;               // loop past the end
    uint8_t* ins = &q[kParamsAt];
    ins[0] = 0xFF;
    ins[1] = 0x0F;
    ins[2] = 0xFF;          // MULT
    ins[3] = 0x7F;          // DT +127
    ins[4] = 0x7F ^ 0xFF;   // TL 255
    ins[11] = 3;            // SSG-EG 3
    q[cellAt(0, 0, 0, 0)] = 5 ^ 0xFF;          // F with octave 0
    q[cellAt(0, 0, 0, 1)] = (2 + 120) ^ 0xFF;  // D of octave 10
    q[cellAt(0, 0, 0, 2)] = 200 ^ 0xFF;        // no such note value
    q[cellAt(0, 0, 1, 0)] = 200;               // volume
    q[cellAt(0, 0, 3, 0)] = 0x3F;              // effect

    auto s = std::make_unique<Song>();
    ASSERT_EQ(decodeModule(packBytes(q.data(), q.size()), *s), kModuleLoaded);
    EXPECT_EQ(s->authorText(), std::string(63, 'a'));
    EXPECT_EQ(s->messageText(), std::string(383, 'm'));
    EXPECT_EQ(s->instrument(1).nameText(), "x");
    EXPECT_EQ(s->instrument(1).name[2], 0);
    EXPECT_EQ(s->speedEven, 1);
    EXPECT_EQ(s->speedOdd, 1);
    EXPECT_EQ(s->interleave, 1);
    EXPECT_EQ(s->order.loopPosition, 1);
    const Instrument& i1 = s->instrument(1);
    EXPECT_EQ(i1.algorithm, 7);
    EXPECT_EQ(i1.FB, 7);
    EXPECT_EQ(i1.operators[0].MULT, 15);
    EXPECT_EQ(i1.operators[0].DT, 3);
    EXPECT_EQ(i1.operators[0].TL, 127);
    EXPECT_EQ(i1.operators[0].SSGEG, 0);
    const auto& rows = s->patterns[0].rows;
    EXPECT_EQ(rows[0][0].pitch(), 5);
    EXPECT_EQ(rows[1][0].pitch(), 2 + 84);
    EXPECT_EQ(rows[2][0].note, kNoteEmpty);
    EXPECT_EQ(rows[0][0].volume, 200 & 31);
    EXPECT_EQ(rows[0][0].effect, 15);
}

TEST(ModuleFile, SavingCountsAndNeverDestroysTheOldFile) {
    TempDir dir;
    const fs::path file = dir.path / "song.qze";
    auto s = randomSong(3);
    s->saveCount = 10;
    s->saved = 0;
    ASSERT_TRUE(saveModule(*s, file));
    EXPECT_EQ(s->saveCount, 11);
    EXPECT_EQ(s->saved, todayPacked());
    const Bytes first = readFile(file);
    EXPECT_EQ(first, packModule(*s));

    auto loaded = newSong();
    ASSERT_EQ(loadModule(*loaded, file), kModuleLoaded);
    expectSameStoredFields(*s, *loaded);

    // The count stops at 65535.
    s->saveCount = 65535;
    ASSERT_TRUE(saveModule(*s, file));
    EXPECT_EQ(s->saveCount, 65535);
    ASSERT_EQ(loadModule(*loaded, file), kModuleLoaded);
    EXPECT_EQ(loaded->saveCount, 65535);
    const Bytes second = readFile(file);

    // Only the module is left in the folder: no temporary files.
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path)) ++files;
    EXPECT_EQ(files, 1);

    // A folder that does not exist, and a target that is a folder.
    s->saveCount = 100;
    s->saved = 77;
    EXPECT_FALSE(saveModule(*s, dir.path / "missing" / "song.qze"));
    EXPECT_FALSE(fs::exists(dir.path / "missing"));
    fs::create_directory(dir.path / "folder.qze");
    EXPECT_FALSE(saveModule(*s, dir.path / "folder.qze"));
    EXPECT_EQ(s->saveCount, 100);
    EXPECT_EQ(s->saved, 77);

    // A file marked read-only is not replaced.
    fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_FALSE(saveModule(*s, file));
    EXPECT_EQ(readFile(file), second);
    EXPECT_EQ(s->saveCount, 100);
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);

    // A read-only folder keeps the old file (only meaningful when the
    // permissions are enforced for this user).
    fs::permissions(dir.path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const bool enforced = !std::ofstream(dir.path / "probe");
    if (enforced) {
        EXPECT_FALSE(saveModule(*s, file));
        EXPECT_EQ(readFile(file), second);
        EXPECT_EQ(s->saveCount, 100);
        EXPECT_EQ(s->saved, 77);
    }
    fs::permissions(dir.path, fs::perms::owner_all, fs::perm_options::add);
    if (!enforced) RecordProperty("read_only_folder", "not enforced for this user; part skipped");
}

TEST(ModuleFile, FailedLoadsLeaveTheCurrentSongUntouched) {
    TempDir dir;
    auto current = randomSong(11);
    const Bytes before = moduleSequence(*current);

    EXPECT_EQ(loadModule(*current, dir.path / "nothing.qze"), kModuleNotFound);
    EXPECT_EQ(loadModule(*current, dir.path), kModuleIsFolder);
    EXPECT_STREQ(moduleLoadProblemText(kModuleIsFolder), "is a folder");
    writeFile(dir.path / "bad.qze", {0x01, 0x02, 0x03});
    EXPECT_EQ(loadModule(*current, dir.path / "bad.qze"), kModuleWrongFormat);
    writeFile(dir.path / "empty.qze", {});
    EXPECT_EQ(loadModule(*current, dir.path / "empty.qze"), kModuleWrongFormat);
    Bytes twoLonger = packModule(*newSong());
    twoLonger.insert(twoLonger.end(), {0, 0});
    writeFile(dir.path / "long.qze", twoLonger);
    EXPECT_EQ(loadModule(*current, dir.path / "long.qze"), kModuleWrongFormat);
    EXPECT_EQ(moduleSequence(*current), before);

    // A good load replaces everything, the cached order timing included.
    current->order.entries[0].framesBefore = 1234;
    auto fresh = newSong();
    fresh->created = packDate(1, 2, 2003);
    writeFile(dir.path / "fresh.qze", packModule(*fresh));
    EXPECT_EQ(loadModule(*current, dir.path / "fresh.qze"), kModuleLoaded);
    EXPECT_EQ(moduleSequence(*current), moduleSequence(*fresh));
    EXPECT_EQ(current->order.entries[0].framesBefore, 0);
}

TEST(ModuleFile, ASaveRemovesTemporaryFilesLeftByAnInterruptedOne) {
    TempDir dir;
    const fs::path file = dir.path / "song.qze";
    for (const char* name : {"song.qze.tmp0", "song.qze.tmp17", "song.qze.tmpx", "song.qze.tmp", "other.qze.tmp0"})
        writeFile(dir.path / name, {1, 2, 3});
    auto s = newSong();
    ASSERT_TRUE(saveModule(*s, file));
    EXPECT_FALSE(fs::exists(dir.path / "song.qze.tmp0"));
    EXPECT_FALSE(fs::exists(dir.path / "song.qze.tmp17"));
    // Files that are no temporary of this target stay.
    EXPECT_TRUE(fs::exists(dir.path / "song.qze.tmpx"));
    EXPECT_TRUE(fs::exists(dir.path / "song.qze.tmp"));
    EXPECT_TRUE(fs::exists(dir.path / "other.qze.tmp0"));
    EXPECT_EQ(readFile(file), packModule(*s));
}

TEST(ModuleFile, FileTitleIsTheNameBetweenFolderAndExtension) {
    EXPECT_EQ(fileTitle("C:\\music\\tune.qze"), "tune");
    EXPECT_EQ(fileTitle("/home/me/my.song.qze"), "my.song");
    EXPECT_EQ(fileTitle("dir.d/noext"), "noext");
    EXPECT_EQ(fileTitle("plain"), "plain");
    EXPECT_EQ(fileTitle("a/.hidden"), "");
}
