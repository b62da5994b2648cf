// Wave rendering: header, length rule, blocks, fade, mutes, cancel and failure.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include "io/export_readers.h"
#include "io/export_rig.h"
#include "io/wav_export.h"
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
std::vector<int16_t> reference(ExportRig& rig, bool allChannels) {
    const int64_t total = 882LL * (rig.songFrames() + 150);
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
