// The Player shared between a frame-clocked rendering thread and a control
// thread: start, stop, position jumps and reads while frames keep coming.
#include <chrono>
#include <thread>

#include "sound/test_player_support.h"

namespace qvtest {
namespace {

using namespace std::chrono_literals;

class PlayerThreads : public PlayerTest {
protected:
    // Runs like the audio thread: render-busy around each block, the song
    // lock around each tick and around applying the queue (start and stop
    // empty the queue from the other thread under the same lock).
    void startRenderer() {
        renderer = std::thread([this] {
            std::array<int16_t, kSamplesPerFrame> out{};
            while (!quit.load(std::memory_order_acquire)) {
                player->renderBusy.store(true, std::memory_order_release);
                {
                    std::lock_guard<std::mutex> lock(player->songMutex());
                    player->tick();
                    chips.renderWithQueue(out.data(), 64);
                }
                ++frames;
                player->renderBusy.store(false, std::memory_order_release);
                std::this_thread::yield();
            }
        });
    }
    void TearDown() override {
        quit.store(true, std::memory_order_release);
        if (renderer.joinable()) renderer.join();
    }
    std::thread renderer;
    std::atomic<bool> quit{false};
    std::atomic<int> frames{0};
};

TEST_F(PlayerThreads, StartAndStopWhileFramesAreRenderedNeverDeadlockAndLeaveNothingQueued) {
    song->speedEven = song->speedOdd = 1;
    song->order.length = 2;
    song->order.entries[1].pattern = 1;
    for (int r = 0; r < 64; ++r)
        for (int c = 0; c < 6; ++c) cell(r, c) = noteCell((r + c) % 12, 4, 1 + c % 3, 20, 4, 0x35);
    {
        std::lock_guard<std::mutex> lock(player->songMutex());
        player->songLengthFrames();
    }
    startRenderer();
    for (int i = 0; i < 20; ++i) {
        EXPECT_FALSE(player->start(i % 2, i, false, i % 3 == 0, false, -1));
        const int before = frames.load();
        while (frames.load() < before + 5) std::this_thread::yield();
        {
            std::lock_guard<std::mutex> lock(player->songMutex());
            player->setPosition(1);
            cell(3, 2).volume = static_cast<int8_t>(1 + i);  // an edit while playing
        }
        const PlayPosition p = player->position();
        EXPECT_GE(p.orderPosition, 0);
        EXPECT_LT(p.orderPosition, 2);
        player->stop();
        EXPECT_FALSE(player->isPlaying());
        // Nothing is queued after a stop, and the renderer adds nothing.
        std::this_thread::sleep_for(1ms);
        EXPECT_EQ(chips.queue().count, chips.queue().applyPos);
    }
}

TEST_F(PlayerThreads, StopWaitsForTheBlockBeingRendered) {
    startPlaying();
    player->renderBusy.store(true, std::memory_order_release);
    std::atomic<bool> stopped{false};
    std::thread control([&] {
        player->stop();
        stopped.store(true, std::memory_order_release);
    });
    std::this_thread::sleep_for(40ms);
    EXPECT_FALSE(stopped.load(std::memory_order_acquire));
    EXPECT_FALSE(player->isPlaying());  // cleared first, so no new tick starts a frame
    player->renderBusy.store(false, std::memory_order_release);
    control.join();
    EXPECT_TRUE(stopped.load());
}

}  // namespace
}  // namespace qvtest
