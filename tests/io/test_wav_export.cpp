// Wave rendering: header, length rule, blocks, fade, mutes, cancel and failure.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include "io/export_readers.h"
#include "io/export_rig.h"
#include "io/wav_export.h"
#include "song/module_file.h"
#include "sound/sample_source.h"

using namespace qv;
using qvtest::ExportRig;
using qvtest::le32;

namespace {

std::string tempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("qv_wav_" + name)).string();
}

std::vector<int16_t> samplesOf(const std::vector<uint8_t>& file) {
    std::vector<int16_t> s((file.size() - 44) / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(file[44 + 2 * i] | file[45 + 2 * i] << 8);
    return s;
}

// The song rendered block by block through a fresh sample source, with the
// fade applied here independently.
std::vector<int16_t> reference(ExportRig& rig, bool allChannels, int frames = -1) {
    const int counted = rig.songFrames();  // also refreshes the timing start takes
    const int64_t total = 882LL * ((frames < 0 ? counted : frames) + 150);
    SampleSource source(*rig.player, *rig.chips);
    rig.chips->beginExport(allChannels);
    rig.player->start(0, 0, false, false, false, -1);
    std::vector<int16_t> out;
    std::vector<int16_t> block(8192);
    double g = 1.0;
    const int64_t fadeStart = total - 132300;
    for (int64_t at = 0; at < total; at += 8192) {
        source.renderSamples(block.data(), 8192);
        if (at > fadeStart - 8192) {
            for (int16_t& s : block) {
                s = static_cast<int16_t>(std::trunc(s * g));
                g = std::max(0.0, g - 1.0 / 132300);
            }
        }
        out.insert(out.end(), block.begin(), block.begin() + std::min<int64_t>(8192, total - at));
    }
    rig.player->stop();
    rig.chips->endExport();
    return out;
}

void chordSong(ExportRig& rig, int channel = -1) {
    rig.sineInstrument(1);
    rig.layout({8}, 0, 6);
    for (int r = 0; r < 8; r += 2) {
        if (channel >= 0) {
            rig.note(0, r, channel, r, 4);
        } else {
            for (int c = 0; c < 6; ++c) rig.note(0, r, c, (r + c * 4) % 12, 3 + c % 3);
        }
    }
}

double rmsOver(const std::vector<int16_t>& s, int64_t from, int64_t to) {
    double sum = 0;
    for (int64_t i = from; i < to; ++i) sum += static_cast<double>(s[i]) * s[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

int passFrames(ExportRig& rig) {
    std::lock_guard<std::mutex> lock(rig.player->songMutex());
    return rig.player->passFrames();
}

// Pattern 0 (8 rows of 3 frames) sounds a short note on row 0 and plays
// sixteen times (E60 ... E6F); pattern 1 is silent but for a note on its
// last row: 384 + 24 frames in the pass, 48 counted by the length.
void loopedSong(ExportRig& rig) {
    rig.sineInstrument(1);
    rig.layout({8, 8}, 0, 3);
    rig.note(0, 0, 0, 0, 4);
    rig.cell(0, 2, 0).note = kNoteKeyOff;
    rig.cell(0, 0, 5).effect = 14;
    rig.cell(0, 0, 5).param = 0x60;
    rig.cell(0, 7, 5).effect = 14;
    rig.cell(0, 7, 5).param = 0x6F;
    rig.note(1, 7, 1, 9, 4);
}

// Row 0 sets speeds 10/1 and row 2 brings back the song's speed 2 with F00,
// which the length count reads as "interleave 0" and so counts 88 frames for
// a song that plays 39: a render of the counted length would hold part of
// the restart before its fade. The last row holds a note.
void speedResetSong(ExportRig& rig) {
    rig.sineInstrument(1);
    rig.layout({8, 8}, 0, 2);
    rig.cell(0, 0, 5).effect = 15;
    rig.cell(0, 0, 5).param = 0xA0;
    rig.cell(0, 2, 5).effect = 15;
    rig.cell(0, 2, 5).param = 0x00;
    rig.note(1, 7, 1, 9, 4);
}

uint64_t fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ULL;
    return h;
}

}  // namespace

TEST(WaveFile, HeaderAndLength) {
    EXPECT_EQ(waveSampleCount(100), 220500);
    EXPECT_EQ(waveSampleCount(0), 132300);
    auto h = waveHeader(220500);
    std::vector<uint8_t> expect = {'R', 'I', 'F', 'F', 0xCC, 0xBA, 0x06, 0x00, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                   16, 0, 0, 0, 1, 0, 1, 0, 0x44, 0xAC, 0, 0, 0x88, 0x58, 0x01, 0,
                                   2, 0, 16, 0, 'd', 'a', 't', 'a', 0xA8, 0xBA, 0x06, 0x00};
    EXPECT_EQ(std::vector<uint8_t>(h.begin(), h.end()), expect);  // 441 000 data bytes
}

TEST(WaveFile, FadeStartsOnTheOverlappingBlock) {
    const int64_t total = 300000;  // fade start 167700, inside the block at 163840
    WaveFade fade(total);
    std::vector<int16_t> block(8192, 10000);
    fade.apply(block.data(), 8192, 155648);  // ends at 163839: before the fade block
    EXPECT_EQ(block.front(), 10000);
    EXPECT_EQ(block.back(), 10000);
    EXPECT_DOUBLE_EQ(fade.gain(), 1.0);
    fade.apply(block.data(), 8192, 163840);
    EXPECT_EQ(block[0], 10000);  // gain 1 on the block's first sample
    EXPECT_EQ(block[1], static_cast<int16_t>(10000 * (1 - 1.0 / 132300)));
    EXPECT_LT(block[8191], 10000);
    // Negative samples are cut toward zero.
    std::vector<int16_t> neg(8192, -10000);
    WaveFade f2(total);
    f2.apply(neg.data(), 8192, 163840);
    EXPECT_EQ(neg[1], -9999);
    // The gain reaches 0 and stays there.
    WaveFade f3(total);
    std::vector<int16_t> loud(140000, 32767);
    f3.apply(loud.data(), 140000, 163840);
    EXPECT_EQ(loud[132300], 0);
    EXPECT_EQ(loud[139999], 0);
    EXPECT_EQ(f3.gain(), 0.0);
}

TEST(WaveRender, EqualsTheSampleSourceWithTheFade) {
    ExportRig rig;
    chordSong(rig);
    ASSERT_EQ(rig.songFrames(), 48);
    SampleSource source(*rig.player, *rig.chips);
    std::string path = tempPath("chord.wav");
    ASSERT_TRUE(renderWave(*rig.player, *rig.chips, source, path, true));
    auto file = qvtest::readFile(path);
    ASSERT_EQ(file.size(), 44u + 2 * 882 * (48 + 150));
    EXPECT_EQ(le32(file, 40), 2u * 882 * 198);
    auto got = samplesOf(file);
    ExportRig other;
    chordSong(other);
    auto want = reference(other, true);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_EQ(got, want);
    int loud = 0;
    for (size_t i = 0; i < 882 * 48; ++i) loud += std::abs(got[i]) > 2000;
    EXPECT_GT(loud, 10000);
    for (size_t i = got.size() - 200; i < got.size(); ++i) EXPECT_EQ(got[i], 0);
    EXPECT_FALSE(rig.player->isPlaying());
    std::filesystem::remove(path);
}

TEST(WaveRender, MutedChannelsAndTheMaskAfterwards) {
    ExportRig rig;
    chordSong(rig, 1);  // only channel 2 plays
    rig.chips->setChannelMask(255 & ~2);
    SampleSource source(*rig.player, *rig.chips);
    source.testSignalOn = true;  // the render never carries the test tone
    std::string path = tempPath("mute.wav");

    ASSERT_TRUE(renderWave(*rig.player, *rig.chips, source, path, false));
    EXPECT_EQ(rig.chips->channelMask(), 255 & ~2);
    EXPECT_TRUE(source.testSignalOn.load());
    auto unmuted = samplesOf(qvtest::readFile(path));
    for (int16_t s : unmuted) ASSERT_EQ(s, 0);

    ASSERT_TRUE(renderWave(*rig.player, *rig.chips, source, path, true));
    EXPECT_EQ(rig.chips->channelMask(), 255 & ~2);
    auto all = samplesOf(qvtest::readFile(path));
    ExportRig other;
    chordSong(other, 1);
    EXPECT_EQ(all, reference(other, true));
    int loud = 0;
    for (int16_t s : all) loud += std::abs(s) > 2000;
    EXPECT_GT(loud, 5000);
    std::filesystem::remove(path);
}

TEST(WaveRender, CancelledRenderLeavesAValidShorterFile) {
    ExportRig rig;
    chordSong(rig);
    SampleSource source(*rig.player, *rig.chips);
    std::string path = tempPath("cancel.wav");
    RenderJob job;
    job.state = RenderJob::CancelRequested;
    ASSERT_TRUE(renderWave(*rig.player, *rig.chips, source, path, true, &job));
    EXPECT_TRUE(job.cancelled.load());
    auto file = qvtest::readFile(path);
    ASSERT_EQ(file.size(), 44u);
    EXPECT_EQ(le32(file, 4), 36u);
    EXPECT_EQ(le32(file, 40), 0u);
    std::filesystem::remove(path);
}

TEST(WaveRender, WorkerCancelMidway) {
    ExportRig rig;
    rig.sineInstrument(1);
    rig.layout({256, 256}, 0, 15);  // 7680 frames: about 2.5 minutes
    for (int r = 0; r < 256; r += 8) rig.note(0, r, r % 6, r % 12, 4);
    SampleSource source(*rig.player, *rig.chips);
    RenderJob job;
    job.fileName = tempPath("worker.wav");
    job.allChannels = true;
    RenderWorker worker;
    std::atomic<bool> finishedCalled{false};
    ASSERT_TRUE(worker.start(*rig.player, *rig.chips, source, job, [&] { finishedCalled = true; }));
    EXPECT_TRUE(job.active.load() || job.state.load() == RenderJob::Finished);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (job.progress.load() < 3 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    worker.cancel(job);
    EXPECT_EQ(job.state.load(), RenderJob::Finished);
    worker.join();
    EXPECT_TRUE(finishedCalled.load());
    EXPECT_FALSE(job.active.load());
    EXPECT_TRUE(job.succeeded.load());
    EXPECT_TRUE(job.cancelled.load());
    auto file = qvtest::readFile(job.fileName);
    ASSERT_GE(file.size(), 44u);
    uint32_t data = le32(file, 40);
    EXPECT_EQ(file.size(), 44u + data);
    EXPECT_EQ(le32(file, 4), 36u + data);
    EXPECT_EQ(data % (2 * 8192), 0u);
    EXPECT_LT(data, 2u * 882 * (7680 + 150));
    EXPECT_GT(data, 0u);
    // Cancelling a finished job does nothing.
    worker.cancel(job);
    EXPECT_EQ(job.state.load(), RenderJob::Finished);
    std::filesystem::remove(job.fileName);
}

TEST(WaveRender, ProgressReachesOneHundred) {
    ExportRig rig;
    chordSong(rig);
    SampleSource source(*rig.player, *rig.chips);
    RenderJob job;
    job.fileName = tempPath("progress.wav");
    RenderWorker worker;
    ASSERT_TRUE(worker.start(*rig.player, *rig.chips, source, job));
    worker.join();
    EXPECT_EQ(job.progress.load(), 100);
    EXPECT_FALSE(job.cancelled.load());
    EXPECT_TRUE(job.succeeded.load());
    std::filesystem::remove(job.fileName);
}

TEST(WaveRender, WorkerRefusesWhileTheStreamIsOpen) {
    ExportRig rig;
    chordSong(rig);
    SampleSource source(*rig.player, *rig.chips);
    RenderJob job;
    job.fileName = tempPath("refused.wav");
    std::filesystem::remove(job.fileName);
    RenderWorker worker;
    ASSERT_TRUE(worker.start(*rig.player, *rig.chips, source, job, {}, [] { return true; }));
    worker.join();
    EXPECT_EQ(job.state.load(), RenderJob::Finished);
    EXPECT_FALSE(job.active.load());
    EXPECT_FALSE(job.succeeded.load());
    EXPECT_FALSE(std::filesystem::exists(job.fileName));
}

TEST(WaveRender, UnwritableFileFails) {
    ExportRig rig;
    chordSong(rig);
    rig.chips->setChannelMask(5);
    SampleSource source(*rig.player, *rig.chips);
    EXPECT_FALSE(renderWave(*rig.player, *rig.chips, source, "/nonexistent-dir/x.wav", true));
    EXPECT_EQ(rig.chips->channelMask(), 5);
    EXPECT_FALSE(rig.player->isPlaying());
    // A full disk is reported too.
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_FALSE(renderWave(*rig.player, *rig.chips, source, "/dev/full", true));
        EXPECT_EQ(rig.chips->channelMask(), 5);
    }
}

TEST(WaveRender, HoldsTheWholePassOfSongsWithLoopsOrASpeedReset) {
    struct Case {
        const char* name;
        void (*build)(ExportRig&);
        int pass, counted, lastNote;  // lastNote: the frame whose start applies the last row's writes
    };
    for (const Case& c : {Case{"loops", loopedSong, 408, 48, 406}, Case{"reset", speedResetSong, 39, 88, 38}}) {
        SCOPED_TRACE(c.name);
        ExportRig rig;
        c.build(rig);
        ASSERT_EQ(rig.songFrames(), c.counted);
        ASSERT_EQ(passFrames(rig), c.pass);
        SampleSource source(*rig.player, *rig.chips);
        const std::string path = tempPath(std::string(c.name) + ".wav");
        ASSERT_TRUE(renderWave(*rig.player, *rig.chips, source, path, true));
        auto file = qvtest::readFile(path);
        ASSERT_EQ(file.size(), 44u + 2 * 882 * (c.pass + 150));
        auto got = samplesOf(file);
        ExportRig other;
        c.build(other);
        EXPECT_EQ(got, reference(other, true, c.pass));
        // The note on the pass's last row sounds, after a silent stretch of
        // pattern 1.
        const int64_t lastNote = 882LL * c.lastNote;
        EXPECT_GT(rmsOver(got, lastNote + 100, lastNote + 882), 1000.0);
        EXPECT_LT(rmsOver(got, lastNote - 6 * 882, lastNote - 882), 1.0);
        EXPECT_EQ(got[lastNote - 1], 0);
        std::filesystem::remove(path);
    }
}

TEST(WaveRender, DemoBreakdownEndsWithItsPassAndSongsWithoutSuchEffectsAreUnchanged) {
    ExportRig rig;
    ASSERT_EQ(loadModule(*rig.song, std::string(QV_SOURCE_DIR) + "/examples/demo.qze"), kModuleLoaded);
    // The breakdown slows to speed 5 (F55) and comes back with F00, which
    // the length count takes for "interleave 0": it counts 2176 frames of a
    // song that plays 1864 before it starts over.
    EXPECT_EQ(rig.songFrames(), 2176);
    EXPECT_EQ(passFrames(rig), 1864);
    SampleSource source(*rig.player, *rig.chips);
    const std::string path = tempPath("demo.wav");
    ASSERT_TRUE(renderWave(*rig.player, *rig.chips, source, path, true));
    EXPECT_EQ(qvtest::readFile(path).size(), 44u + 2 * 882 * (1864 + 150));

    // Without its two speed effects the demo has no loop or speed reset: the
    // pass is the counted length and the file is byte for byte the one
    // earlier versions wrote (its checksum).
    int stripped = 0;
    for (Pattern& p : rig.song->patterns)
        for (Row& r : p.rows)
            for (Cell& c : r)
                if (c.effect == 15 || (c.effect == 14 && (c.param & 0xF0) == 0x60)) {
                    c.effect = 0, c.param = 0;
                    ++stripped;
                }
    ASSERT_EQ(stripped, 2);
    ASSERT_EQ(passFrames(rig), 1792);
    ASSERT_EQ(rig.songFrames(), 1792);
    ASSERT_TRUE(renderWave(*rig.player, *rig.chips, source, path, true));
    auto file = qvtest::readFile(path);
    EXPECT_EQ(file.size(), 3425732u);
    EXPECT_EQ(fnv1a(file), 0x87ec699c1617a4e2ULL);
    std::filesystem::remove(path);
}

namespace {

// Channel c (0-5, but not 4) sounds one note from row 2c to its key-off on
// row 2c + 2; channel 5 (index 4) never plays. 32 rows of 3 frames.
void staggeredSong(ExportRig& rig) {
    rig.sineInstrument(1);
    rig.layout({32}, 0, 3);
    for (int c : {0, 1, 2, 3, 5}) {
        rig.note(0, 2 * c, c, (c * 3) % 12, 3 + c % 3);
        rig.cell(0, 2 * c + 2, c).note = kNoteKeyOff;
    }
}

}  // namespace

TEST(WaveStems, SixFilesThatAddUpToTheMixAndSoundOnlyWithTheirChannel) {
    ExportRig rig;
    staggeredSong(rig);
    const int frames = rig.songFrames();
    ASSERT_EQ(frames, 96);
    const auto seq = stemPaths(tempPath("seq.wav"));
    EXPECT_EQ(seq[0], tempPath("seq.ch1.wav"));
    EXPECT_EQ(seq[5], tempPath("seq.ch6.wav"));
    const auto par = stemPaths(tempPath("par"));
    RenderJob job;
    ASSERT_TRUE(renderStems(*rig.song, 128, seq, 1));
    ASSERT_TRUE(renderStems(*rig.song, 128, par, 4, &job));
    EXPECT_EQ(job.progress.load(), 100);
    EXPECT_FALSE(job.cancelled.load());

    SampleSource source(*rig.player, *rig.chips);
    const std::string mixPath = tempPath("mix.wav");
    ASSERT_TRUE(renderWave(*rig.player, *rig.chips, source, mixPath, true));
    const auto mix = samplesOf(qvtest::readFile(mixPath));
    std::vector<int> sum(mix.size(), 0);
    for (int c = 0; c < 6; ++c) {
        SCOPED_TRACE(c);
        const auto file = qvtest::readFile(seq[c]);
        EXPECT_EQ(file, qvtest::readFile(par[c]));  // threads change nothing
        ASSERT_EQ(file.size(), 44u + 2 * 882 * (frames + 150));
        const auto s = samplesOf(file);
        for (size_t i = 0; i < s.size(); ++i) sum[i] += s[i];
        // Silent up to the frame that keys its note on and again once the
        // release has died away, until the song starts over in the tail.
        const int64_t on = 882LL * (6 * c + 1), off = 882LL * (6 * c + 7 + 10), restart = 882LL * (frames + 1);
        int64_t lastSound = -1, firstSound = -1;
        for (int64_t i = 0; i < restart; ++i) {
            if (s[i] == 0) continue;
            if (firstSound < 0) firstSound = i;
            lastSound = i;
        }
        if (c == 4) {
            for (int16_t v : s) ASSERT_EQ(v, 0);
            continue;
        }
        EXPECT_GE(firstSound, on);
        EXPECT_LT(firstSound, on + 100);
        EXPECT_GT(rmsOver(s, on, on + 3 * 882), 1000.0);
        EXPECT_LT(lastSound, off);
    }
    int worst = 0;
    for (size_t i = 0; i < mix.size(); ++i) worst = std::max(worst, std::abs(sum[i] - mix[i]));
    EXPECT_LE(worst, 6);
    for (const auto& p : seq) std::filesystem::remove(p);
    for (const auto& p : par) std::filesystem::remove(p);
    std::filesystem::remove(mixPath);
}

TEST(WaveStems, CancelEndsEveryStemAndFailureIsReported) {
    ExportRig rig;
    staggeredSong(rig);
    RenderJob job;
    job.state = RenderJob::CancelRequested;
    const auto paths = stemPaths(tempPath("cancel.wav"));
    EXPECT_TRUE(renderStems(*rig.song, 128, paths, 2, &job));
    EXPECT_TRUE(job.cancelled.load());
    // A stem that had begun keeps its header with the lengths of what it
    // holds; the stems not begun yet are not written.
    int begun = 0;
    for (const auto& p : paths) {
        if (!std::filesystem::exists(p)) continue;
        ++begun;
        EXPECT_EQ(qvtest::readFile(p).size(), 44u);
        EXPECT_EQ(le32(qvtest::readFile(p), 40), 0u);
        std::filesystem::remove(p);
    }
    EXPECT_GE(begun, 1);
    EXPECT_LE(begun, 2);
    EXPECT_FALSE(renderStems(*rig.song, 128, stemPaths("/nonexistent-dir/x.wav"), 2));
}
