#include "sound/chip_pair.h"

#include "sound/ym2203_registers.h"

#include <algorithm>
#include <system_error>
#include <thread>

namespace qv {

namespace {

// A short pause inside a spin-wait.
inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Spins, then yields, then sleeps until state no longer holds a value for
// which stay returns true; returns the value found.
template <typename Stay>
int waitWhile(const std::atomic<int>& state, Stay stay) {
    int s = state.load(std::memory_order_acquire);
    for (int i = 0; stay(s) && i < 1024; ++i) {
        relax();
        s = state.load(std::memory_order_acquire);
    }
    for (int i = 0; stay(s) && i < 16; ++i) {
        std::this_thread::yield();
        s = state.load(std::memory_order_acquire);
    }
    while (stay(s)) {
        state.wait(s, std::memory_order_acquire);
        s = state.load(std::memory_order_acquire);
    }
    return s;
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

// The second render thread and the one job it is handed at a time: chip 1's
// share of a block, with its own copy of the queue entries (so the queue
// may be refilled while it renders). The caller fills the job and posts it;
// the thread takes it, renders and reports it done. Whoever needs the job
// done before the thread has taken it up renders it itself, so a thread that
// is not scheduled never holds the render up.
struct ChipPair::RenderHelper {
    enum : int { kIdle, kPosted, kTaken, kDone, kQuit };
    std::atomic<int> state{kIdle};
    // The job: written by the caller before it posts it.
    FmChip* chip = nullptr;
    int entryCount = 0;
    int count = 0;
    std::array<RegisterWrite, RegisterWriteQueue::kCapacity> entries{};
    std::array<int32_t, 2048> buffer{};
    // A started render (startQueuedRender) is mixed by whichever of the two
    // threads finishes its chip last: chip 1 added into mixInto, scaled
    // into mixOut. Null mixInto: the caller collects chip 1 itself.
    int32_t* mixInto = nullptr;
    int16_t* mixOut = nullptr;
    int32_t mixVolume = 0;
    bool mixClipped = false;
    std::atomic<int> arrivals{0};
    std::thread thread;

    void work() {
        FmChip* const only[3] = {nullptr, chip, nullptr};
        std::fill_n(buffer.data(), count, 0);
        applyQueue(only, only, entries.data(), 0, entryCount, buffer.data(), count);
    }

    void run() {
        for (;;) {
            const int s = waitWhile(state, [](int v) { return v != kPosted && v != kQuit; });
            if (s == kQuit) return;
            int expected = kPosted;
            if (!state.compare_exchange_strong(expected, kTaken, std::memory_order_acq_rel)) continue;
            work();
            if (mixInto && arrivals.fetch_add(1, std::memory_order_acq_rel) == 1) mix();
            state.store(kDone, std::memory_order_release);
            state.notify_all();
        }
    }

    void mix() {
        for (int i = 0; i < count; ++i) mixInto[i] += buffer[i];
        mixClipped = scaleAndClip(mixInto, mixOut, count, mixVolume);
    }

    void post(FmChip* c, const RegisterWrite* from, int entryTotal, int n, int32_t* into = nullptr,
              int16_t* out = nullptr, int32_t volume = 0) {
        chip = c;
        std::copy_n(from, entryTotal, entries.data());
        entryCount = entryTotal;
        count = n;
        mixInto = into;
        mixOut = out;
        mixVolume = volume;
        arrivals.store(0, std::memory_order_relaxed);
        state.store(kPosted, std::memory_order_release);
        state.notify_all();
    }

    // For a started render: the caller is done with its chips. Renders chip 1
    // here when the thread has not taken it up; mixes when chip 1 is done.
    void arrive() {
        int expected = kPosted;
        if (state.compare_exchange_strong(expected, kIdle, std::memory_order_acq_rel)) {
            work();
            mix();
        } else if (arrivals.fetch_add(1, std::memory_order_acq_rel) == 1) {
            mix();
        }
    }

    // For a started render after arrive(): waits until it is mixed; true
    // when a sample was clipped.
    bool finish() {
        waitWhile(state, [](int v) { return v == kTaken; });
        state.store(kIdle, std::memory_order_relaxed);
        return mixClipped;
    }

    // Adds the posted job into buf, once it is done.
    void collect(int32_t* buf) {
        int expected = kPosted;
        if (state.compare_exchange_strong(expected, kIdle, std::memory_order_acq_rel)) {
            work();
        } else {
            waitWhile(state, [](int v) { return v == kTaken; });
            state.store(kIdle, std::memory_order_relaxed);
        }
        for (int i = 0; i < count; ++i) buf[i] += buffer[i];
    }
};

ChipPair::ChipPair() = default;

ChipPair::~ChipPair() { stopRenderThread(); }

bool ChipPair::create(uint32_t sampleRate, uint32_t clock, int volume) {
    std::lock_guard<std::mutex> lock(chipMutex_);
    settleLocked();
    pendingCount_ = 0;
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
    settleLocked();
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
    if (!helper) return;
    helper->state.store(RenderHelper::kQuit, std::memory_order_release);
    helper->state.notify_all();
    helper->thread.join();
}

bool ChipPair::renderThreadRunning() const { return helperRunning_.load(std::memory_order_acquire); }

// A chip-1 job of a started render must be done before anything else
// touches chip 1 or hands the thread a job: it is added to the started
// render's buffer now.
void ChipPair::settleLocked() {
    if (!pendingHelper_) return;
    pendingClipped_ = helper_->finish();
    pendingHelper_ = false;
}

void ChipPair::setVolume(int value) { volume_.store(std::clamp(value, 0, 255), std::memory_order_release); }

int ChipPair::volume() const { return volume_.load(std::memory_order_acquire); }

void ChipPair::renderWithQueue(int16_t* output, int count) {
    // Nothing to spend on key events: the queue waits for the next call.
    if (count <= 0) return;
    std::lock_guard<std::mutex> lock(chipMutex_);
    settleLocked();
    const int32_t vol = volume_.load(std::memory_order_acquire);
    bool clipped = false;
    while (count > 0) {
        const int n = std::min(count, static_cast<int>(mixBuffer_.size()));
        int32_t* buf = mixBuffer_.data();
        if (startLocked(buf, n)) helper_->collect(buf);
        if (scaleAndClip(buf, output, n, vol)) clipped = true;
        output += n;
        count -= n;
    }
    if (clipped) clipFlag.store(1, std::memory_order_release);
}

int ChipPair::startQueuedRender(int16_t* output, int count) {
    std::lock_guard<std::mutex> lock(chipMutex_);
    settleLocked();
    const int n = std::clamp(count, 0, static_cast<int>(pendingBuffer_.size()));
    if (n == 0) return 0;
    const int32_t vol = volume_.load(std::memory_order_acquire);
    int32_t* buf = pendingBuffer_.data();
    pendingHelper_ = startLocked(buf, n, output, vol);
    if (pendingHelper_) {
        helper_->arrive();
    } else {
        pendingClipped_ = scaleAndClip(buf, output, n, vol);
    }
    pendingCount_ = n;
    return n;
}

void ChipPair::finishQueuedRender() {
    std::lock_guard<std::mutex> lock(chipMutex_);
    settleLocked();
    if (pendingCount_ == 0) return;
    if (pendingClipped_) clipFlag.store(1, std::memory_order_release);
    pendingCount_ = 0;
}

// Called with chipMutex_ held and no chip-1 job outstanding. Applies the
// queue entries of n samples (n <= 2048) and renders into buf; true when
// chip 1's share went to the second thread, to be collected into buf (or,
// with mixOut, mixed into mixOut at the given volume: see arrive).
bool ChipPair::startLocked(int32_t* buf, int n, int16_t* mixOut, int32_t volume) {
    const uint8_t mask = channelMask_.load(std::memory_order_acquire);
    const bool audition = auditionEnabled_.load(std::memory_order_acquire);
    FmChip* const c0 = chips_[0].get();
    FmChip* const c1 = chips_[1].get();
    if (c0) c0->setChannelMask(mask & 7u);
    if (c1) c1->setChannelMask((mask >> 3) & 7u);
    RenderHelper* const helper = c1 ? helper_.get() : nullptr;
    if (helper) {
        // The entries this block takes: as many as reach its last sample.
        int end = queue_.applyPos;
        for (int pos = 0; pos < n && end < queue_.count; ++end)
            if (queue_.entries[end].reg == ym2203::kKeyOnOff) ++pos;
        helper->post(c1, queue_.entries.data() + queue_.applyPos, end - queue_.applyPos, n, mixOut ? buf : nullptr,
                     mixOut, volume);
    }
    FmChip* const here1 = helper ? nullptr : c1;
    FmChip* const writeTo[3] = {c0, here1, chips_[2].get()};
    FmChip* const renderTo[3] = {c0, here1, audition ? chips_[2].get() : nullptr};
    std::fill_n(buf, n, 0);
    queue_.applyPos = applyQueue(writeTo, renderTo, queue_.entries.data(), queue_.applyPos, queue_.count, buf, n);
    return helper != nullptr;
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
        RenderHelper* const helper = c1 ? helper_.get() : nullptr;
        if (helper) helper->post(c1, nullptr, 0, n);
        if (c0) c0->render(buf, n, true);
        else std::fill_n(buf, n, 0);
        if (c1 && !helper) c1->render(buf, n, false);
        if (c2) c2->render(buf, n, false);
        if (helper) helper->collect(buf);
        if (scaleAndClip(buf, output, n, vol)) clipped = true;
        output += n;
        count -= n;
    }
    if (clipped) clipFlag.store(1, std::memory_order_release);
}

}  // namespace qv
