// The song document on a full song (256 patterns of 256 rows, every cell a
// note): undo and redo of a whole-track transpose, and how long a save keeps
// the song lock from the audio thread.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>

#include "document/song_document.h"
#include "song/edit_ops.h"
#include "sound/chip_pair.h"
#include "sound/player.h"

namespace {

struct Rig {
    std::unique_ptr<qv::Song> song = std::make_unique<qv::Song>();
    qv::ChipPair chips;
    qv::Player player{*song, chips};
    qv::SongDocument doc{*song, player};
    Rig() {
        std::mt19937 rng(2024);
        song->clear();
        for (auto& p : song->patterns) {
            p.length = qv::kRows;
            for (auto& row : p.rows)
                for (auto& c : row) {
                    c.setPitch(24 + static_cast<int>(rng() % 48));
                    c.volume = static_cast<int8_t>(rng() % 32);
                    c.instrument = static_cast<int16_t>(1 + rng() % 255);
                }
        }
        song->order.length = qv::kOrderEntries;
        for (int i = 0; i < qv::kOrderEntries; ++i) song->order.entries[i].pattern = static_cast<uint8_t>(i);
        doc.refreshTiming();
    }
    void transposeTrack() {
        doc.edit("Transpose", qv::SongChange::allPatterns(), [](qv::Song& s) {
            for (int p = 0; p < qv::kPatterns; ++p)
                qv::transposeBlock(s, 0, qv::Block{p, 0, 0, qv::kChannels, qv::kRows}, 1, 0, false);
        });
    }
};

void BM_UndoWholeTrackTranspose(benchmark::State& state) {
    Rig rig;
    rig.transposeTrack();
    for (auto _ : state) {
        rig.doc.undo();
        state.PauseTiming();
        rig.doc.redo();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_UndoWholeTrackTranspose)->Unit(benchmark::kMillisecond);

void BM_RedoWholeTrackTranspose(benchmark::State& state) {
    Rig rig;
    rig.transposeTrack();
    for (auto _ : state) {
        state.PauseTiming();
        rig.doc.undo();
        state.ResumeTiming();
        rig.doc.redo();
    }
}
BENCHMARK(BM_RedoWholeTrackTranspose)->Unit(benchmark::kMillisecond);

// The edit itself (snapshot, change, compare), for comparison.
void BM_EditWholeTrackTranspose(benchmark::State& state) {
    Rig rig;
    for (auto _ : state) rig.transposeTrack();
}
BENCHMARK(BM_EditWholeTrackTranspose)->Unit(benchmark::kMillisecond);

// max_lock_hold_us: the longest single hold of the song lock during a save,
// as the document times it. A second thread meanwhile takes and releases the
// lock in a loop, as the audio thread does once a frame; max_lock_wait_us is
// its longest wait (on a loaded machine it also counts time the thread was
// not scheduled).
void BM_SaveLockHold(benchmark::State& state) {
    Rig rig;
    const auto path = std::filesystem::temp_directory_path() / "bench_document_save.qze";
    double longest = 0, longestHold = 0;
    for (auto _ : state) {
        std::atomic<bool> done{false};
        std::atomic<int64_t> maxWaitNs{0};
        std::thread prober([&] {
            while (!done.load(std::memory_order_acquire)) {
                const auto t0 = std::chrono::steady_clock::now();
                { std::lock_guard<std::mutex> lock(rig.player.songMutex()); }
                const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::steady_clock::now() - t0).count();
                if (ns > maxWaitNs.load()) maxWaitNs.store(ns);
                std::this_thread::yield();
            }
        });
        rig.doc.resetLockStats();
        benchmark::DoNotOptimize(rig.doc.save(path));
        longestHold = std::max(longestHold, rig.doc.longestLockHoldNs() / 1000.0);
        done.store(true, std::memory_order_release);
        prober.join();
        longest = std::max(longest, maxWaitNs.load() / 1000.0);
    }
    state.counters["max_lock_wait_us"] = longest;
    state.counters["max_lock_hold_us"] = longestHold;
    std::filesystem::remove(path);
}
BENCHMARK(BM_SaveLockHold)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
