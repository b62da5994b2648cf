// The Player driving the emulated chips frame by frame, as the audio thread
// does: a note is heard, and after its key-off and release it is gone.
#include <algorithm>
#include <cstdlib>

#include "sound/test_player_support.h"

namespace qvtest {
namespace {

class PlayerRender : public PlayerTest {
protected:
    // Largest absolute sample of one 882-sample frame after a tick.
    int renderFrame() {
        player->tick();
        std::array<int16_t, kSamplesPerFrame> out{};
        chips.renderWithQueue(out.data(), kSamplesPerFrame);
        int peak = 0;
        for (int16_t s : out) peak = std::max(peak, std::abs(static_cast<int>(s)));
        return peak;
    }
    void organ(int n) {
        Instrument& ins = song->instrument(n);
        ins = Instrument{};
        for (Operator& op : ins.operators) {
            op.TL = 0;
            op.MULT = 1;
            op.AR = 31;
            op.RR = 15;
        }
        ins.algorithm = 7;
    }
};

TEST_F(PlayerRender, OneNoteSoundsUntilItsKeyOffAndRelease) {
    organ(1);
    song->speedEven = song->speedOdd = 3;
    cell(0, 4) = noteCell(9, 4, 1, 31);  // A-4 on the second chip
    cell(8, 4) = keyOffCell();
    startPlaying();
    std::vector<int> peaks;
    for (int i = 0; i < 60; ++i) peaks.push_back(renderFrame());
    for (int i = 1; i < 24; ++i) EXPECT_GT(peaks[i], 1000) << "frame " << i;
    for (int i = 40; i < 60; ++i) EXPECT_LT(peaks[i], 16) << "frame " << i;
}

TEST_F(PlayerRender, VolumeOneAndChannelMaskSilenceTheNote) {
    organ(1);
    song->speedEven = song->speedOdd = 1;
    cell(0, 0) = noteCell(0, 4, 1, 1);
    cell(4, 0) = effectCell(0, 0, 31);
    startPlaying();
    int quiet = 0, loud = 0;
    for (int i = 0; i < 4; ++i) quiet = std::max(quiet, renderFrame());
    for (int i = 0; i < 4; ++i) loud = std::max(loud, renderFrame());
    EXPECT_LT(quiet, 16);
    EXPECT_GT(loud, 1000);
    chips.setChannelMask(0xFE);
    int masked = 0;
    for (int i = 0; i < 4; ++i) masked = std::max(masked, renderFrame());
    EXPECT_LT(masked, 16);
}

}  // namespace
}  // namespace qvtest
