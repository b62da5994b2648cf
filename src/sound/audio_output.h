// The audio stream: for as long as it is open, a thread of its own pulls 1024
// samples at a time from the frame-clocked sample source and hands them to the
// audio device in blocks, never letting more than blockCount blocks wait at
// the device. The chips keep sounding whether or not a song plays, so the
// stream runs the whole time the program does; it only stops to be re-opened
// with other buffer settings and around a wave render.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sound/audio_device.h"

namespace qv {

// What the stream plays. produce() runs on the audio thread only.
class SampleProducer {
  public:
    virtual ~SampleProducer() = default;
    virtual void produce(int16_t* output, int count) = 0;
    // Called by open() before the audio thread starts: a new stream begins a
    // new frame.
    virtual void streamOpened() {}
};

// Plays a frame-clocked sample source (sound/sample_source.h).
template <class Source>
class SourceProducer final : public SampleProducer {
  public:
    explicit SourceProducer(Source& source) : source_(source) {}
    void produce(int16_t* output, int count) override { source_.renderSamples(output, count); }
    void streamOpened() override { source_.restartFrameClock(); }

  private:
    Source& source_;
};

class SampleSource;
using SampleSourceProducer = SourceProducer<SampleSource>;

// The buffer settings: the two combo boxes' item indexes. An index past the
// last item means the last item, a negative one the first.
constexpr int kBlockSizeItems = 6;   // 2048, 4096, ... 65536 bytes
constexpr int kBlockCountItems = 9;  // "2" ... "10"
constexpr int kSamplesPerRender = 1024;
constexpr int kStreamBytesPerSecond = 88200;

int blockSizeForIndex(int index);
int blockCountForIndex(int index);
// Seconds of sound the device may hold: blockCount x blockSize / 88 200.
double streamLatencySeconds(int blockSize, int blockCount);

class AudioOutput {
  public:
    AudioOutput(AudioDevice& device, SampleProducer& producer);
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // open, close and the accessors below belong to one thread (the user
    // interface's); the audio thread never calls them. Never open or close
    // while holding the Player's song mutex: the audio thread may be waiting
    // for it in the middle of a render.

    // Closes first when open, then opens the device and starts the audio
    // thread. Reports false when there is no device or no thread; the program
    // then stays silent and lastError() says why.
    bool open(int blockSizeIndex, int blockCountIndex);
    // Stops the thread (and waits for its word that it has), waits for the
    // device to play what it still holds (at most the latency plus a second:
    // a stuck device must not hang the program), then closes the device.
    void close();

    bool isOpen() const { return open_; }
    int blockSize() const { return blockSize_; }
    int blockCount() const { return blockCount_; }
    double latencySeconds() const { return streamLatencySeconds(blockSize_, blockCount_); }
    const std::string& lastError() const { return lastError_; }
    // Whether the last close gave up waiting for the device to drain.
    bool lastCloseTimedOut() const { return closeTimedOut_; }

    // Returns once the audio thread is between two renders: whatever it
    // produces afterwards sees every write made before this call. Returns at
    // once when the stream is closed. Never call it while holding a lock that
    // the sample source takes (the Player's song mutex).
    void syncWithRenderer();

    // While one of these lives, the flag (the Player's exportDriving) is set
    // and the audio thread keeps the device fed without ticking the Player or
    // applying its queue. Both changes of the flag fall between two renders,
    // so no render sees it change half-way. output may be null (no stream).
    // Like syncWithRenderer, not to be entered with the song mutex held.
    class DrivingScope {
      public:
        DrivingScope(AudioOutput* output, std::atomic<bool>& flag);
        ~DrivingScope();
        DrivingScope(const DrivingScope&) = delete;
        DrivingScope& operator=(const DrivingScope&) = delete;

      private:
        AudioOutput* output_;
        std::atomic<bool>& flag_;
    };

    // Counters, readable from any thread.
    uint64_t renderCalls() const { return renderCalls_.load(std::memory_order_acquire); }
    uint64_t blocksQueued() const { return blocksQueued_.load(std::memory_order_acquire); }
    // Samples the device had to invent because the stream fell behind, over
    // every stream opened so far. The user interface thread's, like open.
    uint64_t underrunSamples();

  private:
    enum StopState { kRun = 0, kStopRequested = 1, kStopped = 2 };

    void run();
    void write(const int16_t* samples, int count);
    // Sleeps while the device holds blockCount blocks, waking about when it
    // will have room for one more (at most 10 ms at a time); false when a stop
    // was requested meanwhile.
    bool waitWhileFull();
    // One step of at most 10 ms that ends early on a stop request; false on a
    // request.
    bool pause(std::chrono::microseconds step = std::chrono::milliseconds(10));
    void setFlagBetweenRenders(std::atomic<bool>& flag, bool value);

    AudioDevice& device_;
    SampleProducer& producer_;

    bool open_ = false;
    bool closeTimedOut_ = false;
    int blockSize_ = 0;  // bytes
    int blockCount_ = 0;
    int periodSamples_ = 0;
    std::string lastError_;

    // Audio thread only while it runs.
    std::vector<int16_t> block_;  // the block being filled
    std::size_t blockFill_ = 0;   // samples in it

    std::thread thread_;
    std::atomic<int> stopRequest_{kRun};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    // Held by the audio thread around every render.
    std::mutex renderMutex_;

    std::atomic<uint64_t> renderCalls_{0};
    std::atomic<uint64_t> blocksQueued_{0};
    uint64_t earlierUnderruns_ = 0;  // of the streams closed before
};

}  // namespace qv
