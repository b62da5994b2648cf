// Player::tick on a dense pattern: every row of all six channels carries a
// note, an instrument, a volume and an effect, at speed 1.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

#include "sound/player.h"

namespace {

using namespace qv;

std::unique_ptr<Song> denseSong() {
    auto song = std::make_unique<Song>();
    for (int i = 1; i <= 16; ++i) {
        Instrument& ins = song->instrument(i);
        for (int k = 0; k < 4; ++k) {
            Operator& op = ins.operators[k];
            op.TL = (i * 7 + k * 13) & 63;
            op.MULT = (i + k) & 15;
            op.DT = (i + k) % 7 - 3;
            op.AR = 31;
            op.DR = i & 31;
            op.SR = k * 3;
            op.RR = 8;
            op.SL = 5;
        }
        ins.algorithm = i & 7;
        ins.FB = (i >> 1) & 7;
    }
    // Effects that keep the frame work busy and never stop the song.
    const int effects[][2] = {{0, 0x37}, {1, 0x04}, {2, 0x03}, {3, 0x10}, {4, 0x48}, {5, 0x21},
                              {6, 0x12}, {10, 0x31}, {8, 0x20}, {9, 0x18}, {12, 0x30}, {13, 0x08},
                              {14, 0x92}, {14, 0x15}, {14, 0xF3}, {11, 0x47}, {11, 0x00}};
    const int nEffects = sizeof effects / sizeof effects[0];
    Pattern& p = song->patterns[0];
    p.length = 256;
    for (int r = 0; r < 256; ++r) {
        for (int c = 0; c < kChannels; ++c) {
            Cell& cell = p.rows[r][c];
            cell.setPitch((r * 5 + c * 7) % 96);
            cell.instrument = static_cast<int16_t>(1 + (r + c) % 16);
            cell.volume = static_cast<int8_t>(1 + (r * 3 + c) % 31);
            const auto& e = effects[(r + c * 3) % nEffects];
            cell.effect = static_cast<int8_t>(e[0]);
            cell.param = static_cast<uint8_t>(e[1]);
        }
    }
    song->speedEven = song->speedOdd = 1;
    return song;
}

void BM_PlayerTickDense(benchmark::State& state) {
    auto song = denseSong();
    auto chips = std::make_unique<ChipPair>();
    chips->create(kSampleRate, kChipClock, 128);
    Player player(*song, *chips);
    player.songLengthFrames();
    player.start(0, 0, false, false, false, -1);
    int64_t writes = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(player.tick());
        writes += chips->queue().count;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
    state.counters["writes/frame"] =
        static_cast<double>(writes) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
}
BENCHMARK(BM_PlayerTickDense);

void BM_SongLengthFrames(benchmark::State& state) {
    auto song = denseSong();
    song->order.length = 256;
    ChipPair chips;
    Player player(*song, chips);
    for (auto _ : state) benchmark::DoNotOptimize(player.songLengthFrames());
}
BENCHMARK(BM_SongLengthFrames);

}  // namespace
