#include "editor/pattern_input.h"

#include <algorithm>

#include "song/effects.h"
#include "sound/ym2203_registers.h"

namespace qv {

namespace {

constexpr int kColumns = kChannels * 8;

}  // namespace

PatternInput::PatternInput(AppContext& ctx, QObject* parent) : QObject(parent), ctx_(ctx) {
    options.autoStepOn = ctx.settings.autoStepOn;
    options.autoStepValue = std::clamp(ctx.settings.autoStep, 0, 256);
}

// ---- helpers -----------------------------------------------------------------

Pattern& PatternInput::pattern() { return ctx_.song->patterns[ctx_.view.currentPattern & 0xFF]; }

int PatternInput::patternLength() const {
    return std::clamp<int>(ctx_.song->patterns[ctx_.view.currentPattern & 0xFF].length, 1, kRows);
}

Cell& PatternInput::cursorCell() {
    return pattern().rows[std::clamp(ctx_.view.cursorRow, 0, kRows - 1)][ctx_.view.cursorChannel()];
}

Block PatternInput::selectionBlock() const {
    const Selection& s = ctx_.view.selection;
    return Block{ctx_.view.currentPattern, s.x, s.y, s.w, s.h};
}

int PatternInput::speedEffectSum() const {
    const Pattern& p = ctx_.song->patterns[ctx_.view.currentPattern & 0xFF];
    int sum = 0;
    for (int r = 0; r < std::min<int>(p.length, kRows); ++r)
        for (const Cell& c : p.rows[r]) {
            if (c.effect == kEffectSpeed) sum += c.param + 2048;
            // Pattern loops change the played pass, which the total shows.
            if (c.effect == kEffectExtended && (c.param & 0xF0) == kExtPatternLoop) sum += c.param + 4096 + r * 256;
        }
    return sum;
}

void PatternInput::changed() { emit redrawNeeded(); }

bool PatternInput::edit(const char* what, const std::function<void(Song&)>& change, const std::string& mergeKey,
                        bool lengthToo) {
    const int p = ctx_.view.currentPattern & 0xFF;
    const SongChange scope = lengthToo ? SongChange::patternLength(p) : SongChange::cells(p);
    return ctx_.document.edit(what, scope, change, mergeKey);
}

std::string PatternInput::typingKey() const {
    return "typing " + std::to_string(ctx_.view.currentPattern & 0xFF);
}

void PatternInput::finishEdit(int sumBefore) {
    // The document has already refreshed the timing cache.
    if (speedEffectSum() != sumBefore) emit songLengthChanged();
    changed();
}

void PatternInput::deriveSelection() {
    Selection& s = ctx_.view.selection;
    s.x = std::min(anchor_.startChannel, anchor_.endChannel);
    s.y = std::min(anchor_.startRow, anchor_.endRow);
    s.w = std::abs(anchor_.endChannel - anchor_.startChannel) + 1;
    s.h = std::abs(anchor_.endRow - anchor_.startRow) + 1;
}

void PatternInput::extendSelection() {
    if (!selecting_) return;
    anchor_.endChannel = ctx_.view.cursorChannel();
    anchor_.endRow = ctx_.view.cursorRow;
    deriveSelection();
}

void PatternInput::setOctave(int octave) {
    options.octave = std::clamp(octave, 1, 8);
    emit octaveChanged(options.octave);
}

void PatternInput::setAutoStep(bool on, int value) {
    options.autoStepOn = on;
    options.autoStepValue = std::clamp(value, 0, 256);
    ctx_.settings.autoStepOn = on;
    ctx_.settings.autoStep = options.autoStepValue;
    emit autoStepChanged(on, options.autoStepValue);
}

void PatternInput::reset() {
    selecting_ = false;
    anchor_ = Anchor{};
    ctx_.view.selection = Selection{};
}

// ---- cursor ------------------------------------------------------------------

void PatternInput::moveCursor(int delta, bool page) { moveCursorBy(delta, page, false); }

void PatternInput::moveCursorBy(int delta, bool page, bool evenWhilePlaying) {
    if (ctx_.view.noPatternSelected) return;
    const bool locked = options.followSong && songPlaying();
    if (!evenWhilePlaying && locked) return;
    EditorViewState& v = ctx_.view;
    const Song& song = *ctx_.song;
    int row = v.cursorRow + delta;
    if (options.editSong) {
        const int orderLength = std::clamp<int>(song.order.length, 1, kOrderEntries);
        auto lengthAt = [&](int pos) {
            return std::clamp<int>(song.patterns[song.order.entries[pos].pattern].length, 1, kRows);
        };
        int pos = std::clamp(v.orderCursor, 0, orderLength - 1);
        while (row < 0) {
            if (pos == 0) {
                row = 0;
                break;
            }
            --pos;
            row += lengthAt(pos);
        }
        while (row >= lengthAt(pos)) {
            if (pos >= orderLength - 1) {
                row = lengthAt(pos) - 1;
                break;
            }
            row -= lengthAt(pos);
            ++pos;
        }
        v.cursorRow = row;
        if (pos != v.orderCursor) setOrderPosition(pos, !evenWhilePlaying && options.followSong);
    } else {
        const int len = patternLength();
        if (page)
            row = std::clamp(row, 0, len - 1);
        else
            row = ((row % len) + len) % len;  // steps longer than the pattern wrap too
        v.cursorRow = row;
    }
    extendSelection();
    emit timeChanged();
}

void PatternInput::setOrderPosition(int position, bool tellPlayer) {
    EditorViewState& v = ctx_.view;
    v.orderCursor = position;
    v.currentPattern = ctx_.song->order.entries[position].pattern;
    if (tellPlayer && songPlaying()) ctx_.document.setPlayPosition(position);
    emit orderCursorChanged();
}

void PatternInput::setColumn(int column) {
    const int before = ctx_.view.cursorChannel();
    ctx_.view.cursorColumn = ((column % kColumns) + kColumns) % kColumns;
    if (ctx_.view.cursorChannel() != before) emit cursorChannelChanged(ctx_.view.cursorChannel());
    extendSelection();
}

// ---- playback ------------------------------------------------------------------

bool PatternInput::songPlaying() const { return ctx_.player.isPlaying() && !ctx_.player.stopAfterRow(); }

void PatternInput::soundRow(int soloChannel) {
    ctx_.player.start(ctx_.view.orderCursor, ctx_.view.cursorRow, true, false, false, soloChannel);
}

// ---- keys ------------------------------------------------------------------------

bool PatternInput::handleKeyDown() {
    const KeyboardLayout& k = ctx_.layout;
    EditorViewState& v = ctx_.view;
    notesHeld_ = anyNoteHeld();
    for (int n = 1; n <= 8; ++n)
        if (k.firesOnce(cmd::octave(n))) {
            setOctave(n);
            return true;
        }
    if (v.noPatternSelected) return false;

    if (k.firesOnce(cmd::PtnSelectAll)) {
        EditSelectAllClick();
        return true;
    }
    if (k.firesOnce(cmd::PtnSelectChn)) {
        anchor_ = Anchor{v.cursorChannel(), 0, v.cursorChannel(), patternLength() - 1};
        deriveSelection();
        changed();
        return true;
    }
    if (k.firesOnce(cmd::PtnUnselect)) {
        EditUnselectAllClick();
        return true;
    }
    if (k.firesOnce(cmd::PtnTransSemiUp)) return transpose(1), true;
    if (k.firesOnce(cmd::PtnTransSemiDown)) return transpose(-1), true;
    if (k.firesOnce(cmd::PtnTransOctUp)) return transpose(12), true;
    if (k.firesOnce(cmd::PtnTransOctDown)) return transpose(-12), true;
    if (k.firesOnce(cmd::PtnAssignInstr)) return BlockAssignInstrumentClick(), true;
    if (k.firesOnce(cmd::PtnCut)) return EditCutClick(), true;
    if (k.firesOnce(cmd::PtnCopy)) return EditCopyClick(), true;
    if (k.firesOnce(cmd::PtnPaste)) return EditPasteClick(), true;
    if (k.firesOnce(cmd::PtnPasteOver)) return EditPasteOverClick(), true;
    if (k.firesOnce(cmd::PtnDelete)) return EditDeleteClick(), true;

    const int orderLength = ctx_.song->order.length;
    if (k.firesOnce(cmd::PtnOrdPrev) && v.orderCursor > 0) {
        setOrderPosition(v.orderCursor - 1, options.followSong);
        v.cursorRow = std::min(v.cursorRow, patternLength() - 1);
        emit timeChanged();
        changed();
        return true;
    }
    if (k.firesOnce(cmd::PtnOrdNext) && v.orderCursor < orderLength - 1) {
        setOrderPosition(v.orderCursor + 1, options.followSong);
        v.cursorRow = std::min(v.cursorRow, patternLength() - 1);
        emit timeChanged();
        changed();
        return true;
    }
    if (k.firesOnce(cmd::PtnToOrder)) {
        emit focusOrderRequested();
        return true;
    }
    if (k.firesOnce(cmd::PtnEditSong)) {
        options.editSong = !options.editSong;
        emit editSongToggled(options.editSong);
        return true;
    }
    if (!selecting_ && k.firesOnce(cmd::PtnSelectKey)) {
        selecting_ = true;
        anchor_ = Anchor{v.cursorChannel(), v.cursorRow, v.cursorChannel(), v.cursorRow};
        deriveSelection();
        changed();
        return true;
    }
    if (cursorKeys()) return true;
    if (editKeys()) return true;
    return valueEntry();
}

bool PatternInput::cursorKeys() {
    const KeyboardLayout& k = ctx_.layout;
    EditorViewState& v = ctx_.view;
    bool moved = true;
    if (k.firesRepeated(cmd::PtnCurLeft))
        setColumn(v.cursorColumn - 1);
    else if (k.firesRepeated(cmd::PtnCurRight))
        setColumn(v.cursorColumn + 1);
    else if (k.firesRepeated(cmd::PtnCurUp))
        moveCursor(-1, false);
    else if (k.firesRepeated(cmd::PtnCurDown))
        moveCursor(1, false);
    else if (k.firesRepeated(cmd::PtnPageUp))
        moveCursor(-ctx_.settings.patternEditorPageStep, true);
    else if (k.firesRepeated(cmd::PtnPageDown))
        moveCursor(ctx_.settings.patternEditorPageStep, true);
    else if (k.firesOnce(cmd::PtnHome))
        moveCursor(-v.cursorRow, true);
    else if (k.firesOnce(cmd::PtnEnd))
        moveCursor(patternLength() - 1 - v.cursorRow, true);
    else if (k.firesRepeated(cmd::PtnNextChan))
        setColumn(v.cursorColumn + 8);
    else if (k.firesRepeated(cmd::PtnPrevChan))
        setColumn(v.cursorColumn - 8);
    else
        moved = false;
    if (moved) changed();
    return moved;
}

bool PatternInput::editKeys() {
    const KeyboardLayout& k = ctx_.layout;
    EditorViewState& v = ctx_.view;
    const int step = options.autoStep();
    if (k.firesRepeated(cmd::PtnAutoStepInc)) {
        setAutoStep(true, std::min(options.autoStepValue + 1, 256));
        return true;
    }
    if (k.firesRepeated(cmd::PtnAutoStepDec)) {
        setAutoStep(true, std::max(options.autoStepValue - 1, 0));
        return true;
    }
    if (k.firesRepeated(cmd::PtnInsNote)) return InsertNoteClick(), true;
    if (k.firesRepeated(cmd::PtnInsLine)) return InsertLineClick(), true;
    if (k.firesRepeated(cmd::PtnDelNote)) return DeleteNoteClick(), true;
    if (k.firesRepeated(cmd::PtnDelLine)) return DeleteLineClick(), true;

    const int sum = speedEffectSum();
    if (k.firesRepeated(cmd::PtnClrNote)) {
        edit("Clear note", [&](Song&) {
            cursorCell() = Cell{};
        }, typingKey());
        moveCursor(step, false);
        finishEdit(sum);
        return true;
    }
    if (k.firesRepeated(cmd::PtnInpRepeat)) {
        edit("Repeat value", [&](Song&) {
            Cell& c = cursorCell();
            switch (v.cursorField()) {
                case 0:
                    if (last_.note != 255) {
                        c.note = static_cast<int16_t>(last_.note);
                        c.octave = static_cast<int8_t>(last_.octave);
                    }
                    break;
                case 1:
                case 2:
                    if (last_.volume != 0) c.volume = static_cast<int8_t>(last_.volume);
                    break;
                case 3:
                case 4:
                    if (last_.instrument != 0) c.instrument = static_cast<int16_t>(last_.instrument);
                    break;
                default:
                    if (last_.effect != 0) c.effect = static_cast<int8_t>(last_.effect);
                    if (last_.param != 0) c.param = static_cast<uint8_t>(last_.param);
                    break;
            }
        }, typingKey());
        moveCursor(step, false);
        finishEdit(sum);
        return true;
    }
    if (k.firesRepeated(cmd::PtnPatternPrev)) {
        emit patternStepRequested(-1);
        return true;
    }
    if (k.firesRepeated(cmd::PtnPatternNext)) {
        emit patternStepRequested(1);
        return true;
    }
    if (k.firesRepeated(cmd::PtnInstrPrev) || k.firesRepeated(cmd::PtnInstrNext)) {
        const int delta = k.firesRepeated(cmd::PtnInstrPrev) ? -1 : 1;
        options.autoInstrument = std::clamp(options.autoInstrument + delta, 0, 255);
        emit autoInstrumentChanged(options.autoInstrument);
        return true;
    }
    if (k.firesRepeated(cmd::PtnClrLine)) {
        edit("Clear row", [&](Song&) {
            pattern().rows[v.cursorRow].fill(Cell{});
        }, typingKey());
        moveCursor(step, false);
        finishEdit(sum);
        return true;
    }
    if (k.firesRepeated(cmd::PtnClrField)) {
        edit("Clear field", [&](Song&) {
            Cell& c = cursorCell();
            switch (v.cursorField()) {
                case 0:
                    c.note = kNoteEmpty;
                    break;
                case 1:
                case 2:
                    c.volume = 0;
                    break;
                case 3:
                case 4:
                    c.instrument = 0;
                    break;
                default:
                    c.effect = 0;
                    c.param = 0;
                    break;
            }
        }, typingKey());
        moveCursor(step, false);
        finishEdit(sum);
        return true;
    }
    if (k.firesOnce(cmd::PtnPlay) || k.firesOnce(cmd::PtnPlayLoop)) {
        if (!songPlaying()) {
            if (ctx_.player.isPlaying()) ctx_.player.stop();  // an entry's one-row sound gives way
            const bool loop = !k.firesOnce(cmd::PtnPlay);
            ctx_.player.start(v.orderCursor, v.cursorRow, false, loop, true, -1);
            emit playStarted();
        }
        return true;
    }
    return false;
}

int PatternInput::hexDigitKey() const {
    const bool repeat = ctx_.settings.patternEditorAutorepeat;
    auto pressed = [&](int code) {
        const int s = ctx_.layout.keyState(code);
        return repeat ? s != 0 : s == 1;
    };
    for (int d = 0; d < 10; ++d)
        if (pressed(vk::digit(d))) return d;
    for (int d = 0; d < 6; ++d)
        if (pressed(vk::letter(static_cast<char>('A' + d)))) return 10 + d;
    return -1;
}

bool PatternInput::valueEntry() {
    const KeyboardLayout& k = ctx_.layout;
    EditorViewState& v = ctx_.view;
    const int sum = speedEffectSum();
    bool entered = false;
    bool sound = false;
    int solo = -1;

    if (v.cursorField() == 0) {
        if (k.firesOnce(cmd::PtnPlayLine)) sound = true;
        if (k.firesOnce(cmd::PtnPlayNote)) {
            sound = true;
            solo = v.cursorChannel();
        }
        const bool repeat = ctx_.settings.patternEditorAutorepeat;
        auto fires = [&](int command) { return repeat ? k.firesRepeated(command) : k.firesOnce(command); };
        int note = -1;
        int octave = 1;
        if (fires(cmd::NoteOff)) {
            note = kNoteKeyOff;
        } else {
            for (int n = 0; n < 36; ++n)
                if (fires(cmd::NoteFirst + n)) {
                    octave = options.octave + n / 12;
                    note = n % 12;
                    break;
                }
        }
        if (note >= 0 && octave <= 8) {
            int cellInstrument = 0;
            edit("Type note", [&](Song&) {
                Cell& c = cursorCell();
                c.note = static_cast<int16_t>(note);
                c.octave = static_cast<int8_t>(octave);
                cellInstrument = c.instrument;
                if (c.instrument == 0 && options.autoInstrumentOn && note != kNoteKeyOff)
                    c.instrument = static_cast<int16_t>(std::clamp(options.autoInstrument, 0, 255));
                if (options.autoVolumeOn) c.volume = static_cast<int8_t>(std::clamp(options.autoVolume, 0, 31));
            }, typingKey());
            last_.note = note;
            last_.octave = octave;
            if (cellInstrument != 0) {
                options.autoInstrument = cellInstrument;
                emit autoInstrumentChanged(cellInstrument);
            }
            entered = true;
            sound = true;
        }
    } else {
        const int d = hexDigitKey();
        if (d >= 0) {
            edit("Type value", [&](Song&) {
                Cell& c = cursorCell();
                switch (v.cursorField()) {
                    case 1:
                        c.volume = static_cast<int8_t>(std::min(31, d * 16 + c.volume % 16));
                        last_.volume = c.volume;
                        sound = true;
                        break;
                    case 2:
                        c.volume = static_cast<int8_t>(std::min(31, c.volume / 16 * 16 + d));
                        last_.volume = c.volume;
                        sound = true;
                        break;
                    case 3:
                        c.instrument = static_cast<int16_t>(d * 16 + c.instrument % 16);
                        last_.instrument = c.instrument;
                        sound = true;
                        break;
                    case 4:
                        c.instrument = static_cast<int16_t>(c.instrument / 16 * 16 + d);
                        last_.instrument = c.instrument;
                        sound = true;
                        break;
                    case 5:
                        c.effect = static_cast<int8_t>(d);
                        last_.effect = d;
                        break;
                    case 6:
                        c.param = static_cast<uint8_t>(d * 16 + c.param % 16);
                        last_.param = c.param;
                        break;
                    default:
                        c.param = static_cast<uint8_t>(c.param / 16 * 16 + d);
                        last_.param = c.param;
                        break;
                }
            }, typingKey());
            entered = true;
        }
    }

    if (!entered && !sound) {
        // Arrows and Tab stay with the view even when no command took them.
        for (int code : {vk::Left, vk::Right, vk::Up, vk::Down, vk::Tab})
            if (k.keyState(code) != 0) return true;
        return false;
    }
    // The document put a new speed into the cached timing before the row sounds.
    // The cursor stays still only under a song that was already playing and
    // followed. The one-row sound of an earlier entry holds neither the cursor
    // nor this entry's sound: it gives way, so every entry lands on its own row
    // and is heard however fast the keys come. A song that plays on while the
    // cursor is free is not cut short by the one-row sound of an edit.
    const bool wasPlaying = songPlaying();
    if (sound && !wasPlaying && ctx_.player.isPlaying()) ctx_.player.stop();
    if (sound && !(wasPlaying && !options.followSong)) soundRow(solo);
    if (entered && (!wasPlaying || !options.followSong)) moveCursorBy(options.autoStep(), false, true);
    if (entered) {
        if (speedEffectSum() != sum) emit songLengthChanged();
        changed();
    }
    return true;
}

bool PatternInput::anyNoteHeld() const {
    for (int n = 0; n < 36; ++n)
        if (ctx_.layout.state(cmd::NoteFirst + n) != 0) return true;
    return false;
}

bool PatternInput::handleKeyUp() {
    const KeyboardLayout& k = ctx_.layout;
    if (k.state(cmd::PtnSelectKey) == 0) selecting_ = false;
    // Only the release that ends the last held note key silences the
    // channels; releasing any other key leaves the sound alone.
    const bool held = anyNoteHeld();
    if (ctx_.settings.patternEditorKeyoff && notesHeld_ && !held && ctx_.chips.chip(0) && ctx_.chips.chip(1))
        for (int chip = 0; chip < 2; ++chip)
            for (int ch = 0; ch < 3; ++ch) ctx_.chips.writeRegister(chip, ym2203::kKeyOnOff, ym2203::keyOff(ch));
    notesHeld_ = held;
    return false;
}

void PatternInput::focusLost() {
    changed();
    ctx_.player.stopIfHeld();
}

// ---- mouse -----------------------------------------------------------------------

void PatternInput::mouseClick(int row, int column, Qt::KeyboardModifiers) {
    leftDown_ = true;
    pressRow_ = row;
    pressColumn_ = column;
    if (ctx_.view.noPatternSelected) return;
    ctx_.view.selection = Selection{};
    changed();
}

void PatternInput::mouseDrag(int row, int column) {
    if (ctx_.view.noPatternSelected || row < 0 || column < 0 || column >= kColumns) return;
    EditorViewState& v = ctx_.view;
    if (visibleRows) {
        const int lines = visibleRows();
        const int top = v.cursorRow - lines / 2;
        if (row == top && v.cursorRow > 0)
            --v.cursorRow;
        else if (row == top + lines - 1 && v.cursorRow < patternLength() - 1)
            ++v.cursorRow;
    }
    const int channel = column / 8;
    if (v.selection.empty()) {
        // The selection starts at the pressed cell; only a press beside the
        // cells starts it at the first cell moved over.
        const bool pressedCell = leftDown_ && pressRow_ >= 0 && pressColumn_ >= 0 && pressColumn_ < kColumns;
        anchor_.startChannel = pressedCell ? pressColumn_ / 8 : channel;
        anchor_.startRow = pressedCell ? pressRow_ : row;
    }
    anchor_.endChannel = channel;
    anchor_.endRow = row;
    deriveSelection();
    changed();
}

void PatternInput::mouseRelease(int row, int column, Qt::KeyboardModifiers) {
    const bool wasDown = leftDown_;
    leftDown_ = false;
    if (!wasDown || ctx_.view.noPatternSelected || !ctx_.view.selection.empty()) return;
    if (row < 0 || column < 0 || column >= kColumns) return;
    setColumn(column);
    if (!songPlaying() || !options.followSong) ctx_.view.cursorRow = std::min(row, patternLength() - 1);
    emit timeChanged();
    changed();
}

void PatternInput::mouseDoubleClick(int, int) {
    if (ctx_.view.noPatternSelected) return;
    const int c = ctx_.view.cursorChannel();
    anchor_ = Anchor{c, 0, c, patternLength() - 1};
    deriveSelection();
    changed();
}

void PatternInput::contextMenu(QPoint globalPos) {
    if (ctx_.view.noPatternSelected) return;
    emit popupMenuRequested(globalPos);
}

void PatternInput::wheel(int steps) {
    if (ctx_.view.noPatternSelected || steps == 0) return;
    moveCursor(steps, false);
    changed();
}

// ---- block commands ----------------------------------------------------------------

void PatternInput::EditCutClick() {
    if (ctx_.view.noPatternSelected) return;
    const int sum = speedEffectSum();
    bool done;
    edit("Cut", [&](Song& song) {
        done = cutBlock(song, selectionBlock(), ctx_.clipboard);
    });
    if (done) finishEdit(sum);
}

void PatternInput::EditCopyClick() {
    if (ctx_.view.noPatternSelected) return;
    copyBlock(ctx_.document.song(), selectionBlock(), ctx_.clipboard);
}

void PatternInput::EditPasteClick() {
    if (ctx_.view.noPatternSelected) return;
    const int sum = speedEffectSum();
    bool done;
    edit("Paste", [&](Song& song) {
        done = pasteBlock(song, ctx_.view.currentPattern, ctx_.view.cursorChannel(),
                          ctx_.view.cursorRow, ctx_.clipboard);
    });
    if (done) finishEdit(sum);
}

void PatternInput::EditPasteOverClick() {
    if (ctx_.view.noPatternSelected) return;
    const int sum = speedEffectSum();
    bool done;
    edit("Paste over", [&](Song& song) {
        done = pasteBlockOver(song, ctx_.view.currentPattern, ctx_.view.cursorChannel(),
                              ctx_.view.cursorRow, ctx_.clipboard);
    });
    if (done) finishEdit(sum);
}

void PatternInput::EditDeleteClick() {
    if (ctx_.view.noPatternSelected) return;
    const int sum = speedEffectSum();
    bool done;
    edit("Delete block", [&](Song& song) {
        done = deleteBlock(song, selectionBlock());
    });
    if (done) finishEdit(sum);
}

void PatternInput::EditSelectAllClick() {
    if (ctx_.view.noPatternSelected) return;
    anchor_ = Anchor{0, 0, kChannels - 1, patternLength() - 1};
    deriveSelection();
    changed();
}

void PatternInput::EditUnselectAllClick() {
    if (ctx_.view.noPatternSelected) return;
    ctx_.view.selection = Selection{};
    changed();
}

void PatternInput::BlockExpandClick() {
    if (ctx_.view.noPatternSelected) return;
    bool done;
    edit("Expand block", [&](Song& song) {
        done = expandBlock(song, selectionBlock());
    }, {}, true);
    if (done) {
        emit patternLengthChanged();
        emit songLengthChanged();
        changed();
    }
}

void PatternInput::BlockShrinkClick() {
    if (ctx_.view.noPatternSelected) return;
    const int sum = speedEffectSum();
    bool done;
    edit("Shrink block", [&](Song& song) {
        done = shrinkBlock(song, selectionBlock());
    });
    if (done) finishEdit(sum);
}

void PatternInput::BlockVolumeGradientClick() {
    if (ctx_.view.noPatternSelected) return;
    bool done;
    edit("Volume gradient", [&](Song& song) {
        done = volumeGradient(song, selectionBlock());
    });
    if (done) changed();
}

void PatternInput::BlockEffectGradientClick() {
    if (ctx_.view.noPatternSelected) return;
    const int sum = speedEffectSum();
    bool done;
    edit("Effect gradient", [&](Song& song) {
        done = effectGradient(song, selectionBlock());
    });
    if (done) finishEdit(sum);
}

void PatternInput::BlockVolumeScale(int startPercent, int endPercent) {
    if (ctx_.view.noPatternSelected) return;
    bool done;
    edit("Volume scale", [&](Song& song) {
        done = volumeScale(song, selectionBlock(), startPercent, endPercent);
    });
    if (done) changed();
}

void PatternInput::BlockEffectScale(int startPercent, int endPercent) {
    if (ctx_.view.noPatternSelected) return;
    const int sum = speedEffectSum();
    bool done;
    edit("Effect scale", [&](Song& song) {
        done = effectScale(song, selectionBlock(), startPercent, endPercent);
    });
    if (done) finishEdit(sum);
}

void PatternInput::BlockDuplicate(int times) {
    if (ctx_.view.noPatternSelected) return;
    const int sum = speedEffectSum();
    bool done;
    edit("Duplicate", [&](Song& song) {
        done = duplicateBlock(song, selectionBlock(), times);
    });
    if (done) finishEdit(sum);
}

void PatternInput::BlockAssignInstrumentClick() {
    if (ctx_.view.noPatternSelected) return;
    bool done;
    edit("Assign instrument", [&](Song& song) {
        done = assignInstrument(song, selectionBlock(), std::clamp(options.autoInstrument, 0, 255));
    });
    if (done) changed();
}

void PatternInput::transpose(int semitones) {
    if (ctx_.view.noPatternSelected) return;
    bool done;
    edit("Transpose", [&](Song& song) {
        done = transposeBlock(song, ctx_.view.orderCursor, selectionBlock(), semitones, 0, false);
    });
    if (done) changed();
}

void PatternInput::TransposeOctaveUpClick() { transpose(12); }
void PatternInput::TransposeOctaveDownClick() { transpose(-12); }
void PatternInput::TransposeSemitoneUpClick() { transpose(1); }
void PatternInput::TransposeSemitoneDownClick() { transpose(-1); }

void PatternInput::InsertNoteClick() {
    if (ctx_.view.noPatternSelected) return;
    const int sum = speedEffectSum();
    edit("Insert note", [&](Song& song) {
        insertCell(song, ctx_.view.currentPattern, ctx_.view.cursorRow, ctx_.view.cursorChannel());
    });
    finishEdit(sum);
}

void PatternInput::InsertLineClick() {
    if (ctx_.view.noPatternSelected) return;
    const int sum = speedEffectSum();
    edit("Insert row", [&](Song& song) {
        for (int c = 0; c < kChannels; ++c)
            insertCell(song, ctx_.view.currentPattern, ctx_.view.cursorRow, c);
    });
    finishEdit(sum);
}

void PatternInput::DeleteNoteClick() {
    if (ctx_.view.noPatternSelected) return;
    const int sum = speedEffectSum();
    edit("Delete note", [&](Song& song) {
        deleteCell(song, ctx_.view.currentPattern, ctx_.view.cursorRow, ctx_.view.cursorChannel());
    });
    finishEdit(sum);
}

void PatternInput::DeleteLineClick() {
    if (ctx_.view.noPatternSelected) return;
    const int sum = speedEffectSum();
    edit("Delete row", [&](Song& song) {
        for (int c = 0; c < kChannels; ++c)
            deleteCell(song, ctx_.view.currentPattern, ctx_.view.cursorRow, c);
    });
    finishEdit(sum);
}

}  // namespace qv
