#include "document/song_document.h"

#include <chrono>

#include "song/module_file.h"
#include "sound/player.h"

namespace qv {

namespace {

int64_t steadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Every field of a Song but its patterns.
void copyAllButPatterns(const Song& from, Song& to) {
    to.order = from.order;
    to.instruments = from.instruments;
    to.speedEven = from.speedEven;
    to.speedOdd = from.speedOdd;
    to.interleave = from.interleave;
    to.trackName = from.trackName;
    to.author = from.author;
    to.message = from.message;
    to.created = from.created;
    to.saved = from.saved;
    to.saveCount = from.saveCount;
}

// Patterns copied per hold of the lock while copying a song (about 200 kB).
constexpr int kPatternsPerSlice = 16;

}  // namespace

SongDocument::HeldLock::HeldLock(const SongDocument& doc)
    : doc_(doc), lock_(doc.mutex()), start_(std::chrono::steady_clock::now()) {}

SongDocument::HeldLock::~HeldLock() {
    const int64_t ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start_).count();
    int64_t longest = doc_.longestHoldNs_.load(std::memory_order_relaxed);
    while (ns > longest && !doc_.longestHoldNs_.compare_exchange_weak(longest, ns, std::memory_order_relaxed)) {
    }
}

SongDocument::SongDocument(Song& song, Player& player)
    : song_(song), player_(player), scratch_(std::make_unique<SongSnapshot>()), clock_(steadyMs) {}

SongDocument::~SongDocument() = default;

std::mutex& SongDocument::mutex() const { return player_.songMutex(); }

void SongDocument::afterChangeLocked(unsigned parts) {
    SongChange c = SongChange::part(parts);
    if (c.touches(SongChange::WholeSong)) player_.resetChannels();
    if (c.touchesTiming()) lengthFrames_ = player_.passFrames();
    generation_.fetch_add(1, std::memory_order_release);
}

bool SongDocument::edit(const std::string& what, const SongChange& scope,
                        const std::function<void(Song&)>& change, const std::string& mergeKey) {
    // This thread is the only writer, so the state before may be read unlocked.
    scratch_->take(song_, scope);
    {
        HeldLock lock(*this);
        change(song_);
        afterChangeLocked(scope.parts);
    }
    auto step = std::make_unique<UndoStep>();
    step->change = scope;
    if (!step->diff(*scratch_, song_)) return false;
    // Timing changed in a part the scope did not name (a caller's slip): the
    // cache follows all the same.
    if (step->change.touchesTiming() && !scope.touchesTiming()) refreshTiming();
    if (placeSource_) placeSource_(step->change);
    step->what = what;
    step->mergeKey = mergeKey;
    const int64_t now = clock_();
    step->lastMs = now;
    SongChange told = step->change;
    if (UndoStep* top = history_.mergeTarget(mergeKey, now, mergeWindowMs_)) {
        const size_t before = top->bytes();
        top->absorb(*step, song_);
        top->lastMs = now;
        history_.grew(before, top->bytes());
    } else {
        history_.push(std::move(step));
    }
    notify(told);
    return true;
}

bool SongDocument::undo() { return swapStep(history_.takeUndo(), SongChange::Cause::Undo); }

bool SongDocument::redo() { return swapStep(history_.takeRedo(), SongChange::Cause::Redo); }

// Undo and redo alike: the step swaps its contents with the song's.
bool SongDocument::swapStep(UndoStep* step, SongChange::Cause cause) {
    if (!step) return false;
    {
        HeldLock lock(*this);
        step->exchange(song_);
        afterChangeLocked(step->change.parts);
    }
    SongChange c = step->change;
    c.cause = cause;
    notify(c);
    return true;
}

void SongDocument::setClean() { history_.setClean(); }

int SongDocument::load(const std::filesystem::path& path) {
    auto fresh = std::make_unique<Song>();
    const int result = loadModule(*fresh, path);  // the disk, without the lock
    if (result != kModuleLoaded) return result;
    {
        HeldLock lock(*this);
        song_ = *fresh;
        afterChangeLocked(SongChange::WholeSong);
    }
    history_.reset(true);
    SongChange c = SongChange::wholeSong();
    c.cause = SongChange::Cause::Load;
    notify(c);
    return result;
}

bool SongDocument::save(const std::filesystem::path& path) {
    auto copy = std::make_unique<Song>();
    copySongInto(*copy);
    if (!saveModule(*copy, path)) return false;  // the disk, without the lock
    {
        HeldLock lock(*this);
        song_.saved = copy->saved;
        song_.saveCount = copy->saveCount;
        generation_.fetch_add(1, std::memory_order_release);
    }
    history_.setClean();
    SongChange c = SongChange::texts();
    c.cause = SongChange::Cause::Save;
    notify(c);
    return true;
}

Song SongDocument::copySong() const {
    auto copy = std::make_unique<Song>();
    copySongInto(*copy);
    return *copy;
}

void SongDocument::copySongInto(Song& out) const {
    // A few patterns per hold of the lock; a change between two slices (only
    // possible when another thread copies) starts the copy again, and the
    // third try copies in one hold.
    for (int attempt = 0; attempt < 2; ++attempt) {
        uint64_t generation = 0;
        bool whole = true;
        for (int p = 0; p < kPatterns && whole; p += kPatternsPerSlice) {
            HeldLock lock(*this);
            if (p == 0) {
                generation = generation_.load(std::memory_order_acquire);
                copyAllButPatterns(song_, out);
            } else if (generation_.load(std::memory_order_acquire) != generation) {
                whole = false;
                break;
            }
            for (int q = p; q < p + kPatternsPerSlice && q < kPatterns; ++q) out.patterns[q] = song_.patterns[q];
        }
        if (whole) return;
    }
    HeldLock lock(*this);
    out = song_;
}

void SongDocument::replaceSong(const Song& song, bool modified, const std::string& what) {
    if (!what.empty()) {
        edit(what, SongChange::wholeSong(), [&song](Song& s) { s = song; });
        return;
    }
    {
        HeldLock lock(*this);
        song_ = song;
        afterChangeLocked(SongChange::WholeSong);
    }
    history_.reset(!modified);
    SongChange c = SongChange::wholeSong();
    c.cause = SongChange::Cause::Replace;
    notify(c);
}

int SongDocument::addListener(Listener l) {
    const int id = nextListener_++;
    listeners_.emplace(id, std::move(l));
    return id;
}

void SongDocument::removeListener(int id) { listeners_.erase(id); }

void SongDocument::notify(const SongChange& change) {
    // A listener may remove itself (or another) while being told.
    std::vector<int> ids;
    for (const auto& [id, l] : listeners_) ids.push_back(id);
    for (int id : ids) {
        auto it = listeners_.find(id);
        if (it != listeners_.end()) {
            Listener l = it->second;
            l(change);
        }
    }
}

int SongDocument::framesAt(int orderPosition, int row) {
    HeldLock lock(*this);
    return player_.framesAt(orderPosition, row);
}

void SongDocument::buildNoteTables(uint32_t clock) {
    HeldLock lock(*this);
    player_.buildNoteTables(clock);
}

void SongDocument::setPlayPosition(int orderPosition) {
    HeldLock lock(*this);
    player_.setPosition(orderPosition);
}

void SongDocument::refreshTiming() {
    HeldLock lock(*this);
    lengthFrames_ = player_.passFrames();
}

}  // namespace qv
