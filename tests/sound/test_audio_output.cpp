// The audio stream against the null device: buffer settings, the block
// hand-off, the stop and close hand-shakes, re-opening, a missing device and
// the export hand-off.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <thread>

#include "sound/audio_output.h"
#include "sound/synthetic_producer.h"

using namespace std::chrono_literals;
using qv::AudioOutput;
using qv::NullAudioDevice;
using qv::test::SyntheticProducer;
using qv::test::waitFor;

namespace {

NullAudioDevice::Options deviceAt(double speed, bool record = false) {
    NullAudioDevice::Options o;
    o.speed = speed;
    o.record = record;
    return o;
}

}  // namespace

TEST(AudioBufferSettings, ComboIndexesMapToSizesAndCounts) {
    EXPECT_EQ(qv::blockSizeForIndex(0), 2048);
    EXPECT_EQ(qv::blockSizeForIndex(3), 16384);
    EXPECT_EQ(qv::blockSizeForIndex(5), 65536);
    EXPECT_EQ(qv::blockSizeForIndex(9), 65536);  // a stored 9 is the last item
    EXPECT_EQ(qv::blockSizeForIndex(-1), 2048);  // no selection: the first
    EXPECT_EQ(qv::blockCountForIndex(0), 2);
    EXPECT_EQ(qv::blockCountForIndex(8), 10);
    EXPECT_EQ(qv::blockCountForIndex(40), 10);
    EXPECT_EQ(qv::blockCountForIndex(-3), 2);
    EXPECT_NEAR(qv::streamLatencySeconds(2048, 2), 0.0464, 0.0001);
    EXPECT_NEAR(qv::streamLatencySeconds(65536, 10), 7.43, 0.01);

    NullAudioDevice device(deviceAt(0));
    SyntheticProducer producer;
    AudioOutput out(device, producer);
    ASSERT_TRUE(out.open(0, 0));
    EXPECT_EQ(out.blockSize(), 2048);
    EXPECT_EQ(out.blockCount(), 2);
    ASSERT_TRUE(out.open(9, 12));
    EXPECT_EQ(out.blockSize(), 65536);
    EXPECT_EQ(out.blockCount(), 10);
    device.setSpeed(50);
}

// Every sample the source produced reaches the device once, in order, with
// nothing lost at the seams of blocks and renders, for several settings.
TEST(AudioStream, DeviceReceivesTheSourceUnbrokenAndCloseDrainsIt) {
    const int settings[][2] = {{0, 0}, {1, 0}, {0, 3}, {2, 1}, {5, 0}};
    for (const auto& s : settings) {
        SCOPED_TRACE(testing::Message() << "size index " << s[0] << ", count index " << s[1]);
        NullAudioDevice device(deviceAt(8, true));
        SyntheticProducer producer;
        AudioOutput out(device, producer);
        ASSERT_TRUE(out.open(s[0], s[1]));
        const auto capacity = static_cast<std::size_t>(out.blockSize()) * out.blockCount();
        ASSERT_TRUE(waitFor([&] { return device.stats().played >= 3 * capacity / 2 + 44100; }, 20s));
        out.close();
        EXPECT_FALSE(device.stats().open);
        EXPECT_FALSE(out.lastCloseTimedOut());
        EXPECT_EQ(device.stats().droppedAtClose, 0u);
        EXPECT_LE(device.stats().maxQueuedBytes, capacity);
        EXPECT_EQ(device.stats().queued % (out.blockSize() / 2), 0u) << "only whole blocks go out";

        const auto played = device.recording();
        ASSERT_EQ(played.size(), device.stats().queued);
        const auto expected = qv::test::syntheticSamples(played.size());
        EXPECT_TRUE(played == expected) << "the stream differs from the source";
    }
}

// A device that takes nothing fills with exactly blockCount blocks and the
// thread then waits; each block the device gives back lets exactly one more in.
TEST(AudioStream, NeverMoreThanBlockCountBlocksAtTheDevice) {
    NullAudioDevice device(deviceAt(0));
    SyntheticProducer producer;
    AudioOutput out(device, producer);
    ASSERT_TRUE(out.open(1, 2));  // 4 blocks of 4096 bytes
    ASSERT_TRUE(waitFor([&] { return out.blocksQueued() == 4; }, 2s));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(out.blocksQueued(), 4u);
    EXPECT_EQ(device.queuedBytes(), 4u * 4096);
    // 4 blocks of 2048 samples are 8 renders; the thread waits after the 8th.
    EXPECT_EQ(out.renderCalls(), 8u);

    device.consume(1000);  // part of a block: still outstanding
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(out.blocksQueued(), 4u);
    device.consume(1048);  // now the first block is back
    ASSERT_TRUE(waitFor([&] { return out.blocksQueued() == 5; }, 2s));
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(out.blocksQueued(), 5u);
    device.setSpeed(50);
}

TEST(AudioStream, CloseWaitsUntilTheDeviceHasPlayedEveryQueuedBlock) {
    NullAudioDevice device(deviceAt(0, true));
    SyntheticProducer producer;
    AudioOutput out(device, producer);
    ASSERT_TRUE(out.open(2, 1));  // 3 blocks of 8192 bytes, 279 ms
    ASSERT_TRUE(waitFor([&] { return out.blocksQueued() == 3; }, 2s));

    auto closing = std::async(std::launch::async, [&] { out.close(); });
    EXPECT_EQ(closing.wait_for(150ms), std::future_status::timeout)
        << "close returned while the device still held blocks";
    EXPECT_TRUE(device.stats().open);
    device.setSpeed(4);
    ASSERT_EQ(closing.wait_for(3s), std::future_status::ready);
    closing.get();
    EXPECT_FALSE(out.lastCloseTimedOut());
    EXPECT_EQ(device.stats().droppedAtClose, 0u);
    EXPECT_EQ(device.stats().played, 3u * 4096);
    EXPECT_EQ(device.stats().closes, 1);
}

// A card that stops taking samples, or reports itself gone, cannot hang close.
TEST(AudioStream, CloseGivesUpOnADeviceThatNeverDrains) {
    {
        NullAudioDevice device(deviceAt(0));
        SyntheticProducer producer;
        AudioOutput out(device, producer);
        ASSERT_TRUE(out.open(0, 0));
        ASSERT_TRUE(waitFor([&] { return out.blocksQueued() == 2; }, 2s));
        const auto t0 = std::chrono::steady_clock::now();
        out.close();
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_TRUE(out.lastCloseTimedOut());
        EXPECT_GE(took, 1.0);
        EXPECT_LT(took, 1.0 + out.latencySeconds() + 0.5);
        EXPECT_FALSE(device.stats().open);
        EXPECT_EQ(device.stats().droppedAtClose, 2048u);
    }
    {
        NullAudioDevice device(deviceAt(0));
        SyntheticProducer producer;
        AudioOutput out(device, producer);
        ASSERT_TRUE(out.open(0, 0));
        ASSERT_TRUE(waitFor([&] { return out.blocksQueued() == 2; }, 2s));
        device.setFailed(true);
        const auto t0 = std::chrono::steady_clock::now();
        out.close();
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 200ms);
        EXPECT_TRUE(out.lastCloseTimedOut());
        EXPECT_FALSE(device.stats().open);
    }
}

TEST(AudioStream, NoDeviceLeavesTheProgramSilentAndSaysWhy) {
    NullAudioDevice::Options o;
    o.failOpen = true;
    NullAudioDevice missing(o);
    SyntheticProducer producer;
    {
        AudioOutput out(missing, producer);
        EXPECT_FALSE(out.open(0, 0));
        EXPECT_FALSE(out.isOpen());
        EXPECT_FALSE(out.lastError().empty());
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(producer.produced.load(), 0u) << "no thread runs without a device";
        out.close();  // harmless
        out.syncWithRenderer();
        EXPECT_FALSE(out.open(3, 3));
    }
    // With a device the stream plays, and destroying it closes the device.
    NullAudioDevice device(deviceAt(20));
    {
        AudioOutput out(device, producer);
        ASSERT_TRUE(out.open(0, 0));
        EXPECT_TRUE(out.lastError().empty());
        ASSERT_TRUE(waitFor([&] { return out.blocksQueued() > 0; }, 2s));
    }
    EXPECT_FALSE(device.stats().open);
    EXPECT_EQ(device.stats().closes, 1);
}

// Re-opening with other settings, over and over: every open starts a thread
// that really plays (a closed stream's acknowledgement must not stop the next
// one), every close ends it, and the device is opened and closed in pairs.
TEST(AudioStream, ThousandOpenCloseCycles) {
    NullAudioDevice device(deviceAt(64));
    SyntheticProducer producer;
    AudioOutput out(device, producer);
    const int cycles = 1000;
    // Counted after one cycle: a sanitizer may start a helper thread of its own.
    ASSERT_TRUE(out.open(0, 0));
    out.close();
    const std::size_t threads = qv::test::threadCount();
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < cycles; ++i) {
        const uint64_t before = out.renderCalls();
        ASSERT_TRUE(out.open(i % 3, (i / 3) % 4)) << "cycle " << i;
        ASSERT_TRUE(waitFor([&] { return out.renderCalls() > before; }, 2s)) << "cycle " << i;
        if (i % 2 == 0) out.close();  // the other half is closed by open
    }
    out.close();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("[ measured ] %d open/close cycles on the null device: %.2f s (%.2f ms each)\n", cycles,
                seconds, seconds * 1000 / cycles);
    EXPECT_EQ(device.stats().opens, cycles + 1);
    EXPECT_EQ(device.stats().closes, cycles + 1);
    EXPECT_EQ(producer.opened.load(), cycles + 1);
    EXPECT_FALSE(device.stats().open);
    EXPECT_EQ(qv::test::threadCount(), threads) << "audio threads left behind";
}

// An exporter drives the Player from its own thread while the stream stays
// open: once the driving scope is entered no tick may happen until it is
// left, while the device keeps getting samples without running dry. The
// source is slow and decides about its tick at the start of a render, so a
// render already under way when the flag goes up would tick late.
TEST(AudioStream, NoTickWhileAnExportDrivesThePlayer) {
    NullAudioDevice device(deviceAt(1));
    SyntheticProducer producer;
    std::atomic<bool> exportDriving{false};
    producer.exportDriving = &exportDriving;
    producer.renderDelay = 3ms;
    AudioOutput out(device, producer);
    ASSERT_TRUE(out.open(0, 1));  // 3 blocks of 2048 bytes, 70 ms
    ASSERT_TRUE(waitFor([&] { return producer.ticks.load() >= 20; }, 3s));
    const int underrunsBefore = device.stats().underruns;

    for (int round = 0; round < 20; ++round) {
        uint64_t ticksAtStart = 0;
        uint64_t rendersAtStart = 0;
        // Go up while a render is under way (half the rounds) or between two.
        if (round % 2 == 0) {
            ASSERT_TRUE(waitFor([&] { return producer.inRender.load(); }, 2s));
        }
        {
            AudioOutput::DrivingScope scope(&out, exportDriving);
            ticksAtStart = producer.ticks.load();
            rendersAtStart = out.renderCalls();
            // The "export": touches what a tick touches, for a while.
            for (int frame = 0; frame < 5; ++frame) {
                ++producer.stateTouchedByTick;
                std::this_thread::sleep_for(15ms);
            }
            EXPECT_EQ(producer.ticks.load(), ticksAtStart) << "round " << round;
            EXPECT_GT(out.renderCalls(), rendersAtStart) << "the stream stalled during the export";
        }
        ASSERT_TRUE(waitFor([&] { return producer.ticks.load() > ticksAtStart; }, 2s))
            << "ticking did not resume after the export";
    }
    EXPECT_EQ(device.stats().underruns, underrunsBefore);
    out.close();

    // Without a stream the scope only sets and clears the flag.
    {
        AudioOutput::DrivingScope scope(nullptr, exportDriving);
        EXPECT_TRUE(exportDriving.load());
    }
    EXPECT_FALSE(exportDriving.load());
}

// The program's device: the card when it opens; otherwise (and after the card
// stops on its own) a silent stand-in that keeps the stream at its real pace.
TEST(AudioStream, SilentStandInKeepsTimeWithoutACard) {
    SyntheticProducer producer;
    {
        NullAudioDevice::Options o = deviceAt(1);
        o.failOpen = true;
        auto card = std::make_unique<NullAudioDevice>(o);
        NullAudioDevice* cardSeen = card.get();
        qv::SilentFallbackDevice device(std::move(card));
        AudioOutput out(device, producer);
        ASSERT_TRUE(out.open(0, 0));
        EXPECT_TRUE(device.silent());
        EXPECT_EQ(device.error(), "no audio device present");
        EXPECT_FALSE(cardSeen->stats().open);
        // Real time: about 44 100 samples a second are taken, not all at once.
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_TRUE(waitFor([&] { return producer.produced.load() >= 44100 / 4; }, 3s));
        std::this_thread::sleep_for(300ms);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double rate = static_cast<double>(producer.produced.load()) / seconds;
        EXPECT_GT(rate, 20000.0);
        EXPECT_LT(rate, 120000.0) << "the stand-in must not race ahead of real time";
        out.close();
        EXPECT_FALSE(out.lastCloseTimedOut());
    }
    {
        auto card = std::make_unique<NullAudioDevice>(deviceAt(20));
        NullAudioDevice* cardSeen = card.get();
        qv::SilentFallbackDevice device(std::move(card));
        AudioOutput out(device, producer);
        ASSERT_TRUE(out.open(0, 0));
        EXPECT_FALSE(device.silent());
        EXPECT_TRUE(device.error().empty());
        ASSERT_TRUE(waitFor([&] { return cardSeen->stats().queued > 0; }, 2s));
        // The card stops (unplugged): the stream goes on, silently.
        cardSeen->setFailed(true);
        ASSERT_TRUE(waitFor([&] { return device.silent(); }, 2s));
        EXPECT_EQ(device.error(), "the audio device stopped");
        const uint64_t before = out.renderCalls();
        ASSERT_TRUE(waitFor([&] { return out.renderCalls() > before + 3; }, 2s));
        out.close();
        EXPECT_FALSE(cardSeen->stats().open);
        // Opening again tries the card first.
        cardSeen->setFailed(false);
        ASSERT_TRUE(out.open(0, 0));
        EXPECT_FALSE(device.silent());
        EXPECT_TRUE(cardSeen->stats().open);
    }
}

// While the stand-in plays, the card is tried again (every few seconds and on
// request); once it opens, the stream plays on the card from the next block.
TEST(AudioStream, TheCardIsTriedAgainWhileSilent) {
    SyntheticProducer producer;
    NullAudioDevice::Options o = deviceAt(20);
    o.failOpen = true;
    auto card = std::make_unique<NullAudioDevice>(o);
    NullAudioDevice* cardSeen = card.get();
    qv::SilentFallbackDevice device(std::move(card));
    AudioOutput out(device, producer);
    ASSERT_TRUE(out.open(0, 0));
    ASSERT_TRUE(device.silent());
    EXPECT_FALSE(device.retryCard());  // still gone
    EXPECT_TRUE(device.silent());
    EXPECT_EQ(device.error(), "no audio device present");

    // The sound server returns: tried again only when the interval has passed.
    cardSeen->setFailOpen(false);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(device.retryCardIfDue(t0));
    EXPECT_FALSE(device.retryCardIfDue(t0 + qv::SilentFallbackDevice::kRetryInterval - 1ms));
    EXPECT_TRUE(device.retryCardIfDue(t0 + qv::SilentFallbackDevice::kRetryInterval));
    EXPECT_FALSE(device.silent());
    EXPECT_TRUE(device.error().empty());
    ASSERT_TRUE(waitFor([&] { return cardSeen->stats().queued > 0; }, 2s)) << "the card never got a block";

    // It stops on its own, and comes back at the next try.
    cardSeen->setFailed(true);
    ASSERT_TRUE(waitFor([&] { return device.silent(); }, 2s));
    EXPECT_TRUE(device.retryCard());
    EXPECT_FALSE(device.silent());
    EXPECT_EQ(cardSeen->stats().opens, 2);
    ASSERT_TRUE(waitFor([&] { return cardSeen->stats().queued > 0; }, 2s));
    out.close();
    EXPECT_FALSE(cardSeen->stats().open);
}

// Samples the device has to make up as silence are counted, by the device
// and by the stream, across a re-open; a stream that keeps up counts none.
TEST(AudioStream, UnderrunSamplesAreCounted) {
    NullAudioDevice device(deviceAt(1));
    SyntheticProducer producer;
    AudioOutput out(device, producer);
    // 4 blocks of 4096 bytes: 93 ms to spare, a producer far faster than needed.
    ASSERT_TRUE(out.open(1, 2));
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(out.underrunSamples(), 0u);
    EXPECT_EQ(device.stats().underrunSamples, 0u);
    out.close();

    // Each render of 1024 samples (23 ms) takes 40 ms: the device runs dry.
    producer.renderDelay = 40ms;
    ASSERT_TRUE(out.open(0, 0));
    ASSERT_TRUE(waitFor([&] { return out.underrunSamples() > 4410; }, 5s));
    out.close();
    const uint64_t counted = out.underrunSamples();
    EXPECT_EQ(counted, device.stats().underrunSamples) << "the closed stream keeps the device's count";
    // The device plays whole periods: what it took plus what it invented
    // covers its clock.
    const auto st = device.stats();
    EXPECT_GE(st.played + st.underrunSamples, st.queued - st.droppedAtClose);
    producer.renderDelay = 0ms;
    ASSERT_TRUE(out.open(1, 2));
    EXPECT_EQ(out.underrunSamples(), counted) << "a new stream adds to the count";
    out.close();
}
