// The frame-clocked sample source: tick placement, the test tone, the scope
// capture and the export-driving rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "io/export_rig.h"
#include "sound/sample_source.h"

using namespace qv;
using qvtest::ExportRig;

namespace {

// A song whose every row has a note somewhere, speed 1: one tick per row.
void busySong(ExportRig& rig) {
    rig.sineInstrument(1);
    rig.layout({64}, 0, 1);
    for (int r = 0; r < 64; ++r) rig.note(0, r, r % 6, r % 12, 3 + r % 3);
}

}  // namespace

TEST(SampleSource, TicksOnceEvery882SamplesAcrossCallSizes) {
    ExportRig rig;
    busySong(rig);
    SampleSource source(*rig.player, *rig.chips);
    rig.player->start(0, 0, false, false, false, -1);
    std::vector<int16_t> buf(5000);
    int produced = 0;
    for (int n : {100, 781, 1, 881, 1024, 1764, 5, 1000}) {
        source.renderSamples(buf.data(), n);
        produced += n;
        EXPECT_EQ(rig.player->position().row, produced / 882) << "after " << produced;
        EXPECT_EQ(source.frameSamplePos(), produced % 882);
        EXPECT_FALSE(rig.player->renderBusy.load());
    }
    source.restartFrameClock();
    EXPECT_EQ(source.frameSamplePos(), 0);
    rig.player->stop();
}

TEST(SampleSource, FrameWritesAreAppliedAtTheStartOfTheFrame) {
    // Rendering through the source equals rendering 882 samples and ticking
    // by hand, whatever the call sizes.
    ExportRig a, b;
    busySong(a);
    busySong(b);
    SampleSource source(*a.player, *a.chips);
    a.player->start(0, 0, false, false, false, -1);
    b.player->start(0, 0, false, false, false, -1);
    const int frames = 20;
    std::vector<int16_t> viaSource(frames * 882), byHand(frames * 882);
    int at = 0;
    for (int n = 1; at < frames * 882; n = n * 3 % 2000 + 1) {
        int take = std::min(n, frames * 882 - at);
        source.renderSamples(viaSource.data() + at, take);
        at += take;
    }
    for (int f = 0; f < frames; ++f) {
        b.chips->renderWithQueue(byHand.data() + f * 882, 882);
        std::lock_guard<std::mutex> lock(b.player->songMutex());
        b.player->tick();
    }
    EXPECT_EQ(viaSource, byHand);
    int loud = 0;
    for (int16_t s : viaSource) loud += std::abs(s) > 1000;
    EXPECT_GT(loud, 1000);  // the song is audible, so the comparison means something
    a.player->stop();
    b.player->stop();
}

// A song started in the middle of a frame (the stream runs all the time)
// sounds exactly as one started with the frame clock: the first tick comes a
// whole frame after the start, as in the wave render.
TEST(SampleSource, SongStartedMidFrameSoundsAsRendered) {
    ExportRig live, render;
    busySong(live);
    busySong(render);
    SampleSource running(*live.player, *live.chips), fresh(*render.player, *render.chips);
    std::vector<int16_t> idle(1300), a(20 * 882), b(20 * 882);
    running.renderSamples(idle.data(), 1300);  // 418 samples into a frame
    live.player->start(0, 0, false, false, false, -1);
    render.player->start(0, 0, false, false, false, -1);
    for (int at = 0; at < 20 * 882; at += 1024) {
        running.renderSamples(a.data() + at, std::min(1024, 20 * 882 - at));
        fresh.renderSamples(b.data() + at, std::min(1024, 20 * 882 - at));
    }
    EXPECT_EQ(a, b);
    EXPECT_GT(std::count_if(a.begin(), a.end(), [](int16_t v) { return std::abs(v) > 1000; }), 1000);
    live.player->stop();
    render.player->stop();
}

TEST(SampleSource, TestToneReplacesTheOutputAndKeepsItsPhase) {
    ExportRig rig;
    busySong(rig);
    SampleSource source(*rig.player, *rig.chips);
    rig.player->start(0, 0, false, false, false, -1);
    source.testSignalOn = true;
    std::vector<int16_t> tone(4410);
    for (int i = 0; i < 4410; i += 441) source.renderSamples(tone.data() + i, 441);
    EXPECT_EQ(tone[0], 16384);
    // The phase runs in single precision.
    float phase = 0;
    for (int i = 0; i < 4410; ++i) {
        double x2 = static_cast<double>(phase) * phase;
        EXPECT_NEAR(tone[i], (x2 * (2 * x2 - 4) + 1) * 16384, 1.5) << i;
        phase += 880.0f / 44100.0f;
        if (phase >= 1.0f) phase -= 2.0f;
    }
    // 440 Hz: 44 positive-going zero crossings in 0.1 s.
    int crossings = 0;
    for (int i = 1; i < 4410; ++i) crossings += tone[i - 1] < 0 && tone[i] >= 0;
    EXPECT_NEAR(crossings, 44, 1);
    source.testSignalOn = false;
    source.renderSamples(tone.data(), 882);
    EXPECT_NE(tone[100], 16384);
    rig.player->stop();
}

TEST(SampleSource, ScopeCapturesEveryFourthSample) {
    ExportRig rig;
    SampleSource source(*rig.player, *rig.chips);
    source.setupScope(9, 100);  // 10 points, refreshed every 40 samples
    EXPECT_EQ(source.scopeDisplay(), std::vector<int>(10, 50));
    source.scopeOn = true;
    source.testSignalOn = true;
    std::vector<int16_t> buf(40);
    source.renderSamples(buf.data(), 39);
    EXPECT_EQ(source.scopeDisplay(), std::vector<int>(10, 50));  // not yet complete
    source.renderSamples(buf.data() + 39, 1);
    std::vector<int> display = source.scopeDisplay();
    ASSERT_EQ(display.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        int y = std::clamp(50 + ((100 * buf[4 * i]) >> 15), 0, 99);
        EXPECT_EQ(display[i], y) << i;
    }
    EXPECT_EQ(display[0], 99);  // full positive sample: held at the bottom edge
}

TEST(SampleSource, ExportDrivingLeavesTicksAndQueueToTheExporter) {
    ExportRig rig;
    busySong(rig);
    SampleSource source(*rig.player, *rig.chips);
    rig.player->start(0, 0, false, false, false, -1);
    {
        std::lock_guard<std::mutex> lock(rig.player->songMutex());
        rig.player->tick();  // row 0 queued: key events and instrument load
    }
    const int queued = rig.chips->queue().count;
    ASSERT_GT(queued, 0);
    rig.player->exportDriving = true;
    std::vector<int16_t> buf(3000);
    source.renderSamples(buf.data(), 3000);
    EXPECT_EQ(rig.player->position().row, 1);        // no tick
    EXPECT_EQ(rig.chips->queue().count, queued);     // queue untouched
    EXPECT_EQ(rig.chips->queue().applyPos, 0);
    EXPECT_EQ(source.frameSamplePos(), 3000 % 882);  // the frame clock runs on
    rig.player->exportDriving = false;
    source.renderSamples(buf.data(), 882);
    EXPECT_EQ(rig.player->position().row, 2);
    rig.player->stop();
}
