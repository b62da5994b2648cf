#include "sound/player.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include "song/effects.h"
#include "sound/ym2203_registers.h"

namespace qv {

namespace {

constexpr int kLoopCountIdle = 16;

int pitchOfCell(const Cell& cell) { return (cell.octave * 12 + cell.note - 12) * 32; }

// Effect F as the length computation reads it: parameters above 15 set both
// speeds (an odd speed of 0 becomes 1), anything else sets the interleave to
// the low nibble, 0 included.
void lengthSpeedEffect(const Row& row, int& speedEven, int& speedOdd, int& interleave) {
    for (const Cell& cell : row) {
        if (cell.effect != kEffectSpeed) continue;
        if (cell.param > 15) {
            speedEven = cell.param >> 4;
            speedOdd = cell.param & 0x0F;
            if (speedOdd == 0) speedOdd = 1;
        } else {
            interleave = cell.param & 0x0F;
        }
    }
}

}  // namespace

Player::Player(Song& song, ChipPair& chips)
    : song_(song), chips_(chips), tables_(kChipClock), writer_(chips.queue(), song, tables_, channels_) {}

int Player::orderLength() const { return std::clamp<int>(song_.order.length, 1, kOrderEntries); }

int Player::patternLength(int pattern) const {
    return std::clamp<int>(song_.patterns[pattern & 0xFF].length, 1, kRows);
}

int Player::patternAt(int orderPosition) const {
    return song_.order.entries[std::clamp(orderPosition, 0, kOrderEntries - 1)].pattern;
}

PlayPosition Player::position() const {
    constexpr auto r = std::memory_order_relaxed;
    return PlayPosition{shownOrderPosition_.load(r), shownRow_.load(r),      shownPattern_.load(r),
                        shownSpeedEven_.load(r),     shownSpeedOdd_.load(r), shownInterleave_.load(r)};
}

void Player::publishPosition() {
    constexpr auto r = std::memory_order_relaxed;
    const bool changed = shownOrderPosition_.load(r) != orderPosition_ || shownRow_.load(r) != row_ ||
                         shownPattern_.load(r) != pattern_ || shownSpeedEven_.load(r) != speedEven_ ||
                         shownSpeedOdd_.load(r) != speedOdd_ || shownInterleave_.load(r) != interleave_;
    shownOrderPosition_.store(orderPosition_, r);
    shownRow_.store(row_, r);
    shownPattern_.store(pattern_, r);
    shownSpeedEven_.store(speedEven_, r);
    shownSpeedOdd_.store(speedOdd_, r);
    shownInterleave_.store(interleave_, r);
    if (changed)
        if (PositionListener* l = positionListener_.load(std::memory_order_acquire)) l->positionChanged();
}

void Player::resetChannels() {
    channels_.fill(PlayerChannel{});
    channel3Mode_ = 0;
}

void Player::clearState() {
    frameInRow_ = 0;
    speedEven_ = speedOdd_ = interleave_ = 0;
    interleaveCounter_ = 0;
    useOddSpeed_ = 0;
    orderPosition_ = pattern_ = row_ = 0;
    channel3Mode_ = 0;
    soloChannel_ = -1;
    stopAfterRow_ = loopPattern_ = stopOnRelease_ = false;
    loopCount_ = kLoopCountIdle;
    loopJump_ = false;
    loopSave_ = LoopSave{};
    wrapped_ = false;
}

// ---------------------------------------------------------------- start/stop

bool Player::start(int orderPosition, int row, bool stopAfterRow, bool loopPattern, bool stopOnRelease,
                   int soloChannel) {
    if (playing.load(std::memory_order_acquire)) return true;
    std::lock_guard<std::mutex> lock(songMutex_);

    clearState();
    resetChannels();
    stopAfterRow_ = stopAfterRow;
    loopPattern_ = loopPattern;
    stopOnRelease_ = stopOnRelease;
    soloChannel_ = soloChannel;

    if (orderPosition < 0 || orderPosition >= orderLength()) orderPosition = 0;
    pattern_ = patternAt(orderPosition);
    const int length = patternLength(pattern_);
    if (row >= length) row = length - 1;
    if (row < 0) row = 0;
    orderPosition_ = orderPosition;
    row_ = row;

    seekBackwards(orderPosition, row);

    const OrderEntry& entry = song_.order.entries[orderPosition];
    speedEven_ = std::max<int>(1, entry.speedEven);
    speedOdd_ = std::max<int>(1, entry.speedOdd);
    interleave_ = entry.interleave;
    // The speed effects of the rows before the start row. F00 here brings
    // back only the two speeds of the Song; the interleave stays.
    for (int r = 0; r < row; ++r) {
        for (const Cell& cell : song_.patterns[pattern_].rows[r]) {
            if (cell.effect != kEffectSpeed) continue;
            if (cell.param == 0) {
                speedEven_ = std::max(1, song_.speedEven);
                speedOdd_ = std::max(1, song_.speedOdd);
            } else if (cell.param <= 15) {
                interleave_ = cell.param;
            } else {
                speedEven_ = std::max(1, cell.param >> 4);
                speedOdd_ = std::max(1, cell.param & 0x0F);
            }
        }
        // ">=" rather than "==": an interleave lowered (or set to 0) on the
        // way must still close the group, as it does during playback.
        if (++interleaveCounter_ >= interleave_) {
            interleaveCounter_ = 0;
            useOddSpeed_ ^= 1;
        }
    }

    for (PlayerChannel& ch : channels_) ch.reloadInstrument = true;

    chips_.reset();
    chips_.queue().clear();
    publishPosition();
    playing.store(true, std::memory_order_release);
    return false;
}

void Player::seekBackwards(int orderPosition, int row) {
    std::array<bool, kChannels> haveInstrument{}, haveVolume{};
    int found = 0;
    for (int pos = orderPosition; pos >= 0 && found < 2 * kChannels; --pos) {
        const Pattern& pat = song_.patterns[patternAt(pos)];
        int r = pos == orderPosition ? row : std::clamp<int>(pat.length, 1, kRows) - 1;
        for (; r >= 0 && found < 2 * kChannels; --r) {
            for (int c = 0; c < kChannels; ++c) {
                const Cell& cell = pat.rows[r][c];
                if (!haveInstrument[c] && cell.instrument != 0) {
                    channels_[c].currentInstrument = cell.instrument;
                    haveInstrument[c] = true;
                    ++found;
                }
                if (!haveVolume[c] && cell.volume != 0) {
                    channels_[c].channelVolume = std::clamp(cell.volume * 8, 0, kMaxChannelVolume);
                    haveVolume[c] = true;
                    ++found;
                }
            }
        }
    }
    for (int c = 0; c < kChannels; ++c) {
        if (!haveInstrument[c]) channels_[c].currentInstrument = 1;
        if (!haveVolume[c]) channels_[c].channelVolume = kMaxChannelVolume;
    }
}

void Player::stop() {
    playing.store(false, std::memory_order_release);
    while (renderBusy.load(std::memory_order_acquire))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::lock_guard<std::mutex> lock(songMutex_);
    chips_.queue().clear();
    chips_.reset();
}

bool Player::stopIfHeld() {
    if (!stopOnRelease_) return false;
    stop();
    stopOnRelease_ = false;
    return true;
}

void Player::setPosition(int index) {
    if (!playing.load(std::memory_order_acquire)) return;
    if (index < 0 || index >= orderLength()) return;
    orderPosition_ = index;
    pattern_ = patternAt(index);
    row_ = 0;
    publishPosition();
}

// ---------------------------------------------------------------------- tick

bool Player::tick() {
    if (!playing.load(std::memory_order_acquire)) return false;
    chips_.queue().clear();
    wrapped_ = false;

    if (frameInRow_ == 0) {
        if (!readRow()) {
            // Stop after the row: its writes stay queued, nothing else runs.
            publishPosition();
            return false;
        }
    }
    for (int c = 0; c < kChannels; ++c) frameEffects(c);

    frameInRow_ = (frameInRow_ + 1) % std::max(1, currentSpeed());
    if (frameInRow_ == 0) {
        if (++interleaveCounter_ >= interleave_) {
            interleaveCounter_ = 0;
            useOddSpeed_ ^= 1;
        }
    }
    publishPosition();
    return wrapped_;
}

bool Player::readRow() {
    const Row& cells = song_.patterns[pattern_].rows[std::clamp(row_, 0, kRows - 1)];
    for (int c = 0; c < kChannels; ++c) readChannel(c, cells[c]);

    if (stopAfterRow_) {
        playing.store(false, std::memory_order_release);
        return false;
    }
    if (loopJump_) {
        loopJump_ = false;
        speedEven_ = loopSave_.speedEven;
        speedOdd_ = loopSave_.speedOdd;
        interleave_ = loopSave_.interleave;
        useOddSpeed_ = loopSave_.useOddSpeed;
        interleaveCounter_ = loopSave_.interleaveCounter;
        row_ = loopSave_.row;
        orderPosition_ = loopSave_.orderPosition;
        pattern_ = patternAt(orderPosition_);
        return true;
    }
    advanceRow();
    return true;
}

void Player::advanceRow() {
    if (++row_ < patternLength(pattern_)) return;
    row_ = 0;
    // The marker and wrap checks run even in pattern-loop mode, where the
    // position does not move; they then only matter if the order list was
    // shortened under the playing position.
    if (!loopPattern_) ++orderPosition_;
    const int length = orderLength();
    const int loopPosition = std::clamp<int>(song_.order.loopPosition, 0, length - 1);
    if (orderPosition_ == loopPosition) chips_.queue().push(0, 255, 0);
    if (orderPosition_ >= length) {
        orderPosition_ = loopPosition;
        wrapped_ = true;
    }
    pattern_ = patternAt(orderPosition_);
}

void Player::readChannel(int c, const Cell& cell) {
    PlayerChannel& ch = channels_[c];
    const int effect = cell.effect;
    const int param = cell.param;
    const int chipChannel = c % 3;

    // a.
    ch.cutFrame = ch.delayFrame = ch.retrigInterval = -1;

    // b. Channel 3 special mode of chip 0.
    if (effect == kEffectChannel3Mode) {
        if (channel3Mode_ == 0 && param != 0)
            chips_.queue().push(0, ym2203::kModeTimers, ym2203::kChannel3Special);
        else if (channel3Mode_ != 0 && param == 0)
            chips_.queue().push(0, ym2203::kModeTimers, 0x00);
        channel3Mode_ = param;
    }

    // c. Pan, and the frame counters of retrigger, cut and delay.
    if (effect == kEffectExtended) {
        const int x = param & 0x0F;
        switch (param & 0xF0) {
            case kExtPan: {
                const int v = param == 0x81 ? 0x80 : param == 0x82 ? 0x40 : 0xC0;
                writer_.queue(c, ym2203::kPanning + chipChannel, v);
                break;
            }
            case kExtRetrigger: if (x != 0) ch.retrigInterval = x; break;
            case kExtCut: if (x != 0) ch.cutFrame = x; break;
            case kExtDelay: if (x != 0) ch.delayFrame = x; break;
            default: break;
        }
    }

    // d. Note or key-off.
    if (cell.note != kNoteEmpty) {
        if (cell.note == kNoteKeyOff || effect != kEffectTonePorta) writer_.keyOff(c);
        if (cell.note != kNoteKeyOff) {
            int n = cell.instrument;
            if (ch.currentInstrument < 0 && n == 0) n = 1;
            if (ch.reloadInstrument && ch.currentInstrument > 0 && n == 0) n = ch.currentInstrument;
            const bool reloadEffect = effect == kEffectExtended && param == kExtReload;
            if ((n > 0 && n != ch.currentInstrument) || reloadEffect || ch.reloadInstrument) {
                // EE0 without an instrument in the cell loads the current one again.
                writer_.loadInstrument(c, n > 0 ? n : ch.currentInstrument, cell.volume, effect, param);
            } else {
                writer_.updateVolume(c, cell.volume * 8, effect, param);
            }
            if (effect == kEffectTonePorta) {
                ch.portamentoTarget = pitchOfCell(cell);
            } else {
                ch.arpeggioStep = 0;
                ch.arpeggioParam = 255;
                ch.arpeggioOffset = 0;
                ch.vibratoOffset = 0;
                ch.pitch = pitchOfCell(cell);
                writer_.writePitch(c, ch.pitch + ch.vibratoOffset + ch.arpeggioOffset, channel3Mode_);
                const bool otherThanSolo = soloChannel_ >= 0 && soloChannel_ != c;
                const bool heldBack =
                    effect == kEffectExtended && ((param & 0xF0) == kExtDelay || (param & 0xF0) == kExtKeyOnMask);
                if (!otherThanSolo && !heldBack) writer_.keyOn(c);
            }
        }
    } else if (cell.volume != 0) {
        // e.
        writer_.updateVolume(c, cell.volume * 8, effect, param);
    }

    // f, g.
    ch.channelEffect = effect;
    rememberEffect(c, cell);
}

void Player::rememberEffect(int c, const Cell& cell) {
    PlayerChannel& ch = channels_[c];
    const int param = cell.param;
    auto keep = [param](int& field) {
        if (param != 0) field = param;
    };
    switch (cell.effect) {
        case kEffectArpeggio:
            // Every effect-0 cell, empty ones included, restarts the cycle.
            keep(ch.arpeggioParam);
            ch.arpeggioStep = 0;
            break;
        case kEffectPortaUp: keep(ch.portaUpSpeed); break;
        case kEffectPortaDown: keep(ch.portaDownSpeed); break;
        case kEffectTonePorta: keep(ch.tonePortaSpeed); break;
        case kEffectVibrato:
            if (param & 0x0F) ch.vibratoParam = (ch.vibratoParam & 0xF0) | (param & 0x0F);
            if (param > 15) ch.vibratoParam = (ch.vibratoParam & 0x0F) | (param & 0xF0);
            break;
        case kEffectTonePortaSlide:
        case kEffectVibratoSlide:
        case kEffectVolumeSlide: keep(ch.volumeSlideParam); break;
        case kEffectLevel1:
        case kEffectLevel2:
        case kEffectLevel3:
        case kEffectLevel4:
            if (cell.volume == 0) writer_.updateVolume(c, ch.channelVolume, cell.effect, param);
            break;
        case kEffectExtended: effectE(c, param); break;
        case kEffectSpeed: speedEffect(param, speedEven_, speedOdd_, interleave_); break;
        default: break;
    }
}

void Player::effectE(int c, int param) {
    const int x = param & 0x0F;
    const int sub = param & 0xF0;
    const int chipChannel = c % 3;
    const Instrument* ins = writer_.currentInstrument(c);
    switch (sub) {
        case kExtMultiple1:
        case kExtMultiple1 + 0x10:
        case kExtMultiple1 + 0x20:
        case kExtMultiple4: {
            if (!ins) break;
            const int k = (sub >> 4) + 1;
            writer_.queue(c, ym2203::operatorRegister(ym2203::kDetuneMultiple, k, chipChannel),
                          dtCode(ins->operators[k - 1].DT) << 4 | x);
            break;
        }
        case kExtKeyOnMask: writer_.queue(c, ym2203::kKeyOnOff, ym2203::keyOnOff(chipChannel, x)); break;
        case kExtPatternLoop:
            if (loopEffect(x, loopCount_, loopSave_,
                           LoopSave{speedEven_, speedOdd_, interleave_, useOddSpeed_, interleaveCounter_, row_,
                                    orderPosition_}))
                loopJump_ = true;
            break;
        case kExtFeedback:
            if (!ins) break;
            writer_.queue(c, ym2203::kFeedbackAlgorithm + chipChannel, (x << 3 & 0x38) | (ins->algorithm & 7));
            break;
        default: break;
    }
}

void Player::speedEffect(int param, int& speedEven, int& speedOdd, int& interleave) const {
    if (param == 0) {
        // F00 here restores all three values of the Song.
        speedEven = std::max(1, song_.speedEven);
        speedOdd = std::max(1, song_.speedOdd);
        interleave = song_.interleave;
    } else if (param <= 15) {
        interleave = param;
    } else {
        speedEven = std::max(1, param >> 4);
        speedOdd = std::max(1, param & 0x0F);
    }
}

bool Player::loopEffect(int x, int& loopCount, LoopSave& save, const LoopSave& here) {
    if (x == 0) {
        if (save.row != here.row || save.orderPosition != here.orderPosition) {
            loopCount = 0;
            save = here;
        }
        return false;
    }
    if (loopCount >= x) return false;
    // Every pass that counts jumps back, the one that reaches x included:
    // E6x plays the section x + 1 times.
    if (++loopCount == x) loopCount = kLoopCountIdle;
    return true;
}

void Player::frameEffects(int c) {
    PlayerChannel& ch = channels_[c];
    const int effect = ch.channelEffect;
    bool pitchChanged = false;
    bool volumeChanged = false;

    // 1. Tone portamento (3, and 5 with the target it already has).
    if ((effect == kEffectTonePorta || effect == kEffectTonePortaSlide) && ch.portamentoTarget >= 0) {
        const int before = ch.pitch;
        if (ch.pitch >= ch.portamentoTarget)
            ch.pitch = std::max(ch.pitch - ch.tonePortaSpeed, ch.portamentoTarget);
        else
            ch.pitch = std::min(ch.pitch + ch.tonePortaSpeed, ch.portamentoTarget);
        pitchChanged |= ch.pitch != before;
    }
    // 2. Vibrato.
    if (effect == kEffectVibrato || effect == kEffectVibratoSlide) {
        const int offset = tables_.vibrato(ch.vibratoParam & 0x0F, ch.vibratoPhase / 2);
        ch.vibratoPhase = (ch.vibratoPhase + (ch.vibratoParam >> 4)) & 63;
        pitchChanged |= offset != ch.vibratoOffset;
        ch.vibratoOffset = offset;
    }
    // 3. Portamento up/down, volume slide.
    if (effect == kEffectPortaUp) {
        const int before = ch.pitch;
        ch.pitch = std::min(ch.pitch + ch.portaUpSpeed, kMaxEnginePitch);
        pitchChanged |= ch.pitch != before;
    } else if (effect == kEffectPortaDown) {
        const int before = ch.pitch;
        ch.pitch = std::max(ch.pitch - ch.portaDownSpeed, 0);
        pitchChanged |= ch.pitch != before;
    } else if (effect == kEffectTonePortaSlide || effect == kEffectVibratoSlide ||
               effect == kEffectVolumeSlide) {
        const int down = ch.volumeSlideParam & 0x0F;
        const int up = ch.volumeSlideParam >> 4;
        if (down && ch.channelVolume > 0) {
            ch.channelVolume = std::max(ch.channelVolume - down, 0);
            volumeChanged = true;
        }
        if (up && ch.channelVolume < kMaxChannelVolume) {
            ch.channelVolume = std::min(ch.channelVolume + up, kMaxChannelVolume);
            volumeChanged = true;
        }
    }
    // 4. Arpeggio.
    if (ch.arpeggioParam != 255) {
        ch.arpeggioOffset = ch.arpeggioStep == 0   ? 0
                            : ch.arpeggioStep == 1 ? (ch.arpeggioParam >> 4) * 32
                                                   : (ch.arpeggioParam & 0x0F) * 32;
        ch.arpeggioStep = (ch.arpeggioStep + 1) % 3;
        pitchChanged = true;
    } else if (ch.arpeggioOffset != 0) {
        ch.arpeggioOffset = 0;
        pitchChanged = true;
    }
    // 5. Retrigger, cut, delay (these key-ons ignore the solo channel).
    if (ch.retrigInterval > 0 && frameInRow_ % ch.retrigInterval == 0) {
        writer_.keyOff(c);
        writer_.keyOn(c);
    }
    if (ch.cutFrame == frameInRow_) writer_.keyOff(c);
    if (ch.delayFrame == frameInRow_) {
        writer_.keyOff(c);
        writer_.keyOn(c);
    }
    // 6. Vibrato ends with its effect.
    if (effect != kEffectVibrato && effect != kEffectVibratoSlide && ch.vibratoOffset != 0) {
        ch.vibratoOffset = 0;
        ch.vibratoPhase = 0;
        pitchChanged = true;
    }
    // 7, 8.
    if (pitchChanged)
        writer_.writePitch(c, ch.pitch + ch.vibratoOffset + ch.arpeggioOffset, channel3Mode_);
    if (volumeChanged) writer_.updateVolume(c, ch.channelVolume, 0, 0);
}

// -------------------------------------------------------------------- timing

int Player::songLengthFrames() {
    int speedEven = song_.speedEven;
    int speedOdd = song_.speedOdd;
    int interleave = song_.interleave;
    int toggle = 0, counter = 0, total = 0;
    for (int pos = 0; pos < orderLength(); ++pos) {
        OrderEntry& entry = song_.order.entries[pos];
        entry.speedEven = static_cast<uint8_t>(speedEven);
        entry.speedOdd = static_cast<uint8_t>(speedOdd);
        entry.interleave = static_cast<uint8_t>(interleave);
        entry.framesBefore = total;
        const Pattern& pat = song_.patterns[entry.pattern];
        const int length = patternLength(entry.pattern);
        for (int r = 0; r < length; ++r) {
            lengthSpeedEffect(pat.rows[r], speedEven, speedOdd, interleave);
            total += toggle ? speedOdd : speedEven;
            if (counter + 1 >= interleave) toggle ^= 1;
            counter = counter + 1 < interleave ? counter + 1 : 0;
        }
    }
    return total;
}

int Player::framesAt(int orderPosition, int row) {
    // Past the end of the list the song is over: its whole length. (The
    // entries there keep whatever timing they had when they were in use.)
    if (orderPosition >= orderLength()) return songLengthFrames();
    const OrderEntry& entry = song_.order.entries[std::clamp(orderPosition, 0, kOrderEntries - 1)];
    int speedEven = entry.speedEven;
    int speedOdd = entry.speedOdd;
    int interleave = entry.interleave;
    int toggle = 0, counter = 0;
    int total = entry.framesBefore;
    const Pattern& pat = song_.patterns[entry.pattern];
    const int rows = std::min(row, patternLength(entry.pattern));
    for (int r = 0; r < rows; ++r) {
        lengthSpeedEffect(pat.rows[r], speedEven, speedOdd, interleave);
        total += toggle ? speedOdd : speedEven;
        if (++counter >= interleave) {
            toggle ^= 1;
            counter = 0;
        }
    }
    return total;
}

int Player::passFrames() {
    songLengthFrames();
    // The state start(0, 0, ...) sets up, then readRow and the advance at
    // the end of each row, one row at a time.
    const OrderEntry& first = song_.order.entries[0];
    int speedEven = std::max<int>(1, first.speedEven);
    int speedOdd = std::max<int>(1, first.speedOdd);
    int interleave = first.interleave;
    int counter = 0, odd = 0;
    int orderPosition = 0, row = 0;
    int loopCount = kLoopCountIdle;
    LoopSave save{};
    const int length = orderLength();
    const int loopPosition = std::clamp<int>(song_.order.loopPosition, 0, length - 1);
    int64_t total = 0;
    while (total < kPassCeiling) {
        const int pattern = patternAt(orderPosition);
        bool jump = false;
        for (const Cell& cell : song_.patterns[pattern].rows[std::clamp(row, 0, kRows - 1)]) {
            if (cell.effect == kEffectSpeed) {
                speedEffect(cell.param, speedEven, speedOdd, interleave);
            } else if (cell.effect == kEffectExtended && (cell.param & 0xF0) == kExtPatternLoop) {
                jump |= loopEffect(cell.param & 0x0F, loopCount, save,
                                   LoopSave{speedEven, speedOdd, interleave, odd, counter, row, orderPosition});
            }
        }
        bool wrapped = false;
        if (jump) {
            speedEven = save.speedEven;
            speedOdd = save.speedOdd;
            interleave = save.interleave;
            odd = save.useOddSpeed;
            counter = save.interleaveCounter;
            row = save.row;
            orderPosition = save.orderPosition;
        } else if (++row >= patternLength(pattern)) {
            row = 0;
            if (++orderPosition >= length) {
                orderPosition = loopPosition;
                wrapped = true;
            }
        }
        // The row lasts the speed in force once it has been read.
        total += std::max(1, odd ? speedOdd : speedEven);
        if (++counter >= interleave) {
            counter = 0;
            odd ^= 1;
        }
        if (wrapped) break;
    }
    return static_cast<int>(std::min<int64_t>(total, kPassCeiling));
}

}  // namespace qv
