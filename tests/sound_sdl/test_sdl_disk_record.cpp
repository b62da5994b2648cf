// The real path end to end: a song plays through the stream into SDL's disk
// driver, which writes what the device would have played to a file, and the
// file holds exactly the samples of an off-line render of the same song once
// the device's leading silence is skipped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "sound/audio_output.h"
#include "sound/sdl/sdl_audio_device.h"
#include "sound/stream_engine.h"
#include "sound/synthetic_producer.h"
#include "sound_sdl/sdl_test_support.h"

using namespace std::chrono_literals;

namespace {

std::vector<int16_t> readSamples(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                          (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    return samples;
}

std::size_t firstNonZero(const std::vector<int16_t>& v) {
    std::size_t i = 0;
    while (i < v.size() && v[i] == 0) ++i;
    return i;
}

class SdlDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("qv_sdl_disk_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        file_ = dir_ / "played.raw";
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", file_.c_str(), 1);
    }
    void TearDown() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        std::filesystem::remove_all(dir_);
    }

    // Plays producer through the disk driver until seconds of sound have left
    // the queue; returns the samples the stream queued.
    std::size_t play(qv::SampleProducer& producer, int sizeIndex, int countIndex, double seconds) {
        qv::SdlAudioDevice sdl;
        qv::test::CountingDevice device(sdl);
        qv::AudioOutput out(device, producer);
        EXPECT_TRUE(out.open(sizeIndex, countIndex)) << out.lastError();
        EXPECT_EQ(sdl.driverName(), "disk");
        const auto wanted = static_cast<std::size_t>(seconds * 88200);
        EXPECT_TRUE(qv::test::waitFor([&] { return device.playedBytes() >= wanted; }, 20s));
        out.close();
        EXPECT_FALSE(out.lastCloseTimedOut());
        return device.queuedTotal() / 2;
    }

    std::filesystem::path dir_;
    std::filesystem::path file_;
};

}  // namespace

// Both the smallest buffers (46 ms in all, where any late refill would leave a
// gap of device silence) and larger ones.
TEST_F(SdlDisk, RecordedSongEqualsTheOfflineRender) {
    for (const auto& [sizeIndex, countIndex] : {std::pair{0, 0}, std::pair{2, 2}}) {
        SCOPED_TRACE(testing::Message() << "size index " << sizeIndex << ", count index " << countIndex);
        qv::test::StreamEngine live;
        qv::test::StreamEngine offline;
        live.playFromStart();
        offline.playFromStart();
        qv::SampleSourceProducer producer(*live.source);
        const std::size_t queued = play(producer, sizeIndex, countIndex, 2.5);

        std::vector<int16_t> expected(queued);
        for (std::size_t i = 0; i + qv::kSamplesPerRender <= expected.size(); i += qv::kSamplesPerRender)
            offline.source->renderSamples(expected.data() + i, qv::kSamplesPerRender);
        const auto recorded = readSamples(file_);
        const std::size_t r0 = firstNonZero(recorded);
        const std::size_t e0 = firstNonZero(expected);
        ASSERT_LT(e0, 44100u) << "the song should sound within its first second";
        ASSERT_GE(r0, e0);
        const std::size_t offset = r0 - e0;  // the device's silence before the stream
        ASSERT_GE(recorded.size(), offset + queued) << "the file misses samples of the stream";
        std::size_t mismatches = 0;
        std::size_t firstMismatch = queued;
        for (std::size_t i = 0; i < queued; ++i)
            if (recorded[offset + i] != expected[i] && mismatches++ == 0) firstMismatch = i;
        EXPECT_EQ(mismatches, 0u) << "first at stream sample " << firstMismatch;
        std::printf("[ measured ] disk driver: %zu samples compared, %zu samples of leading silence\n",
                    queued, offset);
    }
}
