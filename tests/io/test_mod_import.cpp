// MOD import: format detection, the period table, cell and effect mapping,
// pattern ends, the song-end walk, refusals, and real MOD files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "io/export_readers.h"
#include "io/mod_import.h"
#include "song/song.h"

using namespace qv;

namespace {

// Builds a MOD in memory.
struct ModBuilder {
    int samples, channels;
    size_t patternData;
    std::vector<uint8_t> bytes;

    ModBuilder(const char* signature, int channels_, int patterns, std::vector<int> order, int restart = 127)
        : samples(signature ? 31 : 15), channels(channels_), patternData(signature ? 1084 : 600) {
        bytes.assign(patternData + static_cast<size_t>(patterns) * 256 * channels, 0);
        size_t at = 20 + 30 * static_cast<size_t>(samples);
        bytes[at] = static_cast<uint8_t>(order.size());
        bytes[at + 1] = static_cast<uint8_t>(restart);
        for (size_t i = 0; i < order.size(); ++i) bytes[at + 2 + i] = static_cast<uint8_t>(order[i]);
        if (signature) std::copy_n(signature, 4, bytes.begin() + 1080);
    }
    void title(const std::string& t) { std::copy(t.begin(), t.end(), bytes.begin()); }
    void sample(int k, const std::string& name, int words, int volume) {
        size_t h = 20 + 30 * static_cast<size_t>(k - 1);
        std::copy(name.begin(), name.end(), bytes.begin() + static_cast<long>(h));
        bytes[h + 22] = static_cast<uint8_t>(words >> 8);
        bytes[h + 23] = static_cast<uint8_t>(words);
        bytes[h + 25] = static_cast<uint8_t>(volume);
    }
    void cell(int pattern, int row, int ch, int period, int sample, int effect, int param) {
        size_t at = patternData + (static_cast<size_t>(pattern) * 64 * channels + static_cast<size_t>(row) * channels + ch) * 4;
        bytes[at] = static_cast<uint8_t>((sample & 0xF0) | (period >> 8));
        bytes[at + 1] = static_cast<uint8_t>(period);
        bytes[at + 2] = static_cast<uint8_t>((sample & 0x0F) << 4 | effect);
        bytes[at + 3] = static_cast<uint8_t>(param);
    }
    std::unique_ptr<Song> import(bool expectOk = true) const {
        auto song = std::make_unique<Song>();
        bool ok = importModData(bytes.data(), bytes.size(), "test.mod", *song);
        EXPECT_EQ(ok, expectOk);
        return song;
    }
};

}  // namespace

TEST(ModFormat, Signatures) {
    auto detect = [](const char* sig, ModFormat& f) {
        std::vector<uint8_t> b(1084 + 1024, 0);
        std::copy_n(sig, 4, b.begin() + 1080);
        return detectModFormat(b.data(), b.size(), f);
    };
    ModFormat f;
    ASSERT_TRUE(detect("M.K.", f));
    EXPECT_EQ(f.samples, 31);
    EXPECT_EQ(f.channels, 4);
    EXPECT_EQ(f.patternData, 1084u);
    ASSERT_TRUE(detect("M!K!", f));
    EXPECT_EQ(f.channels, 4);
    ASSERT_TRUE(detect("6CHN", f));
    EXPECT_EQ(f.channels, 6);
    ASSERT_TRUE(detect("8CHN", f));
    EXPECT_EQ(f.channels, 8);
    ASSERT_TRUE(detect("FLT4", f));
    EXPECT_EQ(f.channels, 4);
    ASSERT_TRUE(detect("FLT8", f));
    EXPECT_EQ(f.channels, 8);
    ASSERT_TRUE(detect("12CH", f));
    EXPECT_EQ(f.channels, 12);
    ASSERT_TRUE(detect("OKTA", f));
    EXPECT_EQ(f.channels, 8);
    EXPECT_FALSE(detect("M.K!", f));
    EXPECT_FALSE(detect("XCHN", f));
    EXPECT_FALSE(detect("0CHN", f));
    EXPECT_FALSE(detect("FLTx", f));
    EXPECT_FALSE(detect("CH12", f));
    EXPECT_FALSE(detect("\x20\0\0\0", f));

    std::vector<uint8_t> old(600 + 1024, 0);
    old[1080] = 31;
    ASSERT_TRUE(detectModFormat(old.data(), old.size(), f));
    EXPECT_EQ(f.samples, 15);
    EXPECT_EQ(f.channels, 4);
    EXPECT_EQ(f.patternData, 600u);
    EXPECT_FALSE(detectModFormat(old.data(), 599, f));
}

TEST(ModFormat, PeriodTable) {
    EXPECT_EQ(mod::kPeriods.size(), 85u);
    for (size_t i = 0; i + 1 < mod::kPeriods.size(); ++i) EXPECT_GT(mod::kPeriods[i], mod::kPeriods[i + 1]);
    EXPECT_EQ(modPeriodIndex(428), 36);   // C-4
    EXPECT_EQ(modPeriodIndex(1712), 12);  // C-2
    EXPECT_EQ(modPeriodIndex(3424), 0);   // C-1
    EXPECT_EQ(modPeriodIndex(3425), -1);
    EXPECT_EQ(modPeriodIndex(4095), -1);
    EXPECT_EQ(modPeriodIndex(0), -1);
    EXPECT_EQ(modPeriodIndex(429), 35);  // between B-3 (453) and C-4
    for (int p = 1; p <= 28; ++p) EXPECT_EQ(modPeriodIndex(p), 83) << p;
    EXPECT_EQ(modPeriodIndex(29), 82);
}

TEST(ModImport, TextsInstrumentsOrderAndChannels) {
    ModBuilder m("M.K.", 4, 2, {1, 0, 1}, 1);
    m.title("A twenty byte title!");
    m.sample(1, "first sample name long", 100, 64);
    m.sample(2, "one word", 1, 40);
    m.sample(3, "snare", 2, 33);
    for (int c = 0; c < 4; ++c) m.cell(0, 0, c, 428, 3, 0, 0);
    auto s = m.import();
    EXPECT_EQ(s->trackNameText(), "A twenty byte title!");
    EXPECT_EQ(s->messageText(), "Imported from file 'test.mod'");
    EXPECT_EQ(s->instrument(1).nameText(), "first sample nam");
    EXPECT_EQ(s->instrument(2).nameText(), "empty");  // length of 1 word: not named
    EXPECT_EQ(s->instrument(3).nameText(), "snare");
    EXPECT_EQ(s->instrument(3).operators[0].TL, 127);  // FM parameters stay default
    EXPECT_EQ(s->order.length, 3);
    EXPECT_EQ(s->order.loopPosition, 1);
    EXPECT_EQ(s->order.entries[0].pattern, 1);
    EXPECT_EQ(s->order.entries[2].pattern, 1);
    EXPECT_EQ(s->patterns[0].length, 64);
    EXPECT_EQ(s->patterns[1].length, 64);
    for (int c = 0; c < 4; ++c) {
        const Cell& cell = s->patterns[0].rows[0][c];
        EXPECT_EQ(cell.note, 0);
        EXPECT_EQ(cell.octave, 4);
        EXPECT_EQ(cell.instrument, 3);
        EXPECT_EQ(cell.volume, 16);
    }
    EXPECT_TRUE(s->patterns[0].rows[0][4].isEmpty());
    EXPECT_TRUE(s->patterns[0].rows[0][5].isEmpty());

    // Restart not below the length gives loop position 0.
    ModBuilder r("M.K.", 4, 1, {0, 0}, 2);
    EXPECT_EQ(r.import()->order.loopPosition, 0);
}

TEST(ModImport, EightChannelsDropTheLastTwo) {
    ModBuilder m("8CHN", 8, 1, {0});
    for (int c = 0; c < 8; ++c) m.cell(0, 5, c, 856, 1 + c, 0, 0);
    auto s = m.import();
    for (int c = 0; c < 6; ++c) EXPECT_EQ(s->patterns[0].rows[5][c].instrument, 1 + c);
    EXPECT_EQ(s->patterns[0].rows[5][0].pitch(), 24);
}

TEST(ModImport, FifteenSampleFile) {
    ModBuilder m(nullptr, 4, 1, {0});
    m.sample(15, "last", 10, 20);
    m.cell(0, 0, 0, 214, 15, 0, 0);
    auto s = m.import();
    EXPECT_EQ(s->instrument(15).nameText(), "last");
    EXPECT_EQ(s->patterns[0].rows[0][0].pitch(), 48);
    EXPECT_EQ(s->patterns[0].rows[0][0].volume, 10);
    // Sample numbers beyond the file's samples have no volume to take.
    ModBuilder n(nullptr, 4, 1, {0});
    n.cell(0, 0, 0, 214, 20, 0, 0);
    auto t = n.import();
    EXPECT_EQ(t->patterns[0].rows[0][0].instrument, 20);
    EXPECT_EQ(t->patterns[0].rows[0][0].volume, 0);
}

TEST(ModImport, EffectMapping) {
    ModBuilder m("M.K.", 4, 1, {0});
    m.sample(3, "s", 10, 64);
    struct Case { int effect, param, wantEffect, wantParam, wantVolume; };
    const Case cases[] = {
        {1, 0x12, 1, 0x12, 31}, {2, 0x34, 2, 0x34, 31}, {3, 0x05, 3, 0x05, 31}, {4, 0x46, 4, 0x46, 31},
        {10, 0x0F, 10, 0x0F, 31}, {12, 0x20, 0, 0, 16}, {12, 0x7F, 0, 0, 31}, {15, 0x06, 15, 0x66, 31},
        {15, 0x7D, 0, 0, 31}, {15, 0x1F, 15, 0xFF, 31}, {15, 0x00, 15, 0x00, 31}, {8, 164, 14, 0x80, 31},
        {8, 48, 14, 0x80, 31}, {8, 79, 14, 0x80, 31}, {8, 47, 14, 0x81, 31}, {8, 80, 14, 0x82, 31},
        {14, 0x63, 14, 0x63, 31}, {14, 0x92, 14, 0x92, 31}, {14, 0xC1, 14, 0xC1, 31}, {14, 0xD4, 14, 0xD4, 31},
        {14, 0x85, 14, 0x81, 31}, {14, 0x86, 14, 0x80, 31}, {14, 0x89, 14, 0x80, 31}, {14, 0x8A, 14, 0x82, 31},
        {14, 0x12, 0, 0, 31}, {5, 0x11, 0, 0, 31}, {6, 0x11, 0, 0, 31}, {7, 0x11, 0, 0, 31}, {9, 0x11, 0, 0, 31},
    };
    int row = 0;
    for (const Case& c : cases) m.cell(0, row++, 0, 0, 3, c.effect, c.param);
    auto s = m.import();
    row = 0;
    for (const Case& c : cases) {
        const Cell& cell = s->patterns[0].rows[row++][0];
        EXPECT_EQ(cell.effect, c.wantEffect) << "effect " << c.effect << " param " << c.param;
        EXPECT_EQ(cell.param, c.wantParam) << "effect " << c.effect << " param " << c.param;
        EXPECT_EQ(cell.volume, c.wantVolume) << "effect " << c.effect << " param " << c.param;
        EXPECT_EQ(cell.note, kNoteEmpty);
    }
    // Set volume without a sample still sets the volume; no sample, no volume.
    ModBuilder v("M.K.", 4, 1, {0});
    v.cell(0, 0, 0, 428, 0, 12, 0x30);
    v.cell(0, 1, 0, 428, 0, 0, 0);
    auto t = v.import();
    EXPECT_EQ(t->patterns[0].rows[0][0].volume, 24);
    EXPECT_EQ(t->patterns[0].rows[1][0].volume, 0);
}

TEST(ModImport, PatternBreaksAndJumpsEndThePattern) {
    ModBuilder m("M.K.", 4, 3, {0, 1, 2});
    m.cell(0, 31, 0, 0, 0, 13, 0);
    m.cell(0, 31, 3, 428, 1, 0, 0);  // the rest of the row is still read
    m.cell(0, 32, 0, 428, 1, 0, 0);  // not read
    m.cell(1, 9, 2, 0, 0, 11, 0x05);  // forward jump: pattern ends, order unchanged
    m.cell(2, 63, 1, 0, 0, 11, 0x01);
    auto s = m.import();
    EXPECT_EQ(s->patterns[0].length, 32);
    EXPECT_EQ(s->patterns[0].rows[31][3].pitch(), 36);
    EXPECT_TRUE(s->patterns[0].rows[32][0].isEmpty());
    EXPECT_EQ(s->patterns[1].length, 10);
    EXPECT_EQ(s->patterns[2].length, 64);
    EXPECT_EQ(s->order.length, 3);
    EXPECT_EQ(s->order.loopPosition, 1);
    EXPECT_EQ(s->patterns[2].rows[63][1].effect, 0);  // the jump itself is not kept

    // A break or jump in a dropped channel still ends the pattern.
    ModBuilder e("8CHN", 8, 1, {0});
    e.cell(0, 7, 7, 0, 0, 13, 0);
    EXPECT_EQ(e.import()->patterns[0].length, 8);
}

TEST(ModImport, SongEndWalk) {
    // The first backward jump ends the order list; a break ends the search in
    // its pattern, so a jump below it is never found.
    ModBuilder m("M.K.", 4, 4, {0, 1, 2, 3, 0});
    m.cell(1, 4, 0, 0, 0, 13, 0);
    m.cell(1, 5, 0, 0, 0, 11, 0);  // below the break: ignored
    m.cell(3, 10, 2, 0, 0, 11, 2);
    auto s = m.import();
    EXPECT_EQ(s->order.length, 4);
    EXPECT_EQ(s->order.loopPosition, 2);
    // A pattern that jumps onto its own position loops there.
    ModBuilder self("M.K.", 4, 2, {0, 1, 0, 0});
    self.cell(1, 0, 0, 0, 0, 11, 1);
    auto t = self.import();
    EXPECT_EQ(t->order.length, 2);
    EXPECT_EQ(t->order.loopPosition, 1);
}

TEST(ModImport, ArpeggioEnd) {
    ModBuilder m("M.K.", 4, 1, {0});
    // Channel 0: arpeggio, then a row without effect: gets 0xFF.
    m.cell(0, 0, 0, 428, 1, 0, 0x37);
    m.cell(0, 1, 0, 0, 0, 0, 0);
    // Channel 1: arpeggio, then a row with another effect: the row above ends it.
    m.cell(0, 0, 1, 428, 1, 0, 0x37);
    m.cell(0, 1, 1, 0, 0, 1, 0x02);
    // Channel 2: arpeggio over two rows stays.
    m.cell(0, 0, 2, 428, 1, 0, 0x47);
    m.cell(0, 1, 2, 0, 0, 0, 0x47);
    // Channel 3: arpeggio in row 63 ... row 0 is not checked against anything.
    m.cell(0, 0, 3, 0, 0, 1, 0x01);
    auto s = m.import();
    const auto& rows = s->patterns[0].rows;
    EXPECT_EQ(rows[0][0].param, 0x37);
    EXPECT_EQ(rows[1][0].effect, 0);
    EXPECT_EQ(rows[1][0].param, 0xFF);
    EXPECT_EQ(rows[0][1].param, 0xFF);
    EXPECT_EQ(rows[1][1].effect, 1);
    EXPECT_EQ(rows[1][1].param, 0x02);
    EXPECT_EQ(rows[0][2].param, 0x47);
    EXPECT_EQ(rows[1][2].param, 0x47);
    EXPECT_EQ(rows[2][2].param, 0xFF);
    EXPECT_EQ(rows[0][3].effect, 1);
    EXPECT_EQ(rows[1][3].param, 0);
}

TEST(ModImport, RefusedFilesLeaveTheSongAlone) {
    auto keep = std::make_unique<Song>();
    keep->clear();
    keep->setTrackName("keep me");
    auto refused = [&keep](const std::vector<uint8_t>& b) {
        EXPECT_FALSE(importModData(b.data(), b.size(), "x.mod", *keep));
        EXPECT_EQ(keep->trackNameText(), "keep me");
    };
    ModBuilder zero("M.K.", 4, 1, {});
    refused(zero.bytes);  // song length 0
    ModBuilder cut("M.K.", 4, 3, {0, 1, 2});
    cut.bytes.resize(cut.bytes.size() - 1);  // pattern data ends early
    refused(cut.bytes);
    ModBuilder bad("XY!Z", 4, 1, {0});
    refused(bad.bytes);
    refused(std::vector<uint8_t>(599, 0));
    refused(std::vector<uint8_t>(700, 0));  // old format, length 0
    EXPECT_FALSE(importMod("/nonexistent/none.mod", *keep));
    EXPECT_EQ(keep->trackNameText(), "keep me");
}

TEST(ModImport, FilesLargerThanAnyModAreRefusedUnread) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("qv mod size " + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::create_directories(dir);
    // A valid MOD grown (sparsely) to the largest size a MOD can have loads;
    // one byte more is refused from its size alone.
    ModBuilder mod("M.K.", 4, 1, {0});
    mod.title("big one");
    const fs::path path = dir / "big.mod";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(mod.bytes.data()), static_cast<std::streamsize>(mod.bytes.size()));
    }
    fs::resize_file(path, kModMaxFileSize);
    auto song = std::make_unique<Song>();
    song->clear();
    ReadResult read = ReadResult::notFound;
    EXPECT_TRUE(importMod(path.string(), *song, &read));
    EXPECT_EQ(read, ReadResult::ok);
    EXPECT_EQ(song->trackNameText(), "big one");

    fs::resize_file(path, kModMaxFileSize + 1);
    song->setTrackName("keep me");
    EXPECT_FALSE(importMod(path.string(), *song, &read));
    EXPECT_EQ(read, ReadResult::tooLarge);
    EXPECT_EQ(song->trackNameText(), "keep me");
    // A folder says so instead of "not found".
    EXPECT_FALSE(importMod(dir.string(), *song, &read));
    EXPECT_EQ(read, ReadResult::isFolder);
    fs::remove_all(dir);
}

// ---- real MOD files from Debian's game packages -----------------------------

namespace {

std::string findMod(const std::string& name) {
    namespace fs = std::filesystem;
    std::vector<fs::path> roots;
    if (const char* env = std::getenv("QV_MOD_DIR")) roots.emplace_back(env);
    roots.emplace_back(std::string(QV_BINARY_DIR) + "/debian-mods");
    roots.emplace_back("/usr/share/games/circuslinux");
    roots.emplace_back("/usr/share/games/bugsquish");
    roots.emplace_back("/usr/share/rockdodger");
    for (const auto& root : roots) {
        std::error_code ec;
        if (!fs::is_directory(root, ec)) continue;
        for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            if (it->path().filename() == name) return it->path().string();
    }
    return {};
}

struct RealMod {
    const char* name;
    int length, loop;
    std::vector<int> order;
    std::vector<std::pair<int, int>> shortPatterns;  // pattern, length
};

}  // namespace

TEST(ModImportReal, DebianGameMusic) {
    const RealMod mods[] = {
        {"adventures.mod", 37, 0,
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 32, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29,
          30, 17, 31, 18, 19, 20, 21, 0}, {}},
        {"corpses.mod", 14, 0, {0, 1, 0, 2, 7, 3, 4, 3, 5, 3, 4, 3, 5, 6}, {{7, 14}}},
        {"finally.mod", 16, 0, {0, 1, 2, 3, 4, 5, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, {{6, 32}}},
        {"hiscore.mod", 6, 0, {0, 1, 2, 3, 4, 5}, {{0, 48}, {1, 48}, {4, 48}, {5, 48}, {2, 64}}},
        {"hiscreen.mod", 1, 0, {0}, {}},
        {"kaupunki.mod", 10, 0, {0, 1, 0, 1, 2, 3, 4, 5, 6, 7}, {}},
        {"klovninarki.mod", 30, 0,
         {0, 1, 2, 3, 4, 13, 14, 5, 6, 7, 8, 9, 10, 11, 12, 15, 16, 17, 18, 19, 20, 21, 22, 23, 13, 14, 1, 2, 15, 16},
         {{0, 32}}},
        {"4est_fulla3s.mod", 4, 0, {0, 1, 2, 3}, {}},
        {"front_1.mod", 10, 2, {5, 4, 0, 1, 2, 3, 6, 4, 7, 8}, {}},
        {"getzznew.mod", 29, 0, {}, {}},
        {"magic.mod", 23, 0, {0, 1, 2, 3, 4, 4, 5, 6}, {{15, 16}, {21, 31}}},
        {"ramcharg.mod", 20, 7, {9, 10, 14, 3, 4, 5, 6, 7, 8, 0, 1, 12, 13, 15, 16, 17, 3, 4, 5, 18}, {}},
    };
    int found = 0;
    for (const RealMod& m : mods) {
        std::string path = findMod(m.name);
        if (path.empty()) continue;
        ++found;
        SCOPED_TRACE(m.name);
        auto song = std::make_unique<Song>();
        ASSERT_TRUE(importMod(path, *song));
        EXPECT_EQ(song->order.length, m.length);
        EXPECT_EQ(song->order.loopPosition, m.loop);
        for (size_t i = 0; i < m.order.size(); ++i) EXPECT_EQ(song->order.entries[i].pattern, m.order[i]) << i;
        for (auto [p, len] : m.shortPatterns) EXPECT_EQ(song->patterns[p].length, len) << "pattern " << p;
        EXPECT_EQ(song->messageText(), std::string("Imported from file '") + m.name + "'");
        int notes = 0;
        for (int i = 0; i < song->order.length; ++i) {
            const Pattern& pat = song->patterns[song->order.entries[i].pattern];
            for (int r = 0; r < pat.length; ++r)
                for (int c = 0; c < kChannels; ++c) {
                    const Cell& cell = pat.rows[r][c];
                    if (cell.hasNote()) {
                        ++notes;
                        EXPECT_GE(cell.octave, 1);
                        EXPECT_LE(cell.octave, 7);
                    }
                    if (c >= 4) {
                        EXPECT_TRUE(cell.isEmpty());
                    }
                }
        }
        EXPECT_GT(notes, 0);
    }
    if (found == 0)
        GTEST_SKIP() << "no Debian MOD files found: extract circuslinux-data, bugsquish and rockdodger "
                        "(apt-get download + dpkg-deb -x) into <build>/debian-mods or set QV_MOD_DIR";
}
