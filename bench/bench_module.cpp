// Saving and loading a stress module: every pattern 256 rows long and filled
// with random cells, every instrument random.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "song/module_file.h"

namespace {

std::unique_ptr<qv::Song> stressSong() {
    std::mt19937 rng(2024);
    auto r = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
    auto s = std::make_unique<qv::Song>();
    s->clear();
    for (auto& p : s->patterns) {
        p.length = 256;
        for (auto& row : p.rows)
            for (auto& c : row) {
                c.setPitch(r(0, 95));
                c.volume = static_cast<int8_t>(r(0, 31));
                c.effect = static_cast<int8_t>(r(0, 15));
                c.param = static_cast<uint8_t>(r(0, 255));
                c.instrument = static_cast<int16_t>(r(1, 255));
            }
    }
    for (auto& ins : s->instruments) {
        ins.algorithm = r(0, 7);
        ins.FB = r(0, 7);
        for (auto& op : ins.operators) op = qv::Operator{r(0, 15), r(-3, 3), r(0, 127), r(0, 3), r(0, 31),
                                                          r(0, 31), r(0, 31), r(0, 15), r(0, 15), 0};
        ins.setName("ins" + std::to_string(r(0, 9999)));
    }
    s->order.length = 256;
    for (int i = 0; i < 256; ++i) s->order.entries[i].pattern = static_cast<uint8_t>(i);
    return s;
}

std::filesystem::path benchFile() {
    return std::filesystem::temp_directory_path() / "qv_bench_module.qze";
}

void BM_PackAndWrite(benchmark::State& state) {
    auto song = stressSong();
    const auto path = benchFile();
    for (auto _ : state) {
        if (!qv::saveModule(*song, path)) state.SkipWithError("save failed");
    }
    state.counters["packed_bytes"] = static_cast<double>(std::filesystem::file_size(path));
}
BENCHMARK(BM_PackAndWrite)->Unit(benchmark::kMillisecond);

void BM_ReadAndUnpack(benchmark::State& state) {
    auto song = stressSong();
    const auto path = benchFile();
    qv::saveModule(*song, path);
    auto loaded = std::make_unique<qv::Song>();
    for (auto _ : state) {
        if (qv::loadModule(*loaded, path) != qv::kModuleLoaded) state.SkipWithError("load failed");
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_ReadAndUnpack)->Unit(benchmark::kMillisecond);

void BM_PackInMemory(benchmark::State& state) {
    auto song = stressSong();
    for (auto _ : state) benchmark::DoNotOptimize(qv::packModule(*song));
}
BENCHMARK(BM_PackInMemory)->Unit(benchmark::kMillisecond);

void BM_PackEmptySong(benchmark::State& state) {
    auto song = std::make_unique<qv::Song>();
    song->clear();
    size_t size = 0;
    for (auto _ : state) size = qv::packModule(*song).size();
    state.counters["packed_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_PackEmptySong)->Unit(benchmark::kMillisecond);

}  // namespace
