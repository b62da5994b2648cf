// The audio stream with the real engine behind it: a playing song reaches the
// device exactly as an off-line render of the same calls, and the test tone
// runs on across block seams.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>
#include <thread>

#include "sound/audio_output.h"
#include "sound/stream_engine.h"
#include "sound/synthetic_producer.h"

using namespace std::chrono_literals;
using qv::AudioOutput;
using qv::NullAudioDevice;
using qv::test::StreamEngine;
using qv::test::waitFor;

namespace {

NullAudioDevice::Options recordingDevice(double speed) {
    NullAudioDevice::Options o;
    o.speed = speed;
    o.record = true;
    return o;
}

std::vector<int16_t> renderOffline(StreamEngine& engine, std::size_t count) {
    std::vector<int16_t> out((count + qv::kSamplesPerRender - 1) / qv::kSamplesPerRender *
                             qv::kSamplesPerRender);
    for (std::size_t i = 0; i < out.size(); i += qv::kSamplesPerRender)
        engine.source->renderSamples(out.data() + i, qv::kSamplesPerRender);
    out.resize(count);
    return out;
}

}  // namespace

// The stream is the frame-clocked source, sample for sample: the Player ticks
// at the same samples, the queue is applied at the same samples, across two
// re-opens with other buffer settings (each open restarts the frame clock).
TEST(AudioStreamEngine, PlayingSongReachesTheDeviceAsRenderedOffline) {
    const int settings[][2] = {{0, 0}, {2, 3}, {5, 1}};
    for (const auto& s : settings) {
        SCOPED_TRACE(testing::Message() << "size index " << s[0] << ", count index " << s[1]);
        StreamEngine live;
        StreamEngine offline;
        live.playFromStart();
        offline.playFromStart();
        NullAudioDevice device(recordingDevice(8));
        qv::SampleSourceProducer producer(*live.source);
        AudioOutput out(device, producer);
        ASSERT_TRUE(out.open(s[0], s[1]));
        ASSERT_TRUE(waitFor([&] { return device.stats().played >= 3 * 44100; }, 20s));
        out.close();

        const auto played = device.recording();
        const auto expected = renderOffline(offline, played.size());
        ASSERT_EQ(played.size(), expected.size());
        std::size_t firstDiff = played.size();
        for (std::size_t i = 0; i < played.size(); ++i)
            if (played[i] != expected[i]) {
                firstDiff = i;
                break;
            }
        EXPECT_EQ(firstDiff, played.size()) << "first difference at sample " << firstDiff;
        int peak = 0;
        for (int16_t v : played) peak = std::max(peak, std::abs(static_cast<int>(v)));
        EXPECT_GT(peak, 1000) << "the song is not heard";
    }
}

// The tone replaces the chips' output and keeps its phase across renders and
// blocks: the recording is one unbroken 440 Hz wave from phase 0.
TEST(AudioStreamEngine, TestToneRunsOnAcrossBlocks) {
    StreamEngine engine;
    engine.playFromStart();  // the chips sound, yet only the tone is heard
    engine.source->testSignalOn.store(true);
    NullAudioDevice device(recordingDevice(8));
    qv::SampleSourceProducer producer(*engine.source);
    AudioOutput out(device, producer);
    ASSERT_TRUE(out.open(1, 1));  // blocks of 2048 samples, renders of 1024
    ASSERT_TRUE(waitFor([&] { return device.stats().played >= 44100; }, 20s));
    out.close();

    const auto played = device.recording();
    ASSERT_GE(played.size(), 44100u);
    float x = 0.0f;
    const float step = 880.0f / 44100.0f;
    for (std::size_t i = 0; i < played.size(); ++i) {
        const float x2 = x * x;
        const auto want = static_cast<int16_t>((x2 * (2.0f * x2 - 4.0f) + 1.0f) * 16384.0f);
        ASSERT_EQ(played[i], want) << "sample " << i;
        x += step;
        if (x >= 1.0f) x -= 2.0f;
    }
    // 440 periods a second: count the rising zero crossings of one second.
    int rising = 0;
    for (std::size_t i = 1; i < 44100; ++i) rising += played[i - 1] < 0 && played[i] >= 0;
    EXPECT_NEAR(rising, 440, 1);
}

// A note key (the row sounded from the editor: the Player started in
// stop-after-row mode) reaches the device, by the device's own clock, within
// the stream's latency plus one frame; at the default buffers and at larger ones.
TEST(AudioStreamEngine, NoteKeyToDeviceWithinLatencyPlusOneFrame) {
    const int settings[][2] = {{0, 0}, {1, 2}};
    for (const auto& s : settings) {
        SCOPED_TRACE(testing::Message() << "size index " << s[0] << ", count index " << s[1]);
        StreamEngine engine;
        NullAudioDevice device(recordingDevice(1));
        qv::SampleSourceProducer producer(*engine.source);
        AudioOutput out(device, producer);
        ASSERT_TRUE(out.open(s[0], s[1]));
        const double limit = (out.latencySeconds() + 0.020) * 44100;
        std::mt19937 rng(7);
        double worst = 0;
        for (int key = 0; key < 6; ++key) {
            // Silence first: the last row's sound has left the device.
            std::this_thread::sleep_for(std::chrono::milliseconds(
                static_cast<int>(out.latencySeconds() * 1000) + 60 + static_cast<int>(rng() % 20)));
            device.watchForSound();
            const double keyAt = device.clockSamples();
            engine.player->start(0, 0, true, false, false, -1);
            ASSERT_TRUE(waitFor([&] { return device.stats().firstSound >= 0; }, 3s));
            const auto st = device.stats();
            ASSERT_GE(st.firstSoundQueued, keyAt);
            worst = std::max(worst, st.firstSoundQueued - keyAt);
            // Handed over before it plays, and played within the latency after that.
            EXPECT_LE(st.firstSoundQueued, static_cast<double>(st.firstSound) + 1);
            engine.player->stop();
        }
        EXPECT_LE(worst, limit) << "worst key-to-device time " << worst / 44.1 << " ms";
        out.close();
    }
}
