// The application-wide key filter: every key message of the program passes
// here before the focused widget sees it. It feeds the keyboard layout, runs
// the commands that work on every page and hands the rest to the pattern
// input while the Patterns page has the focus.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "app/app_context.h"

namespace qv {

class PatternInput;

class KeyDispatcher : public QObject {
    Q_OBJECT
  public:
    KeyDispatcher(AppContext& ctx, PatternInput& input, QObject* parent = nullptr);

    // Installs the filter on the application.
    void install();
    void uninstall();

    // How long a key release (of an event with a time stamp) waits for the
    // press that would make it half of an auto-repeat, in milliseconds.
    static constexpr int kRepeatWaitMs = 30;

    // Questions the window answers.
    // The pattern view (ScrollBoxPtn) is the active control.
    std::function<bool()> patternEditorActive;
    // The main window is the active window (true when unset).
    std::function<bool()> mainWindowActive;
    // An instrument-page control is active; it gets key-down/up first and
    // returns whether it used the key (code, down).
    std::function<bool(int, bool)> instrumentControlKey;
    // The Instruments page has the focus (octave and note keys play there).
    std::function<bool()> instrumentPageActive;
    // Releasing the play key while the player plays: the window takes over
    // the player's position and, when its follower timer runs, carries out
    // its Stop action and returns true; on false the player stops only when
    // it was started to stop on release.
    std::function<bool()> onPlayKeyReleased;
    // Mouse wheel while the Instruments page's key area is active.
    std::function<bool(int)> onInstrumentWheel;

    // One key message in Windows virtual-key code; returns whether it was handled.
    bool keyMessage(int code, bool down);
    // Wheel steps (positive = away from the user); returns whether handled.
    bool wheelMessage(int steps);

  signals:
    // Note key on the Instruments page: (note index 0-35, down).
    void instrumentNote(int index, bool down);
    // Commands that work on every page, carried out by the window: the
    // command index (cmd::GenMuteA ... cmd::GenPlayPtn).
    void globalCommand(int command);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Runs the held-back key release now.
    void flushRelease();

    AppContext& ctx_;
    PatternInput& input_;
    bool installed_ = false;
    // Under X11 a held key repeats as a release and a press with the same
    // time stamp, and Qt does not always mark the pair as auto-repeat (the
    // press may not have arrived yet when the release is read). A release is
    // therefore held back until the next key event or a short timeout: a
    // press of the same key with the same time stamp makes the pair a repeat,
    // and the key stays held.
    struct PendingRelease {
        bool active = false;
        int code = 0;
        quint64 timestamp = 0;
    };
    PendingRelease pending_;
    QTimer* releaseTimer_ = nullptr;
    // The last wheel event seen: one that travels on to a parent widget is
    // seen again and must not count twice.
    const QEvent* lastEvent_ = nullptr;
    quint64 lastTimestamp_ = 0;
    int lastType_ = 0;
    int wheelRest_ = 0;
};

}  // namespace qv
