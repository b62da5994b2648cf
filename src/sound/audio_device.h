// The one narrow door between the audio stream and a sound card: a device
// that accepts blocks of 16-bit mono samples into its own queue and plays
// them at 44 100 samples per second. The AudioOutput's thread pushes blocks
// and polls how much is still queued; it never sees the platform behind it.
//
// NullAudioDevice stands in for a sound card in tests: it plays (that is,
// drops or records) its queue against the steady clock at a chosen speed, can
// refuse to open, and can be held still so that nothing ever drains.
#pragma once

#include <chrono>
#include <cstddef>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qv {

struct AudioDeviceFormat {
    int sampleRate = 44100;
    int channels = 1;
    // How many samples the device takes from its queue at a time.
    int periodSamples = 512;
};

class AudioDevice {
  public:
    virtual ~AudioDevice() = default;

    // Opens the default output and starts it playing (silence while the
    // queue is empty). Reports false and leaves error() set on failure.
    virtual bool open(const AudioDeviceFormat& format) = 0;
    // Stops and releases the device; whatever is still queued is dropped.
    // Does nothing when not open.
    virtual void close() = 0;
    // Appends count samples to the device's queue (the device copies them).
    virtual bool queue(const int16_t* samples, std::size_t count) = 0;
    // Bytes queued and not yet taken by the device.
    virtual std::size_t queuedBytes() = 0;
    // True when the device stopped on its own (unplugged, server gone): its
    // queue will never drain again.
    virtual bool failed() { return false; }
    // Samples the device had to invent (play as silence) since open because
    // its queue had run dry, counted from the first sample queued on. Any
    // thread.
    virtual uint64_t underrunSamples() { return 0; }
    // Raises the calling thread's priority where the platform lets us;
    // called once by the audio thread as it starts. Failure is ignored.
    virtual void raiseThreadPriority() {}
    // Why the last open failed, in plain words; empty when it did not.
    virtual std::string error() const = 0;
};

class NullAudioDevice final : public AudioDevice {
  public:
    struct Options {
        // Playback speed relative to real time: 1 plays 44 100 samples per
        // second, 10 ten times as fast, 0 never takes anything (a stuck card).
        double speed = 1.0;
        // open() reports false, as with no sound card present.
        bool failOpen = false;
        // Keep every sample the device takes, in order (see recording()).
        bool record = false;
    };

    NullAudioDevice();
    explicit NullAudioDevice(Options options);

    bool open(const AudioDeviceFormat& format) override;
    void close() override;
    bool queue(const int16_t* samples, std::size_t count) override;
    std::size_t queuedBytes() override;
    bool failed() override;
    uint64_t underrunSamples() override;
    std::string error() const override;

    // ---- for tests -------------------------------------------------------
    // Takes up to count samples at once, as if the card had played them now.
    void consume(std::size_t count);
    // Changes the playback speed from now on (0 stops the card).
    void setSpeed(double speed);
    void setFailed(bool failed);
    // From now on open() refuses (true) or works (false): a card that is
    // unplugged or whose sound server is gone, and that comes back.
    void setFailOpen(bool failOpen);
    // The device's clock: samples played since open, silence included, as a
    // continuous count (between two periods too).
    double clockSamples();
    // Forget the first sound seen so far: Stats::firstSound looks again from
    // the next sample played on.
    void watchForSound();

    struct Stats {
        bool open = false;
        int opens = 0;
        int closes = 0;
        // Periods the card wanted while its queue had run dry, counted only
        // after the first sample arrived.
        int underruns = 0;
        // Samples played as silence for want of queued ones (same rule).
        uint64_t underrunSamples = 0;
        // Clock position (samples played since open, silence included) of
        // the first non-zero sample played since open or watchForSound();
        // -1 while none.
        long long firstSound = -1;
        // The clock (clockSamples()) when the first non-zero sample since
        // open or watchForSound() was handed to the device; -1 while none.
        double firstSoundQueued = -1;
        std::size_t maxQueuedBytes = 0;
        std::size_t queued = 0;          // samples ever queued since open
        std::size_t played = 0;          // samples ever taken since open
        std::size_t droppedAtClose = 0;  // still queued when closed
    };
    Stats stats();
    // Every sample taken since open, in order (with Options::record).
    std::vector<int16_t> recording() const;

  private:
    using Clock = std::chrono::steady_clock;
    // Plays every period due by now. Caller holds mutex_.
    void advance();
    // clockSamples() for a caller holding mutex_, after advance().
    double clockNow() const;
    void take(std::size_t count);

    mutable std::mutex mutex_;
    Options options_;
    AudioDeviceFormat format_;
    bool failed_ = false;
    Stats stats_;
    std::vector<int16_t> queue_;  // queued samples, oldest first from head_
    std::size_t head_ = 0;
    std::vector<int16_t> recording_;
    Clock::time_point epoch_{};  // start of the current speed
    long long periodsDone_ = 0;  // periods played since epoch_
    long long positionAtEpoch_ = 0;  // clock position at epoch_
    bool watching_ = true;           // firstSound not found yet
    bool watchingQueue_ = true;      // firstSoundQueued not found yet
};

// The program's device: the sound card when it opens, otherwise a silent
// stand-in that takes samples at the real-time rate. The stream, and with it
// the Player, thus keeps its pace without a sound card: songs play (silently)
// and the cursor follows them. A card that stops on its own while playing is
// left for the stand-in in the same way, on the audio thread, between two
// blocks. open and close belong to one thread, as with any device.
class SilentFallbackDevice final : public AudioDevice {
  public:
    explicit SilentFallbackDevice(std::unique_ptr<AudioDevice> card);

    // True (with the stand-in playing) unless even the stand-in refuses.
    bool open(const AudioDeviceFormat& format) override;
    void close() override;
    bool queue(const int16_t* samples, std::size_t count) override;
    std::size_t queuedBytes() override;
    bool failed() override;
    uint64_t underrunSamples() override;
    void raiseThreadPriority() override;
    // Why the card is not playing, while silent(); empty otherwise.
    std::string error() const override;

    // Whether the stand-in plays instead of the card. Any thread.
    bool silent() const { return silent_.load(std::memory_order_acquire); }
    // While silent: closes the card if it is still open and tries to open it
    // again; on success the card plays from the next block on. True when the
    // card plays (also when it already did). Called by the thread that opens
    // and closes the device while the stream runs: the audio thread touches
    // only the stand-in while silent.
    bool retryCard();
    // The same at most once per interval (the first call only starts the
    // clock); false while it is not yet time and the card is still silent.
    static constexpr std::chrono::seconds kRetryInterval{3};
    bool retryCardIfDue(std::chrono::steady_clock::time_point now);
    AudioDevice& card() { return *card_; }

  private:
    AudioDevice& active() { return silent() ? static_cast<AudioDevice&>(standIn_) : *card_; }
    // Audio thread: hands over to the stand-in when the card has stopped.
    void checkCard();

    std::unique_ptr<AudioDevice> card_;
    NullAudioDevice standIn_;
    AudioDeviceFormat format_;
    bool formatKnown_ = false;
    bool cardOpen_ = false;
    std::atomic<bool> silent_{false};
    std::chrono::steady_clock::time_point nextRetry_{};
    mutable std::mutex errorMutex_;
    std::string cardError_;
};

}  // namespace qv
