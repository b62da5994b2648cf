#include "sound/chip_pair.h"

#include "sound/ym2203_registers.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace qv {

namespace {

// A short pause inside a spin-wait.
inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Spins, then yields, then sleeps until value no longer holds a value for
// which stay returns true.
template <typename T, typename Stay>
void waitWhile(const std::atomic<T>& value, Stay stay) {
    T s = value.load(std::memory_order_acquire);
    for (int i = 0; stay(s) && i < 1024; ++i) {
        relax();
        s = value.load(std::memory_order_acquire);
    }
    for (int i = 0; stay(s) && i < 16; ++i) {
        std::this_thread::yield();
        s = value.load(std::memory_order_acquire);
    }
    while (stay(s)) {
        value.wait(s, std::memory_order_acquire);
        s = value.load(std::memory_order_acquire);
    }
}

// The queue entries [first, last) spread over n samples: each entry lands on
// sample pos, which every key on/off write moves on by one. Applies the
// writes to the chips in writeTo and renders the chips in renderTo, adding
// into buf, each only up to the sample where a write to it lands (a chip
// does not hear the others). Returns the index of the first entry left for
// the next call.
int applyQueue(FmChip* const writeTo[3], FmChip* const renderTo[3], const RegisterWrite* entries, int first,
               int last, int32_t* buf, int n) {
    int done[3] = {0, 0, 0};
    int pos = 0;
    int at = first;
    while (pos < n && at < last) {
        const RegisterWrite w = entries[at++];
        if (w.reg == 255) continue;  // placeholder
        if (w.chip < 3 && writeTo[w.chip]) {
            if (renderTo[w.chip] && done[w.chip] < pos) {
                renderTo[w.chip]->render(buf + done[w.chip], pos - done[w.chip], false);
                done[w.chip] = pos;
            }
            writeTo[w.chip]->write(0, w.reg);
            writeTo[w.chip]->write(1, w.value);
        }
        if (w.reg == ym2203::kKeyOnOff) ++pos;
    }
    for (int c = 0; c < 3; ++c)
        if (renderTo[c] && done[c] < n) renderTo[c]->render(buf + done[c], n - done[c], false);
    return at;
}

}  // namespace

// The second render thread and the blocks handed to it: for each block the
// caller posts a job (chip 1's share, with its own copy of the block's
// queue entries, so the queue may be refilled meanwhile) and renders chip 0
// and the audition chip itself; whichever of the two threads finishes its
// part of a block last adds the parts and scales them into the output.
// Chip 1 renders the blocks in order, each by whichever thread claims it:
// the caller claims a block the thread has not taken up when it needs it
// done, so a thread that is not scheduled never holds the render up.
struct ChipPair::RenderHelper {
    static constexpr uint32_t kRing = 16;
    struct Job {
        // Written by the caller before it posts the job.
        FmChip* chip = nullptr;
        uint32_t mask = 7;
        std::vector<RegisterWrite> entries;
        int entryCount = 0;
        int count = 0;
        int16_t* output = nullptr;
        int32_t volume = 0;
        std::array<int32_t, 2048> chip1{};  // chip 1's part
        std::array<int32_t, 2048> mixed{};  // the caller's part, then the sum
        bool clipped = false;
        std::atomic<int> arrivals{0};       // parts done (2: mixed)
        std::atomic<int> finished{0};       // 1 once scaled into output
    };
    std::array<Job, kRing> jobs;
    std::atomic<uint32_t> posted{0};    // jobs posted
    std::atomic<uint32_t> claimed{0};   // jobs whose chip 1 part a thread took
    std::atomic<uint32_t> rendered{0};  // jobs whose chip 1 part is done
    std::atomic<uint32_t> signal{0};    // moved on by every post and by quit
    std::atomic<bool> quit{false};
    uint32_t collected = 0;  // the caller's: jobs seen finished
    std::thread thread;

    Job& job(uint32_t i) { return jobs[i % kRing]; }

    void run() {
        for (;;) {
            uint32_t i = claimed.load(std::memory_order_acquire);
            if (i == posted.load(std::memory_order_acquire)) {
                if (quit.load(std::memory_order_acquire)) return;
                const uint32_t seen = signal.load(std::memory_order_acquire);
                if (i != posted.load(std::memory_order_acquire) || quit.load(std::memory_order_acquire)) continue;
                waitWhile(signal, [seen](uint32_t v) { return v == seen; });
                continue;
            }
            if (claimed.compare_exchange_strong(i, i + 1, std::memory_order_acq_rel)) renderChip1(i);
        }
    }

    // Chip 1's part of job i, claimed by the calling thread: after job i - 1's.
    void renderChip1(uint32_t i) {
        waitWhile(rendered, [i](uint32_t v) { return v != i; });
        Job& j = job(i);
        FmChip* const only[3] = {nullptr, j.chip, nullptr};
        j.chip->setChannelMask(j.mask);
        std::fill_n(j.chip1.data(), j.count, 0);
        applyQueue(only, only, j.entries.data(), 0, j.entryCount, j.chip1.data(), j.count);
        rendered.store(i + 1, std::memory_order_release);
        rendered.notify_all();
        arrive(j);
    }

    // One part of j is done; the second mixes.
    void arrive(Job& j) {
        if (j.arrivals.fetch_add(1, std::memory_order_acq_rel) != 1) return;
        for (int k = 0; k < j.count; ++k) j.mixed[k] += j.chip1[k];
        j.clipped = scaleAndClip(j.mixed.data(), j.output, j.count, j.volume);
        j.finished.store(1, std::memory_order_release);
        j.finished.notify_all();
    }

    // The caller's: a free job to fill, collecting the oldest when all are in use.
    Job& nextJob(bool& clipped) {
        const uint32_t i = posted.load(std::memory_order_relaxed);
        if (i - collected == kRing) clipped |= collectOne();
        Job& j = job(i);
        j.arrivals.store(0, std::memory_order_relaxed);
        j.finished.store(0, std::memory_order_relaxed);
        return j;
    }

    void post() {
        posted.fetch_add(1, std::memory_order_release);
        signal.fetch_add(1, std::memory_order_release);
        signal.notify_all();
    }

    // The caller's: waits for the oldest posted job (rendering its chip 1
    // part here when the thread has not claimed it); true when it clipped.
    bool collectOne() {
        const uint32_t i = collected;
        uint32_t expected = i;
        if (claimed.compare_exchange_strong(expected, i + 1, std::memory_order_acq_rel)) renderChip1(i);
        Job& j = job(i);
        waitWhile(j.finished, [](int v) { return v == 0; });
        ++collected;
        return j.clipped;
    }

    // The caller's: every posted job finished; true when any clipped.
    bool collectAll() {
        bool clipped = false;
        while (collected != posted.load(std::memory_order_relaxed)) clipped |= collectOne();
        return clipped;
    }

    void stop() {
        quit.store(true, std::memory_order_release);
        signal.fetch_add(1, std::memory_order_release);
        signal.notify_all();
        thread.join();
    }
};

ChipPair::ChipPair() = default;

ChipPair::~ChipPair() { stopRenderThread(); }

bool ChipPair::create(uint32_t sampleRate, uint32_t clock, int volume) {
    std::lock_guard<std::mutex> lock(chipMutex_);
    settleLocked();
    for (auto& c : chips_) c.reset();
    mixBuffer_.fill(0);
    queue_.clear();
    channelMask_.store(255);
    savedMask_ = 255;
    auditionEnabled_.store(true);
    clipFlag.store(0);
    volume_.store(std::clamp(volume, 0, 255));
    for (auto& c : chips_) {
        c = FmChip::create(clock, sampleRate);
        if (!c) {
            for (auto& d : chips_) d.reset();
            return false;
        }
    }
    return true;
}

void ChipPair::destroy() {
    stopRenderThread();
    std::lock_guard<std::mutex> lock(chipMutex_);
    for (auto& c : chips_) c.reset();
}

void ChipPair::writeRegisterLocked(int chip, uint8_t reg, uint8_t value) {
    if (chip < 0 || chip > 2 || !chips_[chip]) return;
    chips_[chip]->write(0, reg);
    chips_[chip]->write(1, value);
}

void ChipPair::writeRegister(int chip, uint8_t reg, uint8_t value) {
    std::lock_guard<std::mutex> lock(chipMutex_);
    if (chip == 1) settleLocked();
    writeRegisterLocked(chip, reg, value);
}

void ChipPair::reset() {
    std::lock_guard<std::mutex> lock(chipMutex_);
    settleLocked();
    for (int i = 0; i < 3; ++i) {
        if (!chips_[i]) continue;
        chips_[i]->reset();
        writeRegisterLocked(i, ym2203::kModeTimers, 0);
    }
}

// The chips' own masks are updated by the mixer from the audio thread, so
// the user interface thread only touches the atomic.
void ChipPair::setChannelMask(uint8_t mask) { channelMask_.store(mask, std::memory_order_release); }

uint8_t ChipPair::channelMask() const { return channelMask_.load(std::memory_order_acquire); }

void ChipPair::beginExport(bool allChannels) {
    savedMask_ = channelMask();
    auditionEnabled_.store(false, std::memory_order_release);
    if (allChannels) setChannelMask(255);
}

void ChipPair::endExport() {
    stopRenderThread();
    auditionEnabled_.store(true, std::memory_order_release);
    setChannelMask(savedMask_);
}

bool ChipPair::startRenderThread() {
    std::lock_guard<std::mutex> lock(chipMutex_);
    if (helper_) return true;
    auto helper = std::make_unique<RenderHelper>();
    try {
        helper->thread = std::thread([h = helper.get()] { h->run(); });
    } catch (const std::system_error&) {
        return false;
    }
    helper_ = std::move(helper);
    helperRunning_.store(true, std::memory_order_release);
    return true;
}

void ChipPair::stopRenderThread() {
    std::unique_ptr<RenderHelper> helper;
    {
        std::lock_guard<std::mutex> lock(chipMutex_);
        settleLocked();
        helper = std::move(helper_);
        helperRunning_.store(false, std::memory_order_release);
    }
    if (helper) helper->stop();
}

bool ChipPair::renderThreadRunning() const { return helperRunning_.load(std::memory_order_acquire); }

// The blocks handed to the second thread must be done before anything else
// touches chip 1.
void ChipPair::settleLocked() {
    if (helper_ && helper_->collectAll()) clipFlag.store(1, std::memory_order_release);
}

void ChipPair::setVolume(int value) { volume_.store(std::clamp(value, 0, 255), std::memory_order_release); }

int ChipPair::volume() const { return volume_.load(std::memory_order_acquire); }

// With the second render thread running: renders count samples into
// output, chip 1 on that thread, and returns true. Called with chipMutex_
// held; fromQueue applies the queue as renderWithQueue does.
bool ChipPair::renderOnThreadsLocked(int16_t* output, int count, bool fromQueue) {
    if (!helper_ || !chips_[1]) return false;
    while (count > 0) {
        const int n = startLocked(output, count, fromQueue);
        output += n;
        count -= n;
    }
    settleLocked();
    return true;
}

void ChipPair::renderWithQueue(int16_t* output, int count) {
    // Nothing to spend on key events: the queue waits for the next call.
    if (count <= 0) return;
    std::lock_guard<std::mutex> lock(chipMutex_);
    if (renderOnThreadsLocked(output, count, true)) return;
    const uint8_t mask = channelMask_.load(std::memory_order_acquire);
    const int32_t vol = volume_.load(std::memory_order_acquire);
    const bool audition = auditionEnabled_.load(std::memory_order_acquire);
    FmChip* const chips[3] = {chips_[0].get(), chips_[1].get(), audition ? chips_[2].get() : nullptr};
    if (chips[0]) chips[0]->setChannelMask(mask & 7u);
    if (chips[1]) chips[1]->setChannelMask((mask >> 3) & 7u);
    FmChip* const writeTo[3] = {chips_[0].get(), chips_[1].get(), chips_[2].get()};
    bool clipped = false;
    while (count > 0) {
        const int n = std::min(count, static_cast<int>(mixBuffer_.size()));
        int32_t* buf = mixBuffer_.data();
        std::fill_n(buf, n, 0);
        const int next = applyQueue(writeTo, chips, queue_.entries.data(), queue_.applyPos, queue_.count, buf, n);
        if (next != queue_.applyPos) queue_.applyPos = next;  // an empty queue is only read
        if (scaleAndClip(buf, output, n, vol)) clipped = true;
        output += n;
        count -= n;
    }
    if (clipped) clipFlag.store(1, std::memory_order_release);
}

int ChipPair::startQueuedRender(int16_t* output, int count) {
    if (count <= 0) return 0;
    std::unique_lock<std::mutex> lock(chipMutex_);
    if (helper_ && chips_[1]) return startLocked(output, count, true);
    lock.unlock();
    count = std::min(count, static_cast<int>(mixBuffer_.size()));
    renderWithQueue(output, count);
    return count;
}

void ChipPair::finishQueuedRender() {
    std::lock_guard<std::mutex> lock(chipMutex_);
    settleLocked();
}

// Called with chipMutex_ held while the second render thread runs and chip
// 1 exists. Starts the render of up to 2048 samples into output (returns
// how many): with the queue's entries for them, or without touching it.
int ChipPair::startLocked(int16_t* output, int count, bool fromQueue) {
    const int n = std::min(count, static_cast<int>(mixBuffer_.size()));
    const uint8_t mask = channelMask_.load(std::memory_order_acquire);
    const bool audition = auditionEnabled_.load(std::memory_order_acquire);
    FmChip* const c0 = chips_[0].get();
    FmChip* const c2 = chips_[2].get();
    if (c0) c0->setChannelMask(mask & 7u);
    RenderHelper& h = *helper_;
    bool clipped = false;
    RenderHelper::Job& j = h.nextJob(clipped);
    if (clipped) clipFlag.store(1, std::memory_order_release);
    // The entries this block takes: as many as reach its last sample.
    int end = queue_.applyPos;
    if (fromQueue) {
        for (int pos = 0; pos < n && end < queue_.count; ++end)
            if (queue_.entries[end].reg == ym2203::kKeyOnOff) ++pos;
    }
    j.chip = chips_[1].get();
    j.mask = (mask >> 3) & 7u;
    j.entryCount = end - queue_.applyPos;
    if (j.entries.size() < static_cast<size_t>(j.entryCount)) j.entries.resize(static_cast<size_t>(j.entryCount));
    std::copy_n(queue_.entries.data() + queue_.applyPos, j.entryCount, j.entries.data());
    j.count = n;
    j.output = output;
    j.volume = volume_.load(std::memory_order_acquire);
    h.post();

    FmChip* const writeTo[3] = {c0, nullptr, c2};
    FmChip* const renderTo[3] = {c0, nullptr, audition ? c2 : nullptr};
    int32_t* buf = j.mixed.data();
    std::fill_n(buf, n, 0);
    if (fromQueue) {
        const int next = applyQueue(writeTo, renderTo, queue_.entries.data(), queue_.applyPos, queue_.count, buf, n);
        if (next != queue_.applyPos) queue_.applyPos = next;
    } else {
        applyQueue(writeTo, renderTo, nullptr, 0, 0, buf, n);
    }
    h.arrive(j);
    return n;
}

void ChipPair::renderMixOnly(int16_t* output, int count) {
    if (count <= 0) return;
    std::lock_guard<std::mutex> lock(chipMutex_);
    settleLocked();
    mix(output, count);
}

// Scales and clips n mixed samples into output; true when any was clipped.
bool ChipPair::scaleAndClip(const int32_t* buf, int16_t* output, int n, int32_t vol) {
    int32_t over = 0;
    // over is non-zero once any sample was clipped. Runs of 16 give the
    // compiler a fixed trip count to vectorise.
    auto scale = [vol, &over](int32_t s) {
        const int32_t v = (s * vol) >> 8;
        const int32_t c = std::clamp(v, -32767, 32767);
        over |= v ^ c;
        return static_cast<int16_t>(c);
    };
    int i = 0;
    for (; i + 16 <= n; i += 16)
        for (int j = 0; j < 16; ++j) output[i + j] = scale(buf[i + j]);
    for (; i < n; ++i) output[i] = scale(buf[i]);
    return over != 0;
}

// Called with chipMutex_ held.
void ChipPair::mix(int16_t* output, int count) {
    if (renderOnThreadsLocked(output, count, false)) return;
    const uint8_t mask = channelMask_.load(std::memory_order_acquire);
    const int32_t vol = volume_.load(std::memory_order_acquire);
    const bool audition = auditionEnabled_.load(std::memory_order_acquire);
    FmChip* c0 = chips_[0].get();
    FmChip* c1 = chips_[1].get();
    FmChip* c2 = audition ? chips_[2].get() : nullptr;
    if (c0) c0->setChannelMask(mask & 7u);
    if (c1) c1->setChannelMask((mask >> 3) & 7u);
    bool clipped = false;
    while (count > 0) {
        const int n = std::min(count, static_cast<int>(mixBuffer_.size()));
        int32_t* buf = mixBuffer_.data();
        if (c0) c0->render(buf, n, true);
        else std::fill_n(buf, n, 0);
        if (c1) c1->render(buf, n, false);
        if (c2) c2->render(buf, n, false);
        if (scaleAndClip(buf, output, n, vol)) clipped = true;
        output += n;
        count -= n;
    }
    if (clipped) clipFlag.store(1, std::memory_order_release);
}

}  // namespace qv
