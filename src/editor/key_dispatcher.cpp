#include "editor/key_dispatcher.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QWheelEvent>
#include <QWidget>
#include <array>

#include "app/key_translate.h"
#include "io/command_help.h"
#include "editor/pattern_input.h"

namespace qv {

KeyDispatcher::KeyDispatcher(AppContext& ctx, PatternInput& input, QObject* parent)
    : QObject(parent), ctx_(ctx), input_(input), releaseTimer_(new QTimer(this)) {
    releaseTimer_->setSingleShot(true);
    releaseTimer_->setInterval(kRepeatWaitMs);
    connect(releaseTimer_, &QTimer::timeout, this, &KeyDispatcher::flushRelease);
}

void KeyDispatcher::flushRelease() {
    releaseTimer_->stop();
    if (!pending_.active) return;
    pending_.active = false;
    keyMessage(pending_.code, false);
}

void KeyDispatcher::install() {
    if (!installed_ && qApp) {
        qApp->installEventFilter(this);
        installed_ = true;
    }
}

void KeyDispatcher::uninstall() {
    flushRelease();
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
            emit globalCommand(command);
            return true;
        };
        for (int c = 0; c < kChannels; ++c)
            if (global(cmd::mute(c))) return true;
        for (int command : {cmd::GenSaveMod, cmd::GenOpenMod, cmd::GenMuteAll, cmd::GenSoloMode,
                            cmd::GenReset, cmd::GenStop, cmd::GenToPtnEdit, cmd::GenToInsEdit, cmd::GenToInfo,
                            cmd::GenToSettings, cmd::GenPlayAll, cmd::GenPlayCur, cmd::GenPlayPtn,
                            cmd::GenUndo, cmd::GenRedo, cmd::GenShowHelp, cmd::GenFollowSong})
            if (global(command)) return true;
        // F1 opens the manual as well, unless the layout gives F1 a command.
        if (code == vk::f(1) && layout.keyState(vk::Shift) == 0 && layout.keyState(vk::Control) == 0 &&
            layout.keyState(vk::Menu) == 0 && !layoutUsesKey(layout, vk::f(1))) {
            layout.clearKeyState();
            emit globalCommand(cmd::GenShowHelp);
            return true;
        }
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
                    emit instrumentNote(n, true);
                    used = true;
                }
        } else {
            for (int n = 0; n < 36; ++n)
                if (noteBefore[n] && layout.state(cmd::NoteFirst + n) == 0) {
                    emit instrumentNote(n, false);
                    used = true;
                }
        }
        if (used) return true;
    }

    bool handled = false;
    if (patternEditorActive && patternEditorActive()) {
        if (down) {
            handled = input_.handleKeyDown();
            if (handled) emit input_.redrawNeeded();
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
        const auto* keyEvent = static_cast<QKeyEvent*>(event);
        const auto message = layoutKeyMessage(*keyEvent);
        if (!message) return false;
        const quint64 stamp = keyEvent->timestamp();
        if (pending_.active) {
            if (message->down && message->code == pending_.code && stamp == pending_.timestamp) {
                pending_.active = false;  // a repeat: the key is still held
                releaseTimer_->stop();
            } else {
                flushRelease();
            }
        }
        const bool menuOpen = QApplication::activePopupWidget() || qobject_cast<QMenuBar*>(focus);
        if (!message->down && stamp != 0) {
            // A knob keeps the releases of its own keys, as below.
            if (!menuOpen && instrumentControlKey && instrumentControlKey(message->code, false)) {
                event->accept();
                return true;
            }
            pending_ = {true, message->code, stamp};
            releaseTimer_->start();
            return false;
        }
        if (menuOpen) {
            // An open menu or pop-up (or the menu bar walked with the
            // keyboard) takes every key, Esc included: no command runs behind
            // it. Releases still reach the layout so that no key stays held;
            // the menu sees them too.
            if (!message->down) keyMessage(message->code, false);
            return false;
        }
        if (keyMessage(message->code, message->down)) {
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
