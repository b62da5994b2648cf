// The frame-clocked sample source: renders mixed samples from the ChipPair and
// calls the Player's tick once every 882 samples. The audio thread pulls 1024
// samples a call, the wave renderer 8192. Also produces the test tone and the
// oscilloscope capture.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "sound/chip_pair.h"
#include "sound/player.h"

namespace qv {

class SampleSource {
public:
    SampleSource(Player& player, ChipPair& chips);

    void renderSamples(int16_t* output, int count);
    // frameSamplePos := 0 (the stream was opened anew).
    void restartFrameClock();

    std::atomic<bool> testSignalOn{false};

    // Samples already produced in the current frame.
    int frameSamplePos() const { return frameSamplePos_; }
    // Phase of the test tone, -1 <= phase < 1; 0 at start-up.
    float testPhase() const { return testPhase_; }

    // Oscilloscope. setupScope sizes both arrays to width + 1 points filled
    // with height / 2; the display array is refreshed every (width + 1) x 4
    // samples while scopeOn is set.
    void setupScope(int width, int height);
    std::atomic<bool> scopeOn{false};
    // Copies the display array (empty before setupScope).
    std::vector<int> scopeDisplay() const;

private:
    void capture(const int16_t* samples, int count);

    Player& player_;
    ChipPair& chips_;
    int frameSamplePos_ = 0;
    // The Player was playing at the last segment: a start since then (which
    // reset the chips) restarts the frame clock, so a song sounds the same
    // whenever it is started, and as the wave render has it.
    bool wasPlaying_ = false;
    // Renders up to count samples, at most to the end of the frame, without
    // finish. With split a queued render is only started (pending set): the
    // caller finishes it later.
    int segment(int16_t* output, int count, bool split, bool& pending);
    // The test tone and the scope over rendered samples.
    void finish(int16_t* output, int count);

    float testPhase_ = 0.0f;
    float testStep_ = 880.0f / static_cast<float>(kSampleRate);

    mutable std::mutex scopeMutex_;
    int scopeWidth_ = 0;
    int scopeHeight_ = 0;
    int scopeCounter_ = 0;
    std::vector<int> scopeCapture_;
    std::vector<int> scopeDisplay_;
};

}  // namespace qv
