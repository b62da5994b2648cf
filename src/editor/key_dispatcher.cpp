#include "editor/key_dispatcher.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWheelEvent>
#include <QWidget>
#include <array>

#include "app/key_translate.h"
#include "editor/pattern_input.h"

namespace qv {

KeyDispatcher::KeyDispatcher(AppContext& ctx, PatternInput& input, QObject* parent)
    : QObject(parent), ctx_(ctx), input_(input) {}

void KeyDispatcher::install() {
    if (!installed_ && qApp) {
        qApp->installEventFilter(this);
        installed_ = true;
    }
}

void KeyDispatcher::uninstall() {
    if (installed_ && qApp) qApp->removeEventFilter(this);
    installed_ = false;
}

bool KeyDispatcher::keyMessage(int code, bool down) {
    if (instrumentControlKey && instrumentControlKey(code, down)) return true;

    KeyboardLayout& layout = ctx_.layout;
    const bool playKeyBefore = layout.state(cmd::PtnPlay) != 0 || layout.state(cmd::PtnPlayLoop) != 0;
    std::array<bool, 36> noteBefore{};
    for (int n = 0; n < 36; ++n) noteBefore[n] = layout.state(cmd::NoteFirst + n) != 0;
    if (down)
        layout.keyDown(code);
    else
        layout.keyUp(code);

    if (mainWindowActive && !mainWindowActive()) {
        layout.clearKeyState();
        return false;
    }

    if (down) {
        for (int d = 0; d < 10; ++d)
            if (layout.firesOnce(cmd::autoStep(d))) {
                input_.setAutoStep(d != 0, d);
                return true;
            }
        auto global = [&](int command) {
            if (!layout.firesOnce(command)) return false;
            if (command == cmd::GenSaveMod || command == cmd::GenOpenMod) layout.clearKeyState();
            if (onGlobalCommand) onGlobalCommand(command);
            return true;
        };
        for (int c = 0; c < kChannels; ++c)
            if (global(cmd::mute(c))) return true;
        for (int command : {cmd::GenSaveMod, cmd::GenOpenMod, cmd::GenMuteAll, cmd::GenSoloMode,
                            cmd::GenReset, cmd::GenStop, cmd::GenToPtnEdit, cmd::GenToInsEdit, cmd::GenToInfo,
                            cmd::GenToSettings, cmd::GenPlayAll, cmd::GenPlayCur, cmd::GenPlayPtn,
                            cmd::GenUndo, cmd::GenRedo, cmd::GenFollowSong})
            if (global(command)) return true;
    }

    if (instrumentPageActive && instrumentPageActive()) {
        bool used = false;
        if (down) {
            for (int n = 1; n <= 8; ++n)
                if (layout.firesOnce(cmd::octave(n))) {
                    input_.setOctave(n);
                    used = true;
                }
            for (int n = 0; n < 36; ++n)
                if (layout.firesOnce(cmd::NoteFirst + n)) {
                    if (onInstrumentNote) onInstrumentNote(n, true);
                    used = true;
                }
        } else {
            for (int n = 0; n < 36; ++n)
                if (noteBefore[n] && layout.state(cmd::NoteFirst + n) == 0) {
                    if (onInstrumentNote) onInstrumentNote(n, false);
                    used = true;
                }
        }
        if (used) return true;
    }

    bool handled = false;
    if (patternEditorActive && patternEditorActive()) {
        if (down) {
            handled = input_.handleKeyDown();
            if (handled && input_.onChanged) input_.onChanged();
        } else {
            input_.handleKeyUp();
        }
    }

    if (!down && !ctx_.view.noPatternSelected && playKeyBefore && layout.state(cmd::PtnPlay) == 0 &&
        layout.state(cmd::PtnPlayLoop) == 0 && ctx_.player.isPlaying()) {
        if (!(onPlayKeyReleased && onPlayKeyReleased())) ctx_.player.stopIfHeld();
    }
    return handled;
}

bool KeyDispatcher::wheelMessage(int steps) {
    if (steps == 0) return false;
    if (patternEditorActive && patternEditorActive()) {
        input_.wheel(steps);
        return true;
    }
    if (onInstrumentWheel) return onInstrumentWheel(steps);
    return false;
}

bool KeyDispatcher::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && watched->isWidgetType()) {
        // A key event that the receiver ignores travels on to its parents;
        // only its first receiver (the focus widget, or the window itself
        // when nothing has the focus, or an open pop-up menu) feeds the layout.
        auto* widget = static_cast<QWidget*>(watched);
        QWidget* focus = QApplication::focusWidget();
        const bool first =
            widget == QApplication::activePopupWidget() || (focus ? widget == focus : widget->isWindow());
        if (!first) return false;
        const auto message = layoutKeyMessage(*static_cast<QKeyEvent*>(event));
        if (message && keyMessage(message->code, message->down)) {
            event->accept();
            return true;
        }
        return false;
    }
    if (type == QEvent::Wheel && watched->isWidgetType()) {
        auto* wheelEvent = static_cast<QWheelEvent*>(event);
        if (event == lastEvent_ && wheelEvent->timestamp() == lastTimestamp_ && type == lastType_)
            return false;
        lastEvent_ = event;
        lastTimestamp_ = wheelEvent->timestamp();
        lastType_ = type;
        // One step per notch, towards the user positive.
        wheelRest_ += wheelEvent->angleDelta().y();
        const int notches = wheelRest_ / 120;
        wheelRest_ -= notches * 120;
        if (notches == 0) return patternEditorActive && patternEditorActive();
        if (wheelMessage(-notches)) {
            event->accept();
            return true;
        }
        return false;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace qv
