// Wave rendering: one pass of the song through the Player and the chips into
// a RIFF/WAVE file (PCM, mono, 16-bit, 44 100 Hz), with three seconds of
// ring-out at the end that are faded to silence.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "song/song.h"

namespace qv {

class Player;
class ChipPair;
class SampleSource;

namespace wav {
constexpr int kHeaderSize = 44;
constexpr int kBlockSamples = 8192;
constexpr int kTailFrames = 150;  // three seconds of ring-out
constexpr int kFadeSamples = 44100 * 3;
}  // namespace wav

// Samples of a rendering of a song of songFrames frames: 882 x (frames + 150).
int64_t waveSampleCount(int songFrames);

// The 44-byte header for the given number of samples.
std::array<uint8_t, wav::kHeaderSize> waveHeader(uint32_t samples);

// The fade over the last three seconds. It starts on the first sample of the
// 8192-sample block that overlaps them and lowers the gain by 1 / 132300 per
// sample, holding it at 0.
class WaveFade {
public:
    explicit WaveFade(int64_t totalSamples) : fadeStart_(totalSamples - wav::kFadeSamples) {}
    // Applies to a block whose first sample has the given index.
    void apply(int16_t* block, int count, int64_t firstSample);
    double gain() const { return gain_; }

private:
    int64_t fadeStart_;
    double gain_ = 1.0;
};

// Render state shared by the progress dialog and the worker.
struct RenderJob {
    enum State : int { Running = 0, CancelRequested = 1, Finished = 2, Batch = 100 };
    std::string fileName;
    bool allChannels = true;
    std::atomic<bool> active{false};
    std::atomic<int> state{Running};
    // 0-100, changed only when its integer value changes; -1 before the first block.
    std::atomic<int> progress{-1};
    // Outcome of the last render: true when a complete or cancelled file was written.
    std::atomic<bool> succeeded{false};
    std::atomic<bool> cancelled{false};
};

// Renders one pass to path: waveSampleCount(Player::passFrames()) samples,
// the pass the VGM and register-dump exports record (pattern loops and
// speed resets as played) and then the ring-out, during which the Player
// plays on into the song's restart under the fade. With a job, progress is reported through it and
// a cancel request (state 1) ends the render before its next block; the file
// then holds the blocks written so far with its header lengths patched to
// match. Returns false when the file cannot be created or written. The
// chips' mute mask and the test tone are restored afterwards; the audio
// stream must be closed (no other thread may render) while this runs.
// renderThreads 2 renders the two chips at once on two threads (on a
// machine with more than one core), 1 both on the calling thread; the
// bytes are the same.
bool renderWave(Player& player, ChipPair& chips, SampleSource& source, const std::string& path,
                bool allChannels, RenderJob* job = nullptr, int renderThreads = 2);

// NAME.ch1.wav ... NAME.ch6.wav for the path NAME.wav (or NAME without a
// ".wav" ending).
std::array<std::string, kChannels> stemPaths(const std::string& path);

// One file per channel, each the render of that channel alone (the others
// masked): same length and fade as the mixed render, and a channel silent in
// the whole song still gets its file. Each stem renders with its own copy
// of the song, its own chips (at the given output volume) and Player, so up
// to `threads` stems render at once and the bytes do not depend on how many.
// With a job: one progress value for all six files (the blocks done of all
// of them), and a cancel request ends every stem before its next block
// (each file then holds its blocks so far, as a cancelled render does).
// Returns false when any file could not be written. Touches no shared
// engine state: the caller only keeps song unchanged while it runs.
bool renderStems(const Song& song, int volume, const std::array<std::string, kChannels>& paths, int threads,
                 RenderJob* job = nullptr);

// Runs renderWave on a worker thread. Sets active and state = 0 before the
// thread starts; the worker sets state = 2, clears active and then calls
// onFinished (if any) from its own thread. A worker that finds audioOpen()
// true renders nothing (the stream would drive the same chips) and reports
// failure. Returns false when the thread cannot be created.
class RenderWorker {
public:
    ~RenderWorker();
    bool start(Player& player, ChipPair& chips, SampleSource& source, RenderJob& job,
               std::function<void()> onFinished = {}, std::function<bool()> audioOpen = {});
    // The same for any render task: its result becomes job.succeeded.
    bool startTask(RenderJob& job, std::function<bool(RenderJob&)> task, std::function<void()> onFinished = {});
    // Requests cancel (only while running) and waits, polling every 10 ms,
    // until the worker reports finished.
    void cancel(RenderJob& job);
    // Waits for the thread to end.
    void join();

private:
    std::thread thread_;
};

}  // namespace qv
