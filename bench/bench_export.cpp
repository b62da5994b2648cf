// Export speed on two songs: a dense three-minute song (six channels with a
// note on every row and running effects, 47 order entries of 64 rows at
// speed 3), and a random stress song whose every channel has a note, an
// instrument of random settings, a volume and an effect on every row.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "io/register_dump.h"
#include "io/vgm_export.h"
#include "io/wav_export.h"
#include "song/song.h"
#include "sound/chip_pair.h"
#include "sound/player.h"
#include "sound/sample_source.h"

namespace {

struct Dense {
    std::unique_ptr<qv::Song> song = std::make_unique<qv::Song>();
    std::unique_ptr<qv::ChipPair> chips = std::make_unique<qv::ChipPair>();
    std::unique_ptr<qv::Player> player;
    int frames = 0;

    // random: the stress song from a fixed seed instead of the dense one.
    explicit Dense(bool random = false) {
        song->clear();
        if (random) {
            fillRandom();
            return;
        }
        chips->create(qv::kSampleRate, qv::kChipClock, 128);
        for (int i = 1; i <= 4; ++i) {
            qv::Instrument& in = song->instrument(i);
            in.algorithm = i + 2;
            in.FB = i;
            for (int op = 0; op < 4; ++op) {
                in.operators[op].TL = 10 + 8 * op;
                in.operators[op].MULT = 1 + op;
                in.operators[op].AR = 31;
                in.operators[op].DR = 5 + op;
                in.operators[op].RR = 8;
                in.operators[op].SL = 3;
            }
        }
        song->speedEven = song->speedOdd = 3;
        song->order.length = 47;
        for (int e = 0; e < 47; ++e) song->order.entries[e].pattern = static_cast<uint8_t>(e % 16);
        for (int p = 0; p < 16; ++p) {
            song->patterns[p].length = 64;
            for (int r = 0; r < 64; ++r)
                for (int c = 0; c < qv::kChannels; ++c) {
                    qv::Cell& cell = song->patterns[p].rows[r][c];
                    cell.setPitch(24 + (r * 7 + c * 5 + p) % 48);
                    cell.instrument = static_cast<int16_t>(1 + (r + c) % 4);
                    cell.volume = static_cast<int8_t>(10 + (r + c) % 20);
                    cell.effect = static_cast<int8_t>((r + c) % 5);
                    cell.param = static_cast<uint8_t>(0x23 + r % 16);
                }
        }
        start();
    }
    void start() {
        player = std::make_unique<qv::Player>(*song, *chips);
        std::lock_guard<std::mutex> lock(player->songMutex());
        frames = player->songLengthFrames();
    }
    // 32 random instruments (every algorithm, feedback, rate, level, SSG-EG),
    // 48 order entries of 64-row patterns at speed 3, every cell filled.
    void fillRandom() {
        chips->create(qv::kSampleRate, qv::kChipClock, 128);
        std::mt19937 rng(20240613);
        auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
        for (int i = 1; i <= 32; ++i) {
            qv::Instrument& in = song->instrument(i);
            in.algorithm = pick(8);
            in.FB = pick(8);
            for (qv::Operator& op : in.operators) {
                op.MULT = pick(16);
                op.DT = pick(7) - 3;
                op.TL = pick(4) == 0 ? pick(128) : pick(48);
                op.RS = pick(4);
                op.AR = 10 + pick(22);
                op.DR = pick(32);
                op.SR = pick(32);
                op.RR = pick(16);
                op.SL = pick(16);
                op.SSGEG = pick(6) == 0 ? 8 + pick(8) : 0;
            }
        }
        song->speedEven = song->speedOdd = 3;
        song->order.length = 48;
        for (int e = 0; e < 48; ++e) song->order.entries[e].pattern = static_cast<uint8_t>(e % 24);
        for (int p = 0; p < 24; ++p) {
            song->patterns[p].length = 64;
            for (int r = 0; r < 64; ++r)
                for (int c = 0; c < qv::kChannels; ++c) {
                    qv::Cell& cell = song->patterns[p].rows[r][c];
                    cell.setPitch(12 + pick(72));
                    cell.instrument = static_cast<int16_t>(1 + pick(32));
                    cell.volume = static_cast<int8_t>(1 + pick(31));
                    // Any effect but the speed change and the pattern loop,
                    // so the song keeps its length.
                    cell.effect = static_cast<int8_t>(pick(15));
                    cell.param = static_cast<uint8_t>(pick(256));
                    if (cell.effect == 14 && (cell.param & 0xF0) == 0x60) cell.param ^= 0x10;
                }
        }
        start();
    }
    ~Dense() {
        player.reset();
        chips->destroy();
    }
};

std::string target(const char* name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

void BM_WaveRender(benchmark::State& state) {
    Dense d(state.range(0) != 0);
    qv::SampleSource source(*d.player, *d.chips);
    std::string path = target("qv_bench.wav");
    for (auto _ : state) {
        if (!qv::renderWave(*d.player, *d.chips, source, path, true, nullptr, static_cast<int>(state.range(1))))
            state.SkipWithError("render failed");
    }
    state.counters["song_seconds"] = d.frames / 50.0;
    state.counters["x_realtime"] = benchmark::Counter(d.frames / 50.0, benchmark::Counter::kIsIterationInvariantRate);
    std::filesystem::remove(path);
}
// First argument 0: the dense song; 1: the random stress song. Second: render
// threads (2 renders the two chips at once). Wall time, so x_realtime is
// the speed a user sees. Five runs each, for a median on a shared machine.
BENCHMARK(BM_WaveRender)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(5)
    ->UseRealTime();

void BM_VgmExport(benchmark::State& state) {
    Dense d;
    std::string path = target("qv_bench.vgm");
    for (auto _ : state) {
        if (!qv::exportVgm(*d.player, *d.chips, *d.song, path)) state.SkipWithError("export failed");
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
}
BENCHMARK(BM_VgmExport)->Unit(benchmark::kMillisecond);

void BM_QzdExport(benchmark::State& state) {
    Dense d;
    std::string path = target("qv_bench.qzd");
    for (auto _ : state) {
        if (!qv::exportRegisterDump(*d.player, *d.chips, *d.song, path, qv::kChipClock))
            state.SkipWithError("export failed");
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
}
BENCHMARK(BM_QzdExport)->Unit(benchmark::kMillisecond);

// The six per-channel files of the song; the target is less than six times
// one mixed render (BM_WaveRender). Arg: render threads (0 = one per core).
void BM_WaveStems(benchmark::State& state) {
    Dense d;
    const auto paths = qv::stemPaths(target("qv_bench_stems.wav"));
    const int threads =
        state.range(0) > 0 ? static_cast<int>(state.range(0)) : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    for (auto _ : state) {
        if (!qv::renderStems(*d.song, 128, paths, threads)) state.SkipWithError("render failed");
    }
    state.counters["threads"] = threads;
    for (const auto& p : paths) std::filesystem::remove(p);
}
BENCHMARK(BM_WaveStems)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime()->MeasureProcessCPUTime();

// The VGM for the two YM2203; the target is under 20 ms.
void BM_Vgm2203Export(benchmark::State& state) {
    Dense d;
    std::string path = target("qv_bench.2203.vgm");
    for (auto _ : state) {
        if (!qv::exportVgm2203(*d.player, *d.chips, *d.song, path)) state.SkipWithError("export failed");
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
}
BENCHMARK(BM_Vgm2203Export)->Unit(benchmark::kMillisecond);

// Counting the pass (the length a wave render and the time display use);
// it runs after every edit that changes timing: a few milliseconds at most.
void BM_PassFrames(benchmark::State& state) {
    Dense d;
    int frames = 0;
    for (auto _ : state) {
        std::lock_guard<std::mutex> lock(d.player->songMutex());
        frames = d.player->passFrames();
        benchmark::DoNotOptimize(frames);
    }
    state.counters["frames"] = frames;
}
BENCHMARK(BM_PassFrames)->Unit(benchmark::kMicrosecond);

}  // namespace
