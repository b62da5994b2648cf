// ChipPair: queue application with one sample per key event, carrying
// entries over between calls, mixing with volume and saturation, channel
// masks and the export switches.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

#include "sound/chip_pair.h"

namespace qv {
namespace {

// Register writes of a plain loud voice (algorithm 7, all four operators at
// full level) on chip channel ch.
std::vector<RegisterWrite> voiceWrites(uint8_t chip, int ch, int block, int fnum) {
    std::vector<RegisterWrite> w;
    auto add = [&](int r, int v) { w.push_back({chip, static_cast<uint8_t>(r), static_cast<uint8_t>(v)}); };
    add(0xB0 + ch, 7);
    for (int o : {0, 4, 8, 12}) {
        add(0x30 + o + ch, 1);
        add(0x40 + o + ch, 0);
        add(0x50 + o + ch, 31);
        add(0x80 + o + ch, 0x0F);
    }
    add(0xA4 + ch, block << 3 | fnum >> 8);
    add(0xA0 + ch, fnum & 0xFF);
    return w;
}

void applyWrites(ChipPair& p, const std::vector<RegisterWrite>& w) {
    for (const auto& e : w) p.writeRegister(e.chip, e.reg, e.value);
}
void enqueue(ChipPair& p, const std::vector<RegisterWrite>& w) {
    for (const auto& e : w) p.queue().push(e.chip, e.reg, e.value);
}

std::vector<int16_t> mixOnly(ChipPair& p, int n) {
    std::vector<int16_t> out(static_cast<size_t>(n));
    p.renderMixOnly(out.data(), n);
    return out;
}

struct Pair {
    ChipPair p;
    explicit Pair(int volume = 128) { EXPECT_TRUE(p.create(kSampleRate, kChipClock, volume)); }
};

// ---------------------------------------------------------------------------
TEST(ChipPairSetup, CreateAndDefaults) {
    Pair a(77);
    EXPECT_EQ(a.p.volume(), 77);
    EXPECT_EQ(a.p.channelMask(), 255);
    EXPECT_EQ(a.p.clipFlag.load(), 0);
    for (int i = 0; i < 3; ++i) ASSERT_NE(a.p.chip(i), nullptr);
    EXPECT_EQ(a.p.queue().count, 0);
    a.p.setVolume(300);
    EXPECT_EQ(a.p.volume(), 255);
    a.p.setVolume(-5);
    EXPECT_EQ(a.p.volume(), 0);
    // A fresh pair is silent.
    for (int16_t s : mixOnly(a.p, 3000)) ASSERT_EQ(s, 0);
}

TEST(ChipPairSetup, WriteRegisterAddressesTheRightChip) {
    Pair a;
    a.p.writeRegister(0, 0x40, 0x11);
    a.p.writeRegister(1, 0x40, 0x22);
    a.p.writeRegister(2, 0x40, 0x33);
    a.p.writeRegister(3, 0x40, 0x44);  // no such chip
    a.p.writeRegister(-1, 0x40, 0x55);
    EXPECT_EQ(a.p.chip(0)->registerValue(0x40), 0x11);
    EXPECT_EQ(a.p.chip(1)->registerValue(0x40), 0x22);
    EXPECT_EQ(a.p.chip(2)->registerValue(0x40), 0x33);
}

TEST(ChipPairSetup, ResetSilencesAndClearsMode) {
    Pair a;
    applyWrites(a.p, voiceWrites(0, 0, 4, 1059));
    a.p.writeRegister(0, 0x28, 0xF0);
    a.p.writeRegister(0, 0x27, 0x40);
    const auto loud = mixOnly(a.p, 1000);
    EXPECT_GT(*std::max_element(loud.begin(), loud.end()), 1000);
    a.p.reset();
    EXPECT_EQ(a.p.chip(0)->registerValue(0x27), 0);
    for (int16_t s : mixOnly(a.p, 1000)) ASSERT_EQ(s, 0);
}

TEST(ChipPairSetup, DestroyedPairRendersSilence) {
    Pair a;
    applyWrites(a.p, voiceWrites(0, 0, 4, 1059));
    a.p.writeRegister(0, 0x28, 0xF0);
    a.p.destroy();
    EXPECT_EQ(a.p.chip(0), nullptr);
    a.p.writeRegister(0, 0x28, 0x00);
    a.p.queue().push(0, 0x28, 0xF0);
    std::vector<int16_t> out(100, 5);
    a.p.renderWithQueue(out.data(), 100);
    for (int16_t s : out) ASSERT_EQ(s, 0);
}

// ---------------------------------------------------------------------------
TEST(ChipPairQueue, EachKeyEventSpendsOneSample) {
    Pair q, ref;
    const auto v0 = voiceWrites(0, 0, 4, 1059);
    const auto v1 = voiceWrites(1, 1, 5, 890);
    enqueue(q.p, v0);
    q.p.queue().push(0, 0x28, 0xF0);
    q.p.queue().push(0, 255, 0x00);  // placeholder: no write, no sample
    enqueue(q.p, v1);
    q.p.queue().push(1, 0x28, 0xF1);
    q.p.queue().push(0, 0x28, 0x00);
    q.p.queue().push(0, 0x40, 0x7F);
    std::vector<int16_t> got(kSamplesPerFrame);
    q.p.renderWithQueue(got.data(), kSamplesPerFrame);
    EXPECT_EQ(q.p.queue().applyPos, q.p.queue().count);

    std::vector<int16_t> want;
    auto take = [&](int n) {
        const auto s = mixOnly(ref.p, n);
        want.insert(want.end(), s.begin(), s.end());
    };
    applyWrites(ref.p, v0);
    ref.p.writeRegister(0, 0x28, 0xF0);
    take(1);
    applyWrites(ref.p, v1);
    ref.p.writeRegister(1, 0x28, 0xF1);
    take(1);
    ref.p.writeRegister(0, 0x28, 0x00);
    take(1);
    ref.p.writeRegister(0, 0x40, 0x7F);
    take(kSamplesPerFrame - 3);
    EXPECT_EQ(got, want);
    EXPECT_EQ(q.p.chip(0)->registerValue(0x40), 0x7F);
}

TEST(ChipPairQueue, EntriesLeftAtTheEndOfACallWaitForTheNext) {
    Pair q, ref;
    for (int i = 0; i < 3; ++i) {
        enqueue(q.p, voiceWrites(0, i, 3 + i, 1000));
        q.p.queue().push(0, 0x28, static_cast<uint8_t>(0xF0 | i));
    }
    q.p.queue().push(1, 0x28, 0xF0);
    std::vector<int16_t> got(2);
    q.p.renderWithQueue(got.data(), 2);  // two key events fit
    const int pos = q.p.queue().applyPos;
    EXPECT_LT(pos, q.p.queue().count);
    EXPECT_EQ(q.p.queue().entries[pos - 1].reg, 0x28);
    EXPECT_EQ(q.p.chip(0)->registerValue(0xB2), 0);  // third voice not yet written
    std::vector<int16_t> rest(500);
    q.p.renderWithQueue(rest.data(), 500);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(q.p.queue().applyPos, q.p.queue().count);

    std::vector<int16_t> want;
    for (int i = 0; i < 3; ++i) {
        applyWrites(ref.p, voiceWrites(0, i, 3 + i, 1000));
        ref.p.writeRegister(0, 0x28, static_cast<uint8_t>(0xF0 | i));
        const auto s = mixOnly(ref.p, 1);
        want.insert(want.end(), s.begin(), s.end());
    }
    ref.p.writeRegister(1, 0x28, 0xF0);
    const auto s = mixOnly(ref.p, 499);
    want.insert(want.end(), s.begin(), s.end());
    EXPECT_EQ(got, want);
}

// More key events than the mix buffer holds samples, in runs on either chip
// with level writes to the other chip between them: every write must still
// land on the sample it would land on when both chips ran sample by sample.
TEST(ChipPairQueue, KeyEventsOnBothChipsBeyondOneMixBuffer) {
    Pair q, ref;
    for (uint8_t chip = 0; chip < 2; ++chip)
        for (int ch = 0; ch < 3; ++ch) {
            const auto v = voiceWrites(chip, ch, 3 + ch + chip, 700 + 97 * ch + 41 * chip);
            enqueue(q.p, v);
            applyWrites(ref.p, v);
        }
    std::vector<RegisterWrite> entries;
    int keys = 0;
    for (int j = 0; j < 2300; ++j) {
        const auto chip = static_cast<uint8_t>((j / 3) % 2);
        const int ch = j % 3;
        entries.push_back({chip, 0x28, static_cast<uint8_t>(((j / 6) % 2 ? 0xF0 : 0x00) | ch)});
        ++keys;
        if (j % 5 == 0)
            entries.push_back({static_cast<uint8_t>(1 - chip), static_cast<uint8_t>(0x4C + ch),
                               static_cast<uint8_t>(j % 40)});
    }
    enqueue(q.p, entries);
    const int total = 3000;
    std::vector<int16_t> got(total);
    q.p.renderWithQueue(got.data(), total);
    EXPECT_EQ(q.p.queue().applyPos, q.p.queue().count);

    std::vector<int16_t> want;
    for (const auto& e : entries) {
        ref.p.writeRegister(e.chip, e.reg, e.value);
        if (e.reg == 0x28) {
            const auto s = mixOnly(ref.p, 1);
            want.insert(want.end(), s.begin(), s.end());
        }
    }
    const auto s = mixOnly(ref.p, total - keys);
    want.insert(want.end(), s.begin(), s.end());
    ASSERT_EQ(got.size(), want.size());
    EXPECT_EQ(got, want);
    int32_t peak = 0;
    for (int16_t v : got) peak = std::max(peak, std::abs(int32_t{v}));
    EXPECT_GT(peak, 1000);  // the voices sound
}

TEST(ChipPairQueue, ZeroCountLeavesTheQueueAlone) {
    Pair q;
    q.p.queue().push(0, 0x40, 0x12);
    q.p.queue().push(0, 0x28, 0xF0);
    int16_t guard = 1234;
    q.p.renderWithQueue(&guard, 0);
    EXPECT_EQ(guard, 1234);
    EXPECT_EQ(q.p.queue().applyPos, 0);
    EXPECT_EQ(q.p.chip(0)->registerValue(0x40), 0);
}

TEST(ChipPairQueue, QueueDropsWritesPastTheFrameLimit) {
    RegisterWriteQueue queue;
    for (int i = 0; i < 20000; ++i) queue.push(0, 0x40, 1);
    EXPECT_EQ(queue.count, RegisterWriteQueue::kFrameLimit);
    queue.clear();
    EXPECT_EQ(queue.count, 0);
    EXPECT_EQ(queue.applyPos, 0);
}

// ---------------------------------------------------------------------------
// Chip output of one voice, rendered raw for comparison with the mixer.
std::vector<int32_t> rawVoice(int n) {
    auto chip = FmChip::create(kChipClock, kSampleRate);
    for (const auto& e : voiceWrites(0, 0, 4, 1059)) {
        chip->write(0, e.reg);
        chip->write(1, e.value);
    }
    chip->write(0, 0x28);
    chip->write(1, 0xF0);
    std::vector<int32_t> out(static_cast<size_t>(n));
    chip->render(out.data(), n, true);
    return out;
}

TEST(ChipPairMix, VolumeScalesWithArithmeticShift) {
    const auto raw = rawVoice(5000);
    for (int volume : {0, 1, 64, 128, 255}) {
        Pair a(volume);
        applyWrites(a.p, voiceWrites(0, 0, 4, 1059));
        a.p.writeRegister(0, 0x28, 0xF0);
        const auto out = mixOnly(a.p, 5000);
        bool clipped = false;
        for (size_t i = 0; i < out.size(); ++i) {
            int32_t v = (raw[i] * volume) >> 8;
            if (v > 32767 || v < -32767) clipped = true;
            v = std::clamp(v, -32767, 32767);
            ASSERT_EQ(out[i], v) << "volume " << volume << " sample " << i;
        }
        EXPECT_EQ(a.p.clipFlag.load(), clipped ? 1 : 0) << volume;
        if (volume == 0) {
            for (int16_t s : out) ASSERT_EQ(s, 0);
        }
    }
}

TEST(ChipPairMix, SaturatesAndRaisesTheClipFlagUntilCleared) {
    Pair a(255);
    for (int chip = 0; chip < 2; ++chip)
        for (int ch = 0; ch < 3; ++ch) {
            applyWrites(a.p, voiceWrites(static_cast<uint8_t>(chip), ch, 2, 1024));
            a.p.writeRegister(chip, 0x28, static_cast<uint8_t>(0xF0 | ch));
        }
    const auto out = mixOnly(a.p, 20000);
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 32767);
    EXPECT_EQ(*std::min_element(out.begin(), out.end()), -32767);  // never -32768
    EXPECT_EQ(a.p.clipFlag.load(), 1);
    a.p.clipFlag.store(0);
    a.p.setVolume(20);  // 6 * 32672 * 20 >> 8 = 15315: no clipping
    mixOnly(a.p, 20000);
    EXPECT_EQ(a.p.clipFlag.load(), 0);
    a.p.setVolume(255);
    mixOnly(a.p, 2000);
    EXPECT_EQ(a.p.clipFlag.load(), 1);
}

TEST(ChipPairMix, ChannelMaskAndAudition) {
    // Channel 4 (chip 1, channel 1) against the audition chip.
    auto setup = [](ChipPair& p, bool mainVoices, bool auditionVoice) {
        if (mainVoices) {
            applyWrites(p, voiceWrites(0, 0, 4, 1059));
            p.writeRegister(0, 0x28, 0xF0);
            applyWrites(p, voiceWrites(1, 0, 3, 1189));
            p.writeRegister(1, 0x28, 0xF0);
        }
        if (auditionVoice) {
            applyWrites(p, voiceWrites(2, 1, 5, 749));
            p.writeRegister(2, 0x28, 0xF1);
        }
    };
    Pair all, auditionOnly, chip1Only;
    setup(all.p, true, true);
    setup(auditionOnly.p, false, true);
    setup(chip1Only.p, false, false);
    applyWrites(chip1Only.p, voiceWrites(1, 0, 3, 1189));
    chip1Only.p.writeRegister(1, 0x28, 0xF0);

    all.p.setChannelMask(0);
    EXPECT_EQ(mixOnly(all.p, 3000), mixOnly(auditionOnly.p, 3000));

    // Export: audition off, all channels on; afterwards the mask returns.
    Pair e, ref;
    setup(e.p, true, true);
    setup(ref.p, true, false);
    e.p.setChannelMask(0x08);
    e.p.beginExport(true);
    EXPECT_EQ(e.p.channelMask(), 255);
    EXPECT_EQ(mixOnly(e.p, 3000), mixOnly(ref.p, 3000));
    e.p.endExport();
    EXPECT_EQ(e.p.channelMask(), 0x08);
    // Mask bit 3: only channel 4 and the audition chip remain.
    Pair only4;
    setup(only4.p, false, true);
    applyWrites(only4.p, voiceWrites(1, 0, 3, 1189));
    only4.p.writeRegister(1, 0x28, 0xF0);
    // Bring chip 1 to the same point, with the audition chip held as in the export.
    only4.p.beginExport(false);
    mixOnly(only4.p, 3000);
    only4.p.endExport();
    EXPECT_EQ(mixOnly(e.p, 2000), mixOnly(only4.p, 2000));

    Pair keep;
    keep.p.setChannelMask(0x05);
    keep.p.beginExport(false);
    EXPECT_EQ(keep.p.channelMask(), 0x05);
    keep.p.endExport();
    EXPECT_EQ(keep.p.channelMask(), 0x05);
}

TEST(ChipPairMix, LongRendersAreChunkedTransparently) {
    Pair a, b;
    for (Pair* x : {&a, &b}) {
        applyWrites(x->p, voiceWrites(0, 0, 4, 1059));
        x->p.writeRegister(0, 0x28, 0xF0);
        applyWrites(x->p, voiceWrites(1, 2, 2, 777));
        x->p.writeRegister(1, 0x28, 0xF2);
    }
    const auto whole = mixOnly(a.p, 10000);
    std::vector<int16_t> pieces;
    for (int n : {1, 2047, 2048, 2049, 882, 2973}) {
        const auto s = mixOnly(b.p, n);
        pieces.insert(pieces.end(), s.begin(), s.end());
    }
    EXPECT_EQ(whole, pieces);
}

TEST(ChipPairThreads, AuditionWritesWhileTheAudioThreadRenders) {
    // The user interface thread plays audition notes and changes the mask and
    // volume while the audio thread applies frames and renders.
    Pair a;
    std::atomic<bool> done{false};
    std::atomic<bool> uiStarted{false};
    std::thread audio([&] {
        std::vector<int16_t> out(kSamplesPerFrame);
        // Render only once the other thread is writing, so the two overlap
        // however the scheduler starts them.
        while (!uiStarted.load(std::memory_order_acquire)) std::this_thread::yield();
        for (int frame = 0; frame < 200; ++frame) {
            a.p.queue().clear();
            enqueue(a.p, voiceWrites(0, frame % 3, 3, 700 + frame));
            a.p.queue().push(0, 0x28, static_cast<uint8_t>(0xF0 | frame % 3));
            a.p.renderWithQueue(out.data(), kSamplesPerFrame);
        }
        done = true;
    });
    int n = 0;
    while (!done) {
        applyWrites(a.p, voiceWrites(2, n % 3, 4, 800 + n % 500));
        a.p.writeRegister(2, 0x28, static_cast<uint8_t>((n & 1 ? 0xF0 : 0x00) | n % 3));
        a.p.setChannelMask(static_cast<uint8_t>(n));
        a.p.setVolume(n % 256);
        ++n;
        uiStarted.store(true, std::memory_order_release);
    }
    audio.join();
    EXPECT_GT(n, 0);
    a.p.reset();
    for (int16_t s : mixOnly(a.p, 100)) ASSERT_EQ(s, 0);
}

// Chip 1 rendered on the second thread: frames with voices and key events
// on all six channels, calls that stop partway through the queue or span
// several mix buffers, plain mixes and a stop of the thread midway give the
// same samples and clip flag as one thread; so does a render in two steps.
TEST(ChipPairThreads, SecondRenderThreadGivesTheSameSamples) {
    Pair one(255), two(255);
    ASSERT_TRUE(two.p.startRenderThread());
    ASSERT_TRUE(two.p.renderThreadRunning());
    std::vector<int16_t> a, b;
    auto render = [&](int n, bool queue) {
        for (auto [pair, out] : {std::pair{&one, &a}, std::pair{&two, &b}}) {
            std::vector<int16_t> s(static_cast<size_t>(n));
            if (queue) pair->p.renderWithQueue(s.data(), n);
            else pair->p.renderMixOnly(s.data(), n);
            out->insert(out->end(), s.begin(), s.end());
        }
    };
    for (int frame = 0; frame < 40; ++frame) {
        for (Pair* x : {&one, &two}) {
            x->p.queue().clear();
            for (uint8_t chip = 0; chip < 2; ++chip)
                for (int ch = 0; ch < 3; ++ch) {
                    if ((frame + ch + chip) % 3 == 0) {
                        x->p.queue().push(chip, 0x28, static_cast<uint8_t>(ch));
                        enqueue(x->p, voiceWrites(chip, ch, 2 + (frame + ch) % 5, 600 + 37 * frame + 11 * ch));
                        x->p.queue().push(chip, 0x28, static_cast<uint8_t>(0xF0 | ch));
                    }
                    x->p.queue().push(chip, static_cast<uint8_t>(0x40 + ch), static_cast<uint8_t>(frame % 20));
                }
        }
        if (frame == 20) two.p.stopRenderThread();
        if (frame == 25) {
            ASSERT_TRUE(two.p.startRenderThread());
        }
        if (frame % 4 == 1) {
            render(3, true);  // stops inside the queue
            render(kSamplesPerFrame - 3, true);
        } else if (frame % 4 == 2) {
            render(2 * kSamplesPerFrame + 500, true);
        } else if (frame % 8 == 3) {
            // In two steps: more renders started than the thread holds, the
            // queue refilled between them, then a direct chip-1 write.
            for (auto [pair, out] : {std::pair{&one, &a}, std::pair{&two, &b}}) {
                std::vector<int16_t> s(kSamplesPerFrame);
                for (int at = 0; at < kSamplesPerFrame; at += 42) {
                    EXPECT_EQ(pair->p.startQueuedRender(s.data() + at, 42), 42);
                    if (at % 4 == 0) pair->p.queue().push(1, 0x40, static_cast<uint8_t>(at));
                    pair->p.queue().push(1, 0x28, 0xF1);
                }
                pair->p.writeRegister(1, 0x41, static_cast<uint8_t>(frame));
                pair->p.finishQueuedRender();
                out->insert(out->end(), s.begin(), s.end());
            }
        } else {
            render(kSamplesPerFrame, true);
            render(100, false);
        }
    }
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(a, b);
    EXPECT_EQ(one.p.clipFlag.load(), 1);
    EXPECT_EQ(two.p.clipFlag.load(), 1);
    two.p.endExport();
    EXPECT_FALSE(two.p.renderThreadRunning());
}

}  // namespace
}  // namespace qv
