#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "song/instrument_file.h"
#include "song/text_codec.h"

using namespace qv;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        std::random_device rd;
        path = fs::temp_directory_path() / ("qv_instrument_test_" + std::to_string(rd()));
        fs::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

void writeFile(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::unique_ptr<Song> newSong() {
    auto s = std::make_unique<Song>();
    s->clear();
    return s;
}

Instrument sampleInstrument() {
    Instrument ins;
    ins.algorithm = 4;
    ins.FB = 6;
    for (int k = 0; k < 4; ++k) {
        Operator& o = ins.operators[k];
        o = Operator{k + 1, k - 2, 30 * k + 1, k, 31 - k, 20 + k, 10 + k, 15 - k, 7 + k, k == 2 ? 0 : 8 + k};
    }
    return ins;
}

Bytes datFile(std::vector<std::pair<int, int>> pairs) {
    Bytes b;
    for (auto [r, v] : pairs) {
        b.push_back(static_cast<uint8_t>(r));
        b.push_back(static_cast<uint8_t>(v));
    }
    while (b.size() < 52) b.push_back(0);  // register 0 pairs are ignored
    return b;
}

}  // namespace

TEST(InstrumentFile, KindComesFromTheLastThreeCharacters) {
    EXPECT_EQ(instrumentKindOf("SONG.QZI"), InstrumentKind::qzi);
    EXPECT_EQ(instrumentKindOf("c:\\x\\Bass.Dat"), InstrumentKind::dat);
    EXPECT_EQ(instrumentKindOf("/a/b.y12"), InstrumentKind::y12);
    EXPECT_EQ(instrumentKindOf("lead.INS"), InstrumentKind::ins);
    EXPECT_FALSE(instrumentKindOf("song.qzi2").has_value());
    EXPECT_FALSE(instrumentKindOf("song.qze").has_value());
    EXPECT_FALSE(instrumentKindOf("zi").has_value());
    EXPECT_FALSE(instrumentKindOf("").has_value());
    EXPECT_EQ(detuneFromChip(0), 0);
    EXPECT_EQ(detuneFromChip(3), 3);
    EXPECT_EQ(detuneFromChip(4), 0);
    EXPECT_EQ(detuneFromChip(5), -1);
    EXPECT_EQ(detuneFromChip(7), -3);
    EXPECT_EQ(detuneFromChip(8), 0);
    EXPECT_EQ(detuneFromChip(15), 0);
}

TEST(InstrumentFile, OwnFormatLayoutMasksAndRoundTrip) {
    const Instrument ins = sampleInstrument();
    Bytes b = encodeQzi(ins);
    ASSERT_EQ(b.size(), kQziSize);
    EXPECT_EQ(b[0], 4);
    EXPECT_EQ(b[1], 6);
    EXPECT_EQ(b[2 + 10 * 2 + 1], 3);  // detune 0 is stored as 3
    EXPECT_EQ(b[2 + 1], 1);            // detune -2 as 1
    EXPECT_EQ(b[2 + 10 * 3 + 2], 91);  // TL of operator 4, not inverted
    auto back = decodeInstrument(InstrumentKind::qzi, b);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, ins);
    EXPECT_EQ(back->nameText(), "empty");

    Bytes zeros(kQziSize, 0);
    auto z = decodeInstrument(InstrumentKind::qzi, zeros);
    ASSERT_TRUE(z.has_value());
    EXPECT_EQ(z->operators[0].DT, -3);  // a detune byte of 0 is -3
    EXPECT_EQ(z->operators[0].TL, 0);

    Bytes ones(kQziSize, 0xFF);
    auto m = decodeInstrument(InstrumentKind::qzi, ones);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->algorithm, 7);
    EXPECT_EQ(m->FB, 7);
    EXPECT_EQ(m->operators[3], (Operator{15, 3, 127, 3, 31, 31, 31, 15, 15, 15}));
    ones[2 + 9] = 5;  // an SSG-EG value below 8 is off
    EXPECT_EQ(decodeInstrument(InstrumentKind::qzi, ones)->operators[0].SSGEG, 0);

    EXPECT_FALSE(decodeInstrument(InstrumentKind::qzi, Bytes(41, 0)).has_value());
    EXPECT_FALSE(decodeInstrument(InstrumentKind::qzi, Bytes(43, 0)).has_value());
    EXPECT_FALSE(decodeInstrument(InstrumentKind::qzi, nullptr, 0).has_value());
}

TEST(InstrumentFile, RegisterListTakesChannelOneRegisters) {
    Bytes b = datFile({{0x34, 0x71},  // operator 2: MULT 1, detune code 7
                       {0x30, 0x25},  // operator 1: MULT 5, detune 2
                       {0x4C, 0xFF},  // operator 4: TL 127
                       {0x48, 0x15},  // operator 3: TL 21
                       {0x50, 0xDF},  // operator 1: RS 3, AR 31
                       {0x64, 0x2A},  // operator 2: DR 10
                       {0x78, 0xE7},  // operator 3: SR 7
                       {0x8C, 0xA3},  // operator 4: SL 10, RR 3
                       {0xB0, 0x3D},  // algorithm 5, feedback 7
                       {0x31, 0x0F},  // channel 2: ignored
                       {0x44, 0x7F}, {0x40, 0x00}, {0x90, 0x0F}});
    auto ins = decodeInstrument(InstrumentKind::dat, b);
    ASSERT_TRUE(ins.has_value());
    EXPECT_EQ(ins->operators[1].MULT, 1);
    EXPECT_EQ(ins->operators[1].DT, -3);
    EXPECT_EQ(ins->operators[0].MULT, 5);
    EXPECT_EQ(ins->operators[0].DT, 2);
    EXPECT_EQ(ins->operators[3].TL, 127);
    EXPECT_EQ(ins->operators[2].TL, 21);
    EXPECT_EQ(ins->operators[1].TL, 127);
    EXPECT_EQ(ins->operators[0].TL, 0);
    EXPECT_EQ(ins->operators[0].RS, 3);
    EXPECT_EQ(ins->operators[0].AR, 31);
    EXPECT_EQ(ins->operators[1].DR, 10);
    EXPECT_EQ(ins->operators[2].SR, 7);
    EXPECT_EQ(ins->operators[3].SL, 10);
    EXPECT_EQ(ins->operators[3].RR, 3);
    EXPECT_EQ(ins->algorithm, 5);
    EXPECT_EQ(ins->FB, 7);
    EXPECT_EQ(ins->operators[2].MULT, 0);  // register 0x31 belongs to another channel
    for (const auto& op : ins->operators) EXPECT_EQ(op.SSGEG, 0);  // register 0x90 not taken

    // 0xB4 is not the algorithm register.
    auto other = decodeInstrument(InstrumentKind::dat, datFile({{0xB4, 0x3D}}));
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(other->algorithm, 0);

    EXPECT_FALSE(decodeInstrument(InstrumentKind::dat, Bytes(51, 0)).has_value());
    EXPECT_FALSE(decodeInstrument(InstrumentKind::dat, Bytes(53, 0)).has_value());
}

TEST(InstrumentFile, ChannelDumpUsesSixBytesPerOperatorBlock) {
    Bytes b(kY12Size, 0xEE);  // unused bytes must not matter
    const uint8_t blocks[4][6] = {{0x51, 0x90, 0x9F, 0xE5, 0x23, 0x4C},
                                  {0x7F, 0x00, 0x01, 0x1F, 0x1F, 0xFF},
                                  {0x86, 0x7F, 0xC0, 0x00, 0x00, 0x00},
                                  {0x30, 0x22, 0x5E, 0x0A, 0x0B, 0x12}};
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < 6; ++i) b[16 * k + i] = blocks[k][i];
    b[64] = 0xFB;
    b[65] = 0x0E;
    auto ins = decodeInstrument(InstrumentKind::y12, b);
    ASSERT_TRUE(ins.has_value());
    EXPECT_EQ(ins->operators[0].MULT, 1);
    EXPECT_EQ(ins->operators[0].DT, -1);
    EXPECT_EQ(ins->operators[0].TL, 16);
    EXPECT_EQ(ins->operators[0].RS, 2);
    EXPECT_EQ(ins->operators[0].AR, 31);
    EXPECT_EQ(ins->operators[0].DR, 5);
    EXPECT_EQ(ins->operators[0].SR, 3);
    EXPECT_EQ(ins->operators[0].RR, 12);
    EXPECT_EQ(ins->operators[0].SL, 4);
    EXPECT_EQ(ins->operators[1], (Operator{15, -3, 0, 0, 1, 31, 31, 15, 15, 0}));
    EXPECT_EQ(ins->operators[2], (Operator{6, 0, 127, 3, 0, 0, 0, 0, 0, 0}));  // high nibble 8: detune 0
    EXPECT_EQ(ins->operators[3], (Operator{0, 3, 34, 1, 30, 10, 11, 2, 1, 0}));
    EXPECT_EQ(ins->algorithm, 3);
    EXPECT_EQ(ins->FB, 6);
    EXPECT_FALSE(decodeInstrument(InstrumentKind::y12, Bytes(127, 0)).has_value());
    EXPECT_FALSE(decodeInstrument(InstrumentKind::y12, Bytes(129, 0)).has_value());
}

TEST(InstrumentFile, TrackerInstrumentNeedsMagicNameAndData) {
    auto make = [](const std::string& name, size_t dataBytes) {
        const std::string head = "MVSI1" + name + '\0';
        Bytes b(head.begin(), head.end());
        for (size_t i = 0; i < dataBytes; ++i) b.push_back(static_cast<uint8_t>(i));
        return b;
    };
    Bytes b = make("Lead", 25);
    uint8_t* d = &b[10];
    // Groups in register order, operators in byte order 0, 2, 1, 3.
    const uint8_t dm[4] = {0x71, 0x13, 0x22, 0x04};  // op1 0x71, op3 0x13, op2 0x22, op4 0x04
    for (int i = 0; i < 4; ++i) {
        d[i] = dm[i];
        d[4 + i] = static_cast<uint8_t>(0x80 | (10 * i));  // TL: high bit masked
        d[8 + i] = static_cast<uint8_t>(0x40 * i | (i + 1));
        d[12 + i] = static_cast<uint8_t>(0xE0 | (2 * i));
        d[16 + i] = static_cast<uint8_t>(3 * i);
        d[20 + i] = static_cast<uint8_t>(0x10 * (i + 1) | (15 - i));
    }
    d[24] = 0xEA;  // FB 5, algorithm 2
    auto ins = decodeInstrument(InstrumentKind::ins, b);
    ASSERT_TRUE(ins.has_value());
    const int byteOf[4] = {0, 2, 1, 3};
    for (int k = 0; k < 4; ++k) {
        const int j = byteOf[k];
        const Operator& op = ins->operators[k];
        EXPECT_EQ(op.MULT, dm[j] & 15) << k;
        EXPECT_EQ(op.DT, detuneFromChip((dm[j] >> 4) & 7)) << k;
        EXPECT_EQ(op.TL, 10 * j) << k;
        EXPECT_EQ(op.RS, j) << k;
        EXPECT_EQ(op.AR, j + 1) << k;
        EXPECT_EQ(op.DR, 2 * j) << k;
        EXPECT_EQ(op.SR, 3 * j) << k;
        EXPECT_EQ(op.SL, j + 1) << k;
        EXPECT_EQ(op.RR, 15 - j) << k;
        EXPECT_EQ(op.SSGEG, 0);
    }
    EXPECT_EQ(ins->operators[0].DT, -3);
    EXPECT_EQ(ins->operators[1].MULT, 2);  // operator 2 takes byte 2 of the group
    EXPECT_EQ(ins->algorithm, 2);
    EXPECT_EQ(ins->FB, 5);

    // Sizes: the data must fit; at most 255 bytes in all.
    EXPECT_FALSE(decodeInstrument(InstrumentKind::ins, make("Lead", 24)).has_value());
    EXPECT_TRUE(decodeInstrument(InstrumentKind::ins, make("Lead", 30)).has_value());
    EXPECT_TRUE(decodeInstrument(InstrumentKind::ins, make(std::string(224, 'n'), 25)).has_value());  // 255
    EXPECT_FALSE(decodeInstrument(InstrumentKind::ins, make(std::string(225, 'n'), 25)).has_value());
    EXPECT_FALSE(decodeInstrument(InstrumentKind::ins, make(std::string(240, 'n'), 0)).has_value());
    Bytes noTerminator = {'M', 'V', 'S', 'I', '1', 'a', 'b'};
    EXPECT_FALSE(decodeInstrument(InstrumentKind::ins, noTerminator).has_value());
    Bytes badMagic = make("x", 25);
    badMagic[3] = 'J';
    EXPECT_FALSE(decodeInstrument(InstrumentKind::ins, badMagic).has_value());
    EXPECT_FALSE(decodeInstrument(InstrumentKind::ins, Bytes{'M', 'V', 'S'}).has_value());
}

TEST(InstrumentFile, LoadAndSaveThroughFiles) {
    TempDir dir;
    auto song = newSong();
    song->instrument(5) = sampleInstrument();
    song->instrument(5).setName("Sample");
    ASSERT_TRUE(saveInstrument(*song, 5, dir.path / "Sample.qzi"));
    EXPECT_EQ(fs::file_size(dir.path / "Sample.qzi"), kQziSize);

    ASSERT_TRUE(loadInstrument(*song, 9, dir.path / "Sample.qzi"));
    Instrument expected = sampleInstrument();
    EXPECT_EQ(song->instrument(9), expected);  // the name is not part of the file

    // Failures leave the slot as it was.
    const Instrument before = song->instrument(5);
    writeFile(dir.path / "short.y12", Bytes(127, 0));
    writeFile(dir.path / "bad.ins", Bytes{'M', 'V', 'S', 'I', '2', 0});
    writeFile(dir.path / "fine.txt", Bytes(42, 0));
    EXPECT_FALSE(loadInstrument(*song, 5, dir.path / "short.y12"));
    EXPECT_FALSE(loadInstrument(*song, 5, dir.path / "bad.ins"));
    EXPECT_FALSE(loadInstrument(*song, 5, dir.path / "fine.txt"));
    EXPECT_FALSE(loadInstrument(*song, 5, dir.path / "missing.qzi"));
    EXPECT_FALSE(loadInstrument(*song, 0, dir.path / "Sample.qzi"));
    EXPECT_FALSE(loadInstrument(*song, 256, dir.path / "Sample.qzi"));
    EXPECT_EQ(song->instrument(5), before);

    // Saving reports failure and keeps an existing file.
    EXPECT_FALSE(saveInstrument(*song, 5, dir.path / "no" / "x.qzi"));
    EXPECT_FALSE(saveInstrument(*song, 5, dir.path));
    song->instrument(5).algorithm = 1;
    ASSERT_TRUE(saveInstrument(*song, 5, dir.path / "Sample.qzi"));
    EXPECT_EQ(fs::file_size(dir.path / "Sample.qzi"), kQziSize);
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path)) ++files;
    EXPECT_EQ(files, 4);  // no temporary file left behind
}

TEST(InstrumentFile, NameFromPath) {
    EXPECT_EQ(instrumentNameFromPath("C:\\sounds\\Brass.qzi"), "Brass");
    EXPECT_EQ(instrumentNameFromPath("/home/me/sounds/a.b.dat"), "a.b");
    EXPECT_EQ(instrumentNameFromPath("dir.x/NoExtension"), "NoExtension");
    EXPECT_EQ(instrumentNameFromPath("/x/ABCDEFGHIJKLMNOPQRS.y12"), "ABCDEFGHIJKLMNOP");
    // File names are UTF-8, instrument names Latin-1.
    EXPECT_EQ(instrumentNameFromPath("/m/B\xC3\xA4sslich.qzi"), "B\xE4sslich");
    EXPECT_EQ(instrumentNameFromPath("/m/\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4"
                                     "\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4.qzi"),
              std::string(16, '\xE4'));
    EXPECT_EQ(instrumentNameFromPath("/m/\xE2\x82\xAC uro.dat"), "? uro");  // beyond Latin-1
    EXPECT_EQ(instrumentNameFromPath("/m/old\xE4.qzi"), "old\xE4");           // already Latin-1
    EXPECT_EQ(utf8FromLatin1("B\xE4ss\xFF"), "B\xC3\xA4ss\xC3\xBF");
    EXPECT_EQ(latin1FromUtf8(utf8FromLatin1("\x01\x7F\x80\xFF")), "\x01\x7F\x80\xFF");
}

TEST(InstrumentFile, ProposedFileNamesAreSafeAndEndInQzi) {
    EXPECT_EQ(instrumentFileNameFor("E.Piano"), "E.Piano.qzi");
    EXPECT_EQ(instrumentFileNameFor("Hat o/c"), "Hat o_c.qzi");
    EXPECT_EQ(instrumentFileNameFor("a\\b:c*d?e\"f<g>h|i\x01"), "a_b_c_d_e_f_g_h_i_.qzi");
    EXPECT_EQ(instrumentFileNameFor("Lead.QZI"), "Lead.QZI");
    EXPECT_EQ(instrumentFileNameFor("xqzi"), "xqzi.qzi");
    EXPECT_EQ(instrumentFileNameFor(" pad. "), "pad.qzi");
    EXPECT_EQ(instrumentFileNameFor(""), "instrument.qzi");
    EXPECT_EQ(instrumentFileNameFor(".."), "instrument.qzi");
    EXPECT_EQ(instrumentFileNameFor("B\xE4ss"), "B\xE4ss.qzi");
}

TEST(InstrumentFile, OpeningSeveralFilesUsesFreeSlotsFromTheCurrentOne) {
    TempDir dir;
    auto song = newSong();
    writeFile(dir.path / "One.qzi", encodeQzi(sampleInstrument()));
    writeFile(dir.path / "Two.qzi", encodeQzi(sampleInstrument()));
    writeFile(dir.path / "Three.qzi", encodeQzi(sampleInstrument()));
    writeFile(dir.path / "Broken.y12", Bytes(127, 0));
    const std::string one = (dir.path / "One.qzi").string(), two = (dir.path / "Two.qzi").string(),
                      three = (dir.path / "Three.qzi").string(), broken = (dir.path / "Broken.y12").string();

    // Current instrument 11, instruments 12-255 all in use.
    for (int i = 12; i <= kInstruments; ++i) song->instrument(i).FB = 1;
    auto r = openInstrumentFiles(*song, 11, {one, two, three});
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].status, InstrumentOpenStatus::loaded);
    EXPECT_EQ(r[0].slot, 11);
    EXPECT_EQ(song->instrument(11).nameText(), "One");
    EXPECT_EQ(r[1].status, InstrumentOpenStatus::noRoom);
    EXPECT_EQ(r[2].status, InstrumentOpenStatus::skipped);

    // A failing file is reported and the next one is tried in the first free slot.
    auto s2 = newSong();
    s2->instrument(4).FB = 2;
    auto r2 = openInstrumentFiles(*s2, 3, {one, broken, two, three});
    ASSERT_EQ(r2.size(), 4u);
    EXPECT_EQ(r2[0].slot, 3);
    EXPECT_EQ(r2[1].status, InstrumentOpenStatus::failed);
    EXPECT_EQ(r2[1].slot, 5);
    EXPECT_EQ(r2[2].status, InstrumentOpenStatus::loaded);
    EXPECT_EQ(r2[2].slot, 5);
    EXPECT_EQ(r2[3].slot, 6);
    EXPECT_EQ(s2->instrument(6).nameText(), "Three");
    EXPECT_EQ(s2->instrument(4).FB, 2);
    EXPECT_TRUE(s2->instrumentIsFree(2));
}

TEST(InstrumentFile, TakingTheInstrumentsOfAnotherSongFillsFreeSlotsOnly) {
    auto song = std::make_unique<Song>();
    auto bank = std::make_unique<Song>();
    song->clear();
    bank->clear();
    // The bank: instruments 2, 5 and 9 are in use; 7 only renamed, which counts too.
    for (int n : {2, 5, 9}) {
        bank->instrument(n).algorithm = n % 8;
        bank->instrument(n).setName("bank" + std::to_string(n));
    }
    bank->instrument(7).setName("named");
    // The song: 3 and 4 are taken, so from slot 3 the free ones are 5, 6, 7, 8.
    song->instrument(3).FB = 1;
    song->instrument(4).FB = 2;
    const Instrument kept = song->instrument(4);
    auto results = takeInstruments(*song, 3, *bank);
    ASSERT_EQ(results.size(), 4u);
    const int expectedSlots[] = {5, 6, 7, 8};
    const char* names[] = {"bank2", "bank5", "named", "bank9"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(results[i].status, InstrumentOpenStatus::loaded);
        EXPECT_EQ(results[i].slot, expectedSlots[i]);
        EXPECT_EQ(results[i].path, names[i]);
        EXPECT_EQ(song->instrument(expectedSlots[i]).nameText(), names[i]);
    }
    EXPECT_EQ(song->instrument(5), bank->instrument(2));
    EXPECT_EQ(song->instrument(4), kept);

    // Only two free slots left at the top: the third instrument finds no room,
    // the fourth is not tried.
    for (int n = 1; n <= kInstruments - 2; ++n) song->instrument(n).FB = 3;
    results = takeInstruments(*song, 1, *bank);
    ASSERT_EQ(results.size(), 4u);
    EXPECT_EQ(results[0].slot, kInstruments - 1);
    EXPECT_EQ(results[1].slot, kInstruments);
    EXPECT_EQ(results[2].status, InstrumentOpenStatus::noRoom);
    EXPECT_EQ(results[3].status, InstrumentOpenStatus::skipped);
}
