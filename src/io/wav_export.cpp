#include "io/wav_export.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

#include "sound/chip_pair.h"
#include "sound/player.h"
#include "song/song.h"
#include "sound/sample_source.h"

namespace qv {

namespace {

void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Rewrites the two length fields for the samples actually written.
bool patchLengths(std::FILE* f, uint32_t samples) {
    uint8_t field[4];
    put32(field, 36 + samples * 2);
    if (std::fseek(f, 4, SEEK_SET) != 0 || std::fwrite(field, 1, 4, f) != 4) return false;
    put32(field, samples * 2);
    if (std::fseek(f, 40, SEEK_SET) != 0 || std::fwrite(field, 1, 4, f) != 4) return false;
    return std::fflush(f) == 0;
}

}  // namespace

int64_t waveSampleCount(int songFrames) {
    return static_cast<int64_t>(kSampleRate) * (songFrames + wav::kTailFrames) / kFramesPerSecond;
}

std::array<uint8_t, wav::kHeaderSize> waveHeader(uint32_t samples) {
    std::array<uint8_t, wav::kHeaderSize> h{};
    uint8_t* p = h.data();
    std::copy_n("RIFF", 4, p);
    put32(p + 4, 36 + samples * 2);
    std::copy_n("WAVEfmt ", 8, p + 8);
    put32(p + 16, 16);
    put16(p + 20, 1);
    put16(p + 22, 1);
    put32(p + 24, kSampleRate);
    put32(p + 28, kSampleRate * 2);
    put16(p + 32, 2);
    put16(p + 34, 16);
    std::copy_n("data", 4, p + 36);
    put32(p + 40, samples * 2);
    return h;
}

void WaveFade::apply(int16_t* block, int count, int64_t firstSample) {
    if (firstSample <= fadeStart_ - wav::kBlockSamples) return;
    const double step = 1.0 / wav::kFadeSamples;
    for (int i = 0; i < count; ++i) {
        block[i] = static_cast<int16_t>(block[i] * gain_);
        gain_ -= step;
        if (gain_ < 0) gain_ = 0;
    }
}

namespace {

struct PassOutcome {
    bool ok = false;
    bool cancelled = false;
};

// The render loop of one file. beforeBlock(blocks) runs before each block,
// with the count of whole blocks of the file (samples div 8192), and ends
// the render (cancelled) when it returns false. With secondThread the chips
// render chip 1 on a thread of their own.
PassOutcome renderPass(Player& player, ChipPair& chips, SampleSource& source, const std::string& path,
                       bool allChannels, const std::function<bool(int64_t)>& beforeBlock,
                       bool secondThread = false) {
    PassOutcome outcome;
    int frames;
    {
        std::lock_guard<std::mutex> lock(player.songMutex());
        // The pass the exporters record, pattern loops included.
        frames = player.passFrames();
    }
    const int64_t total = waveSampleCount(frames);
    if (total <= 0 || total > 0x7FFFFFF0 / 2) return outcome;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return outcome;
    // Blocks are rendered eight at a time: with two render threads each
    // render call ends with the threads meeting, and fewer calls keep both
    // busy. The fade and the progress still go by single blocks.
    constexpr int kChunkBlocks = 8;
    std::vector<int16_t> chunk(static_cast<size_t>(wav::kBlockSamples) * kChunkBlocks);
    int nextInChunk = kChunkBlocks;
    // Byte-order conversion space, needed on big-endian machines only.
    std::vector<uint8_t> bytes(std::endian::native == std::endian::little ? 0 : wav::kBlockSamples * 2);
    std::array<uint8_t, wav::kHeaderSize> header = waveHeader(static_cast<uint32_t>(total));
    bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();

    if (player.isPlaying()) player.stop();
    const bool testTone = source.testSignalOn.exchange(false, std::memory_order_acq_rel);
    chips.beginExport(allChannels);
    if (secondThread) chips.startRenderThread();  // without it all renders here
    player.start(0, 0, false, false, false, -1);
    source.restartFrameClock();

    WaveFade fade(total);
    int64_t written = 0;
    bool cancelled = false;
    const int64_t blocks = total / wav::kBlockSamples;
    while (ok && written < total) {
        if (beforeBlock && !beforeBlock(blocks)) {
            cancelled = true;
            break;
        }
        if (nextInChunk == kChunkBlocks) {
            // As many blocks as the file still needs.
            const int64_t left = (total - written + wav::kBlockSamples - 1) / wav::kBlockSamples;
            const int count = static_cast<int>(std::min<int64_t>(kChunkBlocks, left));
            source.renderSamples(chunk.data(), count * wav::kBlockSamples);
            nextInChunk = 0;
        }
        int16_t* block = chunk.data() + static_cast<size_t>(nextInChunk++) * wav::kBlockSamples;
        int n = static_cast<int>(std::min<int64_t>(wav::kBlockSamples, total - written));
        fade.apply(block, n, written);
        // Samples are stored little-endian: on such a machine the block is
        // already in file order and is written as it is.
        const void* data = block;
        if constexpr (std::endian::native != std::endian::little) {
            for (int i = 0; i < n; ++i) put16(&bytes[static_cast<size_t>(i) * 2], static_cast<uint16_t>(block[i]));
            data = bytes.data();
        }
        const size_t size = static_cast<size_t>(n) * 2;
        ok = std::fwrite(data, 1, size, f) == size && std::fflush(f) == 0;
        if (ok) written += n;
    }
    if (ok && cancelled) ok = patchLengths(f, static_cast<uint32_t>(written));
    if (std::fclose(f) != 0) ok = false;

    player.stop();
    chips.endExport();
    source.restartFrameClock();
    source.testSignalOn.store(testTone, std::memory_order_release);
    outcome.ok = ok;
    outcome.cancelled = cancelled;
    return outcome;
}

// Raises the job's progress to value; several workers may report at once.
void raiseProgress(RenderJob& job, int value) {
    int now = job.progress.load(std::memory_order_acquire);
    while (now < value && !job.progress.compare_exchange_weak(now, value, std::memory_order_acq_rel)) {
    }
}

}  // namespace

bool renderWave(Player& player, ChipPair& chips, SampleSource& source, const std::string& path,
                bool allChannels, RenderJob* job, int renderThreads) {
    // A second thread pays only where a second core runs it.
    const bool secondThread = renderThreads > 1 && std::thread::hardware_concurrency() != 1;
    double p = 0, shown = -1;
    auto beforeBlock = [&](int64_t blocks) {
        if (job->state.load(std::memory_order_acquire) == RenderJob::CancelRequested) return false;
        if (static_cast<int>(p) != static_cast<int>(shown)) {
            job->progress.store(static_cast<int>(p), std::memory_order_release);
            shown = p;
        }
        p += blocks > 0 ? 100.0 / static_cast<double>(blocks) : 100.0;
        return true;
    };
    PassOutcome r = job ? renderPass(player, chips, source, path, allChannels, beforeBlock, secondThread)
                        : renderPass(player, chips, source, path, allChannels, {}, secondThread);
    if (r.ok && !r.cancelled && job) job->progress.store(100, std::memory_order_release);
    if (job) job->cancelled.store(r.cancelled, std::memory_order_release);
    return r.ok;
}

std::array<std::string, kChannels> stemPaths(const std::string& path) {
    std::string base = path;
    const size_t slash = base.find_last_of("/\\");
    const size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        std::string ext = base.substr(dot + 1);
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (ext == "wav") base.resize(dot);
    }
    std::array<std::string, kChannels> paths;
    for (int c = 0; c < kChannels; ++c) paths[c] = base + ".ch" + std::to_string(c + 1) + ".wav";
    return paths;
}

bool renderStems(const Song& song, int volume, const std::array<std::string, kChannels>& paths, int threads,
                 RenderJob* job) {
    // Blocks of one stem, for the one progress bar of the whole job.
    int64_t blocksPerStem;
    {
        auto chips = std::make_unique<ChipPair>();
        auto copy = std::make_unique<Song>(song);
        Player player(*copy, *chips);
        std::lock_guard<std::mutex> lock(player.songMutex());
        blocksPerStem = std::max<int64_t>(1, waveSampleCount(player.passFrames()) / wav::kBlockSamples);
    }
    const int64_t blocksTotal = blocksPerStem * kChannels;
    std::atomic<int64_t> blocksDone{0};
    std::atomic<int> next{0};
    std::atomic<bool> failed{false}, cancelled{false};

    auto worker = [&] {
        for (int c = next.fetch_add(1); c < kChannels; c = next.fetch_add(1)) {
            if (cancelled.load(std::memory_order_acquire)) return;
            // Everything the render changes is this stem's own.
            auto copy = std::make_unique<Song>(song);
            auto chips = std::make_unique<ChipPair>();
            if (!chips->create(kSampleRate, kChipClock, volume)) {
                failed.store(true);
                continue;
            }
            chips->setChannelMask(static_cast<uint8_t>(1u << c));
            {
                // The note tables start out built for the extension's clock.
                auto player = std::make_unique<Player>(*copy, *chips);
                SampleSource source(*player, *chips);
                auto beforeBlock = [&](int64_t) {
                    if (job) {
                        if (job->state.load(std::memory_order_acquire) == RenderJob::CancelRequested)
                            cancelled.store(true, std::memory_order_release);
                        const int64_t done = blocksDone.load(std::memory_order_relaxed);
                        raiseProgress(*job, static_cast<int>(std::min<int64_t>(99, done * 100 / blocksTotal)));
                    }
                    if (cancelled.load(std::memory_order_acquire)) return false;
                    blocksDone.fetch_add(1, std::memory_order_relaxed);
                    return true;
                };
                if (!renderPass(*player, *chips, source, paths[c], false, beforeBlock).ok) failed.store(true);
            }
            chips->destroy();
        }
    };

    const int count = std::clamp(threads, 1, kChannels);
    std::vector<std::thread> pool;
    for (int i = 1; i < count; ++i) {
        try {
            pool.emplace_back(worker);
        } catch (const std::system_error&) {
            break;  // the threads that started share the rest
        }
    }
    worker();
    for (std::thread& t : pool) t.join();

    const bool wasCancelled = cancelled.load();
    if (job) {
        if (!failed.load() && !wasCancelled) job->progress.store(100, std::memory_order_release);
        job->cancelled.store(wasCancelled, std::memory_order_release);
    }
    return !failed.load();
}

RenderWorker::~RenderWorker() { join(); }

bool RenderWorker::start(Player& player, ChipPair& chips, SampleSource& source, RenderJob& job,
                         std::function<void()> onFinished, std::function<bool()> audioOpen) {
    return startTask(
        job,
        [&player, &chips, &source, audioOpen = std::move(audioOpen)](RenderJob& j) {
            return !(audioOpen && audioOpen()) && renderWave(player, chips, source, j.fileName, j.allChannels, &j);
        },
        std::move(onFinished));
}

bool RenderWorker::startTask(RenderJob& job, std::function<bool(RenderJob&)> task, std::function<void()> onFinished) {
    join();
    job.progress.store(0, std::memory_order_release);
    job.succeeded.store(false, std::memory_order_release);
    job.cancelled.store(false, std::memory_order_release);
    job.state.store(RenderJob::Running, std::memory_order_release);
    job.active.store(true, std::memory_order_release);
    try {
        thread_ = std::thread([&job, task = std::move(task), onFinished = std::move(onFinished)] {
            const bool ok = task(job);
            job.succeeded.store(ok, std::memory_order_release);
            job.state.store(RenderJob::Finished, std::memory_order_release);
            job.active.store(false, std::memory_order_release);
            if (onFinished) onFinished();
        });
    } catch (const std::system_error&) {
        job.active.store(false, std::memory_order_release);
        return false;
    }
    return true;
}

void RenderWorker::cancel(RenderJob& job) {
    int expected = RenderJob::Running;
    if (!job.active.load(std::memory_order_acquire)) return;
    if (!job.state.compare_exchange_strong(expected, RenderJob::CancelRequested, std::memory_order_acq_rel))
        return;
    while (job.state.load(std::memory_order_acquire) != RenderJob::Finished)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void RenderWorker::join() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace qv
