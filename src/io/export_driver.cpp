#include "io/export_driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "sound/chip_pair.h"
#include "sound/player.h"
#include "song/song.h"

namespace qv {

namespace {
// No song is this long (about 22 hours); it only bounds a runaway.
constexpr size_t kFrameCeiling = 4000000;
}  // namespace

void recordFrames(const std::function<TickReport()>& tick, const RegisterWriteQueue& queue,
                  bool loopAtStart, size_t maxFrames, FrameLog& log) {
    log.clear();
    log.starts.reserve(std::min<size_t>(maxFrames, 1 << 20));
    if (loopAtStart) log.loopFrame = 0;
    bool wrapped = false;
    bool loopPending = false;
    while (log.frameCount() < maxFrames) {
        TickReport r = tick();
        if (wrapped && r.readRow) break;
        size_t index = log.frameCount();
        if (loopPending && r.readRow) {
            log.loopFrame = static_cast<int>(index);
            loopPending = false;
        }
        log.beginFrame();
        const RegisterWrite* first = queue.entries.data();
        const RegisterWrite* last = first + std::clamp(queue.count, 0, RegisterWriteQueue::kCapacity);
        for (const RegisterWrite* w = first; w != last; ++w) {
            if (w->reg != 255) continue;
            // A placeholder: copy the writes around it, not the mark itself.
            log.writes.insert(log.writes.end(), first, w);
            first = w + 1;
            if (log.loopFrame < 0) loopPending = true;
        }
        log.writes.insert(log.writes.end(), first, last);
        if (r.wrapped) wrapped = true;
        if (!r.playing) break;
    }
}

void recordSong(Player& player, ChipPair& chips, const Song& song, FrameLog& log, uint32_t clock) {
    if (player.isPlaying()) player.stop();
    const bool wasDriving = player.exportDriving.exchange(true, std::memory_order_seq_cst);
    // A render call that started before the flag was set may still tick.
    while (player.renderBusy.load(std::memory_order_seq_cst))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    size_t maxFrames;
    {
        std::lock_guard<std::mutex> lock(player.songMutex());
        player.buildNoteTables(clock);
        // The pass ends by itself at the wrap; the bound only guards a runaway.
        const size_t pass = static_cast<size_t>(std::max(player.passFrames(), 0));
        maxFrames = std::min(kFrameCeiling, pass + 30000);
    }
    player.start(0, 0, false, false, false, -1);
    const bool loopAtStart = song.order.loopPosition == 0;
    recordFrames(
        [&player] {
            std::lock_guard<std::mutex> lock(player.songMutex());
            TickReport r;
            r.readRow = player.frameInRow() == 0;
            r.wrapped = player.tick();
            r.playing = player.isPlaying();
            return r;
        },
        chips.queue(), loopAtStart, maxFrames, log);
    player.stop();
    {
        std::lock_guard<std::mutex> lock(player.songMutex());
        player.buildNoteTables(kChipClock);
    }
    player.exportDriving.store(wasDriving, std::memory_order_release);
}

ExportTexts exportTexts(const Song& song) {
    return ExportTexts{song.trackNameText(), song.authorText(), song.messageText(), song.saved};
}

bool writeWholeFile(const std::string& path, std::span<const uint8_t> bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0) ok = false;
    return ok;
}

}  // namespace qv
