#include "app/toggle_look.h"

#include <QAbstractButton>
#include <QString>

namespace qv {

void setToggleLook(QAbstractButton* button, ToggleLook look) {
    if (!button) return;
    const char* fill = "#2f6fc0";
    const char* edge = "#1d4a85";
    const char* text = "#ffffff";
    switch (look) {
    case ToggleLook::Switch: break;
    case ToggleLook::Mute:
        fill = "#c62828";
        edge = "#7f1010";
        break;
    case ToggleLook::Solo:
        fill = "#f2b01e";
        edge = "#a06d00";
        text = "#000000";
        break;
    }
    button->setStyleSheet(QStringLiteral(
        "QAbstractButton { border: 1px solid #8c8c8c; border-radius: 2px; background: #ececec;"
        " color: #202020; padding: 0px 2px; }"
        "QAbstractButton:hover { border-color: #4a4a4a; }"
        "QAbstractButton:pressed { background: #d0d0d0; }"
        "QAbstractButton:checked { background: %1; border-color: %2; color: %3; }"
        "QAbstractButton:disabled { color: #9a9a9a; background: #f2f2f2; }")
                              .arg(QLatin1String(fill), QLatin1String(edge), QLatin1String(text)));
}

}  // namespace qv
