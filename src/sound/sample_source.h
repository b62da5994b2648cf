// The frame-clocked sample source: renders mixed samples from the ChipPair and
// calls the Player's tick once every 882 samples. The audio thread pulls 1024
// samples a call, the wave renderer 8192. Also produces the test tone and the
// oscilloscope capture.
#pragma once

#include <atomic>
#include <cstdint>
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
    // (the implementation adds test tone and scope state)
private:
    Player& player_;
    ChipPair& chips_;
    int frameSamplePos_ = 0;
};

}  // namespace qv
