// The audio stream on SDL2's dummy driver: the device itself, a missing
// driver, real-time streaming with its latency and CPU cost, close with blocks
// queued, many re-opens and a VGM export while the song plays.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <thread>
#include <vector>

#include "io/vgm_export.h"
#include "sound/sdl/sdl_audio_device.h"
#include "sound/stream_engine.h"
#include "sound/synthetic_producer.h"
#include "sound_sdl/sdl_test_support.h"

using namespace std::chrono_literals;
using qv::AudioOutput;
using qv::SdlAudioDevice;
using qv::test::CountingDevice;
using qv::test::sdlAudioUp;
using qv::test::SyntheticProducer;
using qv::test::waitFor;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

class SdlDummy : public ::testing::Test {
  protected:
    void SetUp() override { setenv("SDL_AUDIODRIVER", "dummy", 1); }
};

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

// The device plays its queue at 44 100 samples a second. It holds one
// reference on SDL's audio subsystem while open, so a reference taken by
// someone else outlives it, and its last close lets the subsystem go.
TEST_F(SdlDummy, DeviceQueuesPlaysAndHoldsTheSubsystem) {
    SdlAudioDevice a;
    ASSERT_TRUE(a.open({})) << a.error();
    EXPECT_EQ(a.driverName(), "dummy");
    EXPECT_GT(a.periodSamples(), 0);
    EXPECT_TRUE(sdlAudioUp());

    std::vector<int16_t> quarter(11025, 1000);
    ASSERT_TRUE(a.queue(quarter.data(), quarter.size()));
    EXPECT_GT(a.queuedBytes(), 10000u);
    const auto t0 = Clock::now();
    ASSERT_TRUE(waitFor([&] { return a.queuedBytes() == 0; }, 2s));
    const double took = secondsSince(t0);
    EXPECT_GT(took, 0.15);
    EXPECT_LT(took, 0.6);
    EXPECT_FALSE(a.failed());
    // The queue has run dry: from here on the device plays made-up silence,
    // and counts every sample of it.
    const uint64_t before = a.underrunSamples();
    ASSERT_TRUE(waitFor([&] { return a.underrunSamples() >= before + 4410; }, 2s));
    a.close();
    EXPECT_FALSE(sdlAudioUp());
    EXPECT_FALSE(a.queue(quarter.data(), 10)) << "a closed device takes nothing";
    EXPECT_EQ(a.queuedBytes(), 0u);

    // Someone else's reference survives the device; re-opening works.
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_AUDIO), 0);
    ASSERT_TRUE(a.open({})) << a.error();
    ASSERT_TRUE(a.open({})) << "open on an open device re-opens it";
    a.close();
    a.close();
    EXPECT_TRUE(sdlAudioUp());
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    EXPECT_FALSE(sdlAudioUp());
}

TEST_F(SdlDummy, NoAudioDriverMeansASilentStreamWithAReason) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    SdlAudioDevice device;
    SyntheticProducer producer;
    AudioOutput out(device, producer);
    EXPECT_FALSE(out.open(0, 0));
    EXPECT_FALSE(out.isOpen());
    EXPECT_NE(out.lastError().find("no-such-driver"), std::string::npos) << out.lastError();
    EXPECT_FALSE(sdlAudioUp());
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(producer.produced.load(), 0u);
    out.close();

    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_TRUE(out.open(0, 0)) << out.lastError();
    EXPECT_TRUE(out.lastError().empty());
    ASSERT_TRUE(waitFor([&] { return out.blocksQueued() > 2; }, 2s));
}

// A playing song at real time: the source runs at the device's pace, never
// more than blockCount blocks wait, and the numbers that matter are measured:
// the time from open to the first sample leaving the queue, and the audio
// thread's share of one core.
TEST_F(SdlDummy, StreamsAPlayingSongAtRealTime) {
    for (const auto& s : {std::pair{0, 0}, std::pair{2, 2}}) {
        SCOPED_TRACE(testing::Message() << "size index " << s.first << ", count index " << s.second);
        qv::test::StreamEngine engine;
        engine.playFromStart();
        qv::SampleSourceProducer source(*engine.source);
        qv::test::CpuTimedProducer producer(source);
        SdlAudioDevice sdl;
        CountingDevice device(sdl);
        AudioOutput out(device, producer);

        const auto t0 = Clock::now();
        ASSERT_TRUE(out.open(s.first, s.second)) << out.lastError();
        ASSERT_TRUE(waitFor([&] { return device.playedBytes() > 0; }, 3s));
        const double firstOut = secondsSince(t0);

        const auto t1 = Clock::now();
        const int64_t cpu1 = producer.cpuNanos.load();
        const std::size_t played1 = device.playedBytes();
        std::this_thread::sleep_for(2s);
        const double wall = secondsSince(t1);
        const double cpu = (producer.cpuNanos.load() - cpu1) / 1e9;
        const double rate = (device.playedBytes() - played1) / 2.0 / wall;
        const std::size_t capacity = static_cast<std::size_t>(out.blockSize()) * out.blockCount();
        EXPECT_LE(device.maxQueuedBytes(), capacity);
        EXPECT_NEAR(rate, 44100, 4410);  // the dummy driver keeps time loosely under load
        const double produced = out.renderCalls() * 1024.0;
        EXPECT_LE(produced, device.queuedTotal() / 2.0 + out.blockSize() / 2 + 1024);
        out.close();
        EXPECT_FALSE(out.lastCloseTimedOut());
        std::printf(
            "[ measured ] blocks %d x %d bytes (latency %.1f ms): first sample left the queue "
            "%.1f ms after open; audio thread CPU %.2f %% of one core; device rate %.0f samples/s\n",
            out.blockCount(), out.blockSize(), out.latencySeconds() * 1000, firstOut * 1000,
            100.0 * cpu / wall, rate);
        EXPECT_LT(100.0 * cpu / wall, 25.0);
    }
    EXPECT_FALSE(sdlAudioUp());
}

TEST_F(SdlDummy, CloseWaitsUntilTheQueuedBlocksHavePlayed) {
    SdlAudioDevice sdl;
    CountingDevice device(sdl);
    SyntheticProducer producer;
    AudioOutput out(device, producer);
    ASSERT_TRUE(out.open(3, 2));  // 4 blocks of 16384 bytes, 743 ms
    ASSERT_TRUE(waitFor([&] { return out.blocksQueued() >= 4; }, 2s));
    const std::size_t queued = sdl.queuedBytes();
    ASSERT_GT(queued, 3u * 16384);
    const auto t0 = Clock::now();
    out.close();
    const double took = secondsSince(t0);
    EXPECT_FALSE(out.lastCloseTimedOut());
    const double expected = queued / 88200.0;
    // The dummy driver plays a little slower than real time.
    EXPECT_GT(took, expected * 0.8);
    EXPECT_LT(took, expected * 1.4 + 0.2);
    EXPECT_EQ(device.playedBytes(), device.queuedTotal()) << "blocks were dropped";
    EXPECT_FALSE(sdlAudioUp());
    std::printf("[ measured ] close with %zu bytes queued took %.0f ms (%.0f ms of sound)\n", queued,
                took * 1000, expected * 1000);
}

TEST_F(SdlDummy, ReopensManyTimes) {
    SdlAudioDevice sdl;
    SyntheticProducer producer;
    AudioOutput out(sdl, producer);
    const int cycles = 200;
    double opening = 0;
    double closing = 0;
    // Counted after one cycle: a sanitizer may start a helper thread of its own.
    ASSERT_TRUE(out.open(0, 0));
    out.close();
    const std::size_t threads = qv::test::threadCount();
    const auto t0 = Clock::now();
    for (int i = 0; i < cycles; ++i) {
        const uint64_t blocks = out.blocksQueued();
        auto t = Clock::now();
        ASSERT_TRUE(out.open(0, i % 2)) << "cycle " << i << ": " << out.lastError();
        opening += secondsSince(t);
        ASSERT_TRUE(waitFor([&] { return out.blocksQueued() > blocks; }, 2s)) << "cycle " << i;
        t = Clock::now();
        out.close();
        closing += secondsSince(t);
        ASSERT_FALSE(out.lastCloseTimedOut()) << "cycle " << i;
        ASSERT_FALSE(sdlAudioUp()) << "cycle " << i;
    }
    const double seconds = secondsSince(t0);
    std::printf(
        "[ measured ] %d open/close cycles on SDL's dummy driver: %.2f s (%.1f ms each: open %.1f ms, "
        "close with its drain %.1f ms)\n",
        cycles, seconds, seconds * 1000 / cycles, opening * 1000 / cycles, closing * 1000 / cycles);
    EXPECT_EQ(producer.opened.load(), cycles + 1);
    EXPECT_EQ(qv::test::threadCount(), threads) << "threads left behind (ours or SDL's)";
}

// A VGM export while the song plays through SDL: the file is the same as one
// written with no stream at all, and the stream went on meanwhile.
TEST_F(SdlDummy, VgmExportWhileTheSongPlays) {
    const auto dir = std::filesystem::temp_directory_path() / ("qv_sdl_vgm_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    qv::test::StreamEngine reference;
    ASSERT_TRUE(
        qv::exportVgm(*reference.player, reference.chips, *reference.song, (dir / "ref.vgm").string()));
    const auto expected = readFile(dir / "ref.vgm");
    ASSERT_GT(expected.size(), 256u);

    qv::test::StreamEngine engine;
    SdlAudioDevice sdl;
    qv::SampleSourceProducer producer(*engine.source);
    AudioOutput out(sdl, producer);
    ASSERT_TRUE(out.open(0, 1));
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        engine.playFromStart();
        ASSERT_TRUE(waitFor([&] { return engine.player->position().row >= 1 + round; }, 3s));
        const auto path = dir / ("live" + std::to_string(round) + ".vgm");
        const uint64_t renders = out.renderCalls();
        {
            AudioOutput::DrivingScope scope(&out, engine.player->exportDriving);
            ASSERT_TRUE(qv::exportVgm(*engine.player, engine.chips, *engine.song, path.string()));
        }
        EXPECT_TRUE(readFile(path) == expected);
        ASSERT_TRUE(waitFor([&] { return out.renderCalls() > renders + 2; }, 2s));
    }
    out.close();
    std::filesystem::remove_all(dir);
}
