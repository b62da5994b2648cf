// One pass of the song as the exports record it: where they stop, where the
// loop point falls, and the recorded writes decoded back from our own VGM and
// QZD files compared with what the Player queued.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "io/export_driver.h"
#include "io/export_readers.h"
#include "io/export_rig.h"
#include "io/register_dump.h"
#include "io/vgm_export.h"
#include "sound/sample_source.h"

using namespace qv;
using qvtest::ExportRig;

namespace {

std::string tempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("qv_driver_" + name)).string();
}

void expectSameFrames(const std::vector<std::vector<RegisterWrite>>& got,
                      const std::vector<std::vector<RegisterWrite>>& want, bool groupedByChip) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        std::vector<RegisterWrite> expect;
        if (groupedByChip) {
            for (int chip = 0; chip < 2; ++chip)
                for (const auto& w : want[i])
                    if (w.chip == chip) expect.push_back(w);
        } else {
            expect = want[i];
        }
        ASSERT_EQ(got[i].size(), expect.size()) << "frame " << i;
        for (size_t k = 0; k < expect.size(); ++k) {
            ASSERT_EQ(got[i][k].chip, expect[k].chip) << "frame " << i << " write " << k;
            ASSERT_EQ(got[i][k].reg, expect[k].reg) << "frame " << i << " write " << k;
            ASSERT_EQ(got[i][k].value, expect[k].value) << "frame " << i << " write " << k;
        }
    }
}

}  // namespace

TEST(RecordFrames, StopsAtTheFirstRowReadAfterTheWrapAndFindsTheLoop) {
    // Rows of 2 frames; the placeholder comes with frame 4 (a row read), the
    // wrap with frame 8, so frames 0-9 are recorded and the loop frame is 6.
    RegisterWriteQueue q;
    int frame = 0;
    auto tick = [&] {
        q.clear();
        TickReport r;
        r.readRow = frame % 2 == 0;
        q.push(0, 0x40, static_cast<uint8_t>(frame));
        if (frame == 4) q.push(0, 255, 0);
        r.wrapped = frame == 8;
        ++frame;
        return r;
    };
    FrameLog log;
    recordFrames(tick, q, false, 1000, log);
    ASSERT_EQ(log.frameCount(), 10u);
    EXPECT_EQ(log.loopFrame, 6);
    EXPECT_EQ(frame, 11);  // the 11th tick read a row after the wrap: not recorded
    for (size_t i = 0; i < log.frameCount(); ++i) {
        ASSERT_EQ(log.frame(i).size(), 1u);  // the placeholder is not recorded
        EXPECT_EQ(log.frame(i)[0].value, i);
    }
    // Loop at the start; a Player that stops playing ends the recording; the
    // frame limit bounds a song that never wraps.
    frame = 0;
    recordFrames(tick, q, true, 1000, log);
    EXPECT_EQ(log.loopFrame, 0);
    frame = 0;
    recordFrames([&] { auto r = tick(); r.wrapped = false; r.playing = frame < 3; return r; }, q, false, 1000, log);
    EXPECT_EQ(log.frameCount(), 3u);
    EXPECT_EQ(log.loopFrame, -1);
    frame = 0;
    recordFrames([&] { auto r = tick(); r.wrapped = false; return r; }, q, false, 50, log);
    EXPECT_EQ(log.frameCount(), 50u);
}

TEST(ExportDriver, TenFrameSongLoopingAtTheStart) {
    // Rows of 3 and 2 frames alternately: 4 rows make 10 frames.
    ExportRig rig;
    rig.sineInstrument(1);
    rig.layout({4}, 0, 3, 2);
    rig.note(0, 0, 0, 0, 4);
    rig.note(0, 2, 3, 4, 4);
    ASSERT_EQ(rig.songFrames(), 10);
    std::string path = tempPath("ten.vgm");
    ASSERT_TRUE(exportVgm(*rig.player, *rig.chips, *rig.song, path));
    auto bytes = qvtest::readFile(path);
    EXPECT_EQ(qvtest::le32(bytes, 0x18), 10u * 882);
    EXPECT_EQ(qvtest::le32(bytes, 0x20), 10u * 882);
    EXPECT_EQ(qvtest::le32(bytes, 0x1C), 0x24u);
    auto d = qvtest::decodeVgm(bytes);
    ASSERT_TRUE(d.ok) << d.error;
    expectSameFrames(d.frames, rig.referenceFrames(10, kMegaDriveClock), false);

    // The dump has the loop mark right after the texts and ends after 10 frames.
    path = tempPath("ten.qzd");
    ASSERT_TRUE(exportRegisterDump(*rig.player, *rig.chips, *rig.song, path, kChipClock));
    bytes = qvtest::readFile(path);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8),
              (std::vector<uint8_t>{'Q', 'Z', 'M', 'D', 0, 0, 0, 0xFA}));
    auto q = qvtest::decodeQzd(bytes);
    ASSERT_TRUE(q.ok) << q.error;
    EXPECT_EQ(q.loopFrame, 0);
    expectSameFrames(q.frames, rig.referenceFrames(10, kChipClock), true);
    std::filesystem::remove(path);
    std::filesystem::remove(tempPath("ten.vgm"));
}

TEST(ExportDriver, LoopPointIsTheFirstFrameOfTheLoopPosition) {
    // Four entries of 2 rows at speed 2: the loop position 2 starts at frame 8.
    ExportRig rig;
    rig.sineInstrument(1);
    rig.layout({2, 2, 2, 2}, 2, 2);
    for (int p = 0; p < 4; ++p) rig.note(p, 0, p, p, 3);
    ASSERT_EQ(rig.songFrames(), 16);
    std::string path = tempPath("loop2.qzd");
    ASSERT_TRUE(exportRegisterDump(*rig.player, *rig.chips, *rig.song, path, kChipClock));
    auto bytes = qvtest::readFile(path);
    auto q = qvtest::decodeQzd(bytes);
    ASSERT_TRUE(q.ok) << q.error;
    EXPECT_EQ(q.frames.size(), 16u);
    EXPECT_EQ(q.loopFrame, 8);
    // Frame 8 has writes (the note of pattern 2); the mark stands between its
    // start code and its first pair.
    auto mark = std::find(bytes.begin() + 7, bytes.end(), 0xFA);
    ASSERT_NE(mark, bytes.end());
    EXPECT_TRUE(mark[-1] == 0xFF || mark[-2] == 0xFE);
    expectSameFrames(q.frames, rig.referenceFrames(16, kChipClock), true);

    path = tempPath("loop2.vgm");
    ASSERT_TRUE(exportVgm(*rig.player, *rig.chips, *rig.song, path));
    auto d = qvtest::decodeVgm(qvtest::readFile(path));
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.loopFrame, 8);
    EXPECT_EQ(d.totalSamples, 16u * 882);
    EXPECT_EQ(d.loopSamples, 8u * 882);
    expectSameFrames(d.frames, rig.referenceFrames(16, kMegaDriveClock), false);
    std::filesystem::remove(path);
    std::filesystem::remove(tempPath("loop2.qzd"));
}

TEST(ExportDriver, BusySongRoundTripsAndUsesTheTargetClock) {
    ExportRig rig;
    rig.sineInstrument(1);
    rig.sineInstrument(2);
    rig.song->instrument(2).algorithm = 4;
    rig.layout({16, 8, 12}, 1, 2, 3);
    for (int p = 0; p < 3; ++p)
        for (int r = 0; r < rig.song->patterns[p].length; ++r) {
            int c = (r + p) % 6;
            rig.note(p, r, c, (r * 5 + p) % 12, 2 + r % 5, 1 + r % 2, r % 3 == 0 ? 20 : 0);
            Cell& fx = rig.cell(p, r, (c + 3) % 6);
            fx.effect = static_cast<int8_t>(r % 5);  // arpeggio, slides, tone portamento, vibrato
            fx.param = static_cast<uint8_t>(0x21 + r);
        }
    rig.cell(2, 11, 5).note = kNoteKeyOff;
    const int frames = rig.songFrames();
    ASSERT_GT(frames, 50);

    std::string vgmPath = tempPath("busy.vgm"), qzdPath = tempPath("busy.qzd"), smdPath = tempPath("busy_smd.qzd");
    ASSERT_TRUE(exportVgm(*rig.player, *rig.chips, *rig.song, vgmPath));
    ASSERT_TRUE(exportRegisterDump(*rig.player, *rig.chips, *rig.song, qzdPath, kChipClock));
    ASSERT_TRUE(exportRegisterDump(*rig.player, *rig.chips, *rig.song, smdPath, kMegaDriveClock));
    // Afterwards the live tables are back and the Player is stopped.
    EXPECT_EQ(rig.player->noteTables().clock(), kChipClock);
    EXPECT_FALSE(rig.player->isPlaying());
    EXPECT_FALSE(rig.player->exportDriving.load());

    auto live = rig.referenceFrames(frames, kChipClock);
    auto md = rig.referenceFrames(frames, kMegaDriveClock);
    auto v = qvtest::decodeVgm(qvtest::readFile(vgmPath));
    ASSERT_TRUE(v.ok) << v.error;
    expectSameFrames(v.frames, md, false);
    auto q = qvtest::decodeQzd(qvtest::readFile(qzdPath));
    ASSERT_TRUE(q.ok) << q.error;
    expectSameFrames(q.frames, live, true);
    auto s = qvtest::decodeQzd(qvtest::readFile(smdPath));
    ASSERT_TRUE(s.ok) << s.error;
    expectSameFrames(s.frames, md, true);
    EXPECT_EQ(q.loopFrame, 40);  // 16 rows of 2 and 3 frames alternately
    EXPECT_EQ(v.loopFrame, 40);
    // The two clocks give different F-numbers for the same notes.
    int differing = 0;
    for (int i = 0; i < frames; ++i)
        for (size_t k = 0; k < live[i].size(); ++k)
            if (live[i][k].reg >= 0xA0 && live[i][k].reg < 0xA8 && live[i][k].value != md[i][k].value) ++differing;
    EXPECT_GT(differing, 10);

    // The two-YM2203 VGM carries the register dump's frames (the extension's
    // clock), in queue order: read back wait by wait.
    const std::string opnPath = tempPath("busy.2203.vgm");
    ASSERT_TRUE(exportVgm2203(*rig.player, *rig.chips, *rig.song, opnPath));
    const auto b = qvtest::readFile(opnPath);
    ASSERT_GT(b.size(), 0x80u);
    std::vector<std::vector<RegisterWrite>> opn;
    int opnLoop = -1;
    const size_t loopAt = qvtest::le32(b, 0x1C) + 0x1C;
    for (size_t p = qvtest::le32(b, 0x34) + 0x34; p < b.size() && b[p] != 0x66;) {
        if (p == loopAt) opnLoop = static_cast<int>(opn.size());
        const uint8_t c = b[p++];
        if (c == 0x63) {
            opn.emplace_back();
        } else if (c == 0x61) {
            opn.resize(opn.size() + (b[p] | b[p + 1] << 8) / 882);
            p += 2;
        } else {
            ASSERT_TRUE(c == 0x55 || c == 0xA5) << int(c);
            ASSERT_FALSE(opn.empty());
            opn.back().push_back(RegisterWrite{static_cast<uint8_t>(c == 0xA5), b[p], b[p + 1]});
            p += 2;
        }
    }
    expectSameFrames(opn, live, false);
    EXPECT_EQ(opnLoop, 40);
    for (auto& p : {vgmPath, qzdPath, smdPath, opnPath}) std::filesystem::remove(p);
}

TEST(ExportDriver, PatternLoopsAreRecordedAsPlayed) {
    // E60 on row 0 and E62 on row 3 at speed 1: rows 0-3 play three times.
    ExportRig rig;
    rig.sineInstrument(1);
    rig.layout({4}, 0, 1);
    rig.note(0, 0, 0, 0, 4);
    rig.cell(0, 0, 1).effect = 14;
    rig.cell(0, 0, 1).param = 0x60;
    rig.cell(0, 3, 1).effect = 14;
    rig.cell(0, 3, 1).param = 0x62;
    EXPECT_EQ(rig.songFrames(), 4);
    std::string path = tempPath("e6.qzd");
    ASSERT_TRUE(exportRegisterDump(*rig.player, *rig.chips, *rig.song, path, kChipClock));
    auto q = qvtest::decodeQzd(qvtest::readFile(path));
    ASSERT_TRUE(q.ok) << q.error;
    EXPECT_EQ(q.frames.size(), 12u);
    expectSameFrames(q.frames, rig.referenceFrames(12, kChipClock), true);
    std::filesystem::remove(path);
}

TEST(ExportDriver, UnwritableTargetsFail) {
    ExportRig rig;
    rig.layout({4}, 0, 3);
    EXPECT_FALSE(exportVgm(*rig.player, *rig.chips, *rig.song, "/nonexistent-dir/x.vgm"));
    EXPECT_FALSE(exportRegisterDump(*rig.player, *rig.chips, *rig.song, "/nonexistent-dir/x.qzd", kChipClock));
    EXPECT_EQ(rig.player->noteTables().clock(), kChipClock);
    EXPECT_FALSE(rig.player->isPlaying());
}

TEST(ExportDriver, AudioThreadKeepsRunningButLeavesThePlayerAlone) {
    // A stream that stays open during the export: the export must equal the
    // reference although another thread renders all the while.
    ExportRig rig;
    rig.sineInstrument(1);
    rig.layout({32, 32}, 1, 2);
    for (int r = 0; r < 32; r += 2) rig.note(r % 2, r, r % 6, r % 12, 4);
    const int frames = rig.songFrames();
    auto want = rig.referenceFrames(frames, kMegaDriveClock);

    SampleSource source(*rig.player, *rig.chips);
    std::atomic<bool> quit{false};
    std::atomic<int> calls{0};
    std::thread audio([&] {
        std::vector<int16_t> buf(1024);
        while (!quit.load(std::memory_order_acquire)) {
            source.renderSamples(buf.data(), 1024);
            calls.fetch_add(1, std::memory_order_relaxed);
        }
    });
    while (calls.load() < 3) std::this_thread::yield();
    std::string path = tempPath("threaded.vgm");
    bool ok = true;
    for (int i = 0; i < 5 && ok; ++i) {
        ok = exportVgm(*rig.player, *rig.chips, *rig.song, path);
        auto d = qvtest::decodeVgm(qvtest::readFile(path));
        ASSERT_TRUE(d.ok) << d.error;
        expectSameFrames(d.frames, want, false);
    }
    quit.store(true, std::memory_order_release);
    audio.join();
    EXPECT_TRUE(ok);
    EXPECT_GT(calls.load(), 3);
    EXPECT_FALSE(rig.player->exportDriving.load());
    std::filesystem::remove(path);
}
