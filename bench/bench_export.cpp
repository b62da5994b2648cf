// Export speed on a dense three-minute song: six channels with a note on
// every row and running effects, 47 order entries of 64 rows at speed 3.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>

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

    Dense() {
        song->clear();
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
        player = std::make_unique<qv::Player>(*song, *chips);
        std::lock_guard<std::mutex> lock(player->songMutex());
        frames = player->songLengthFrames();
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
    Dense d;
    qv::SampleSource source(*d.player, *d.chips);
    std::string path = target("qv_bench.wav");
    for (auto _ : state) {
        if (!qv::renderWave(*d.player, *d.chips, source, path, true)) state.SkipWithError("render failed");
    }
    state.counters["song_seconds"] = d.frames / 50.0;
    state.counters["x_realtime"] = benchmark::Counter(d.frames / 50.0, benchmark::Counter::kIsIterationInvariantRate);
    std::filesystem::remove(path);
}
BENCHMARK(BM_WaveRender)->Unit(benchmark::kMillisecond)->Iterations(3);

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

}  // namespace
