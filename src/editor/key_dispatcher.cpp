#include "editor/key_dispatcher.h"

#include <QApplication>

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

bool KeyDispatcher::keyMessage(int, bool) { return false; }
bool KeyDispatcher::wheelMessage(int) { return false; }

bool KeyDispatcher::eventFilter(QObject* watched, QEvent* event) {
    return QObject::eventFilter(watched, event);
}

}  // namespace qv
