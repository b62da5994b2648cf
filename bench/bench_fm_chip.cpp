// FM emulation speed: one chip with three channels sounding, and the chip
// pair mixing both chips (six channels) in 882-sample frames. The counters
// report samples per second and the multiple of real time (44 100 samples/s).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "sound/chip_pair.h"
#include "sound/fm_chip.h"

namespace {

constexpr int kOpOffset[4] = {0x0, 0x8, 0x4, 0xC};

// A full, sustained voice: every operator at a moderate level with attack,
// decay to a sustain level, slow second decay, feedback 5 on operator 1.
template <typename Write>
void voice(Write&& w, int ch, int algorithm, int block, int fnum) {
    w(0xB0 + ch, algorithm | 5 << 3);
    for (int k = 0; k < 4; ++k) {
        const int o = kOpOffset[k] + ch;
        w(0x30 + o, (k + 1) | (k % 4) << 4);
        w(0x40 + o, k == 3 ? 0 : 24 + 4 * k);
        w(0x50 + o, 28 | 1 << 6);
        w(0x60 + o, 6);
        w(0x70 + o, 0);  // no second decay: the voice sustains for the whole run
        w(0x80 + o, 0x3 << 4 | 7);
    }
    w(0xA4 + ch, block << 3 | fnum >> 8);
    w(0xA0 + ch, fnum & 0xFF);
    w(0x28, 0xF0 | ch);
}

void reportRate(benchmark::State& state, int64_t samples) {
    state.counters["samples/s"] = benchmark::Counter(static_cast<double>(samples), benchmark::Counter::kIsRate);
    state.counters["x realtime"] =
        benchmark::Counter(static_cast<double>(samples) / 44100.0, benchmark::Counter::kIsRate);
}

void BM_FmChipRender(benchmark::State& state) {
    const int algorithm = static_cast<int>(state.range(0));
    auto chip = qv::FmChip::create(3500000, 44100);
    auto w = [&](int r, int v) {
        chip->write(0, static_cast<uint8_t>(r));
        chip->write(1, static_cast<uint8_t>(v));
    };
    for (int ch = 0; ch < 3; ++ch) voice(w, ch, algorithm, 3 + ch, 900 + 77 * ch);
    std::vector<int32_t> buf(882);
    int64_t samples = 0;
    for (auto _ : state) {
        chip->render(buf.data(), 882, true);
        benchmark::DoNotOptimize(buf.data());
        samples += 882;
    }
    reportRate(state, samples);
}
BENCHMARK(BM_FmChipRender)->Arg(7)->Arg(0)->Arg(4);

void BM_ChipPairSixChannels(benchmark::State& state) {
    auto pair = std::make_unique<qv::ChipPair>();
    pair->create(44100, 3500000, 128);
    for (int chip = 0; chip < 2; ++chip) {
        auto w = [&](int r, int v) { pair->writeRegister(chip, static_cast<uint8_t>(r), static_cast<uint8_t>(v)); };
        for (int ch = 0; ch < 3; ++ch) voice(w, ch, chip ? 4 : 7, 3 + ch, 800 + 90 * ch + 45 * chip);
    }
    std::vector<int16_t> out(882);
    int64_t samples = 0;
    for (auto _ : state) {
        pair->queue().clear();  // a frame without writes, as between notes
        pair->renderWithQueue(out.data(), 882);
        benchmark::DoNotOptimize(out.data());
        samples += 882;
    }
    reportRate(state, samples);
}
BENCHMARK(BM_ChipPairSixChannels);

// As above, but like a song: every channel is keyed off and on again every
// eighth frame through the queue, and the envelopes keep moving (second decay
// and release), so envelope ticks interrupt the channel loops.
void BM_ChipPairSixChannelsPlaying(benchmark::State& state) {
    auto pair = std::make_unique<qv::ChipPair>();
    pair->create(44100, 3500000, 128);
    for (int chip = 0; chip < 2; ++chip) {
        auto w = [&](int r, int v) { pair->writeRegister(chip, static_cast<uint8_t>(r), static_cast<uint8_t>(v)); };
        for (int ch = 0; ch < 3; ++ch) {
            voice(w, ch, chip ? 4 : 7, 3 + ch, 800 + 90 * ch + 45 * chip);
            for (int k = 0; k < 4; ++k) w(0x70 + kOpOffset[k] + ch, 9);
        }
    }
    std::vector<int16_t> out(882);
    int64_t samples = 0;
    int frame = 0;
    for (auto _ : state) {
        auto& q = pair->queue();
        q.clear();
        if (frame % 8 == 0) {
            for (uint8_t chip = 0; chip < 2; ++chip)
                for (uint8_t ch = 0; ch < 3; ++ch) {
                    q.push(chip, 0x28, ch);
                    q.push(chip, 0x28, static_cast<uint8_t>(0xF0 | ch));
                }
        }
        ++frame;
        pair->renderWithQueue(out.data(), 882);
        benchmark::DoNotOptimize(out.data());
        samples += 882;
    }
    reportRate(state, samples);
}
BENCHMARK(BM_ChipPairSixChannelsPlaying);

}  // namespace
