// A main window over its own engine for the user-interface tests: every
// message box is recorded and answered (from `answers` in turn, then with
// `answer`), the close query is off, and everything is torn down in the
// program's order.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>
#include <memory>

#include "app/app_context.h"
#include "editor/export_commands.h"
#include "editor/file_flow.h"
#include "editor/form_main.h"

namespace qv::test {

struct Box {
    QString text;
    QString caption;
};

struct WindowFixture {
    explicit WindowFixture(NullAudioDevice::Options card = {})
        : ctx(std::make_unique<NullAudioDevice>(card)) {
        ctx.chips.create(kSampleRate, kChipClock, 128);
        window = std::make_unique<TFormMain>(ctx);
        window->messageBoxFn = [this](const QString& text, const QString& caption,
                                      QMessageBox::StandardButtons) {
            boxes.append({text, caption});
            return answers.isEmpty() ? answer : answers.takeFirst();
        };
        window->fileFlow().askOnClose = false;
    }
    ~WindowFixture() {
        window.reset();
        ctx.player.stop();
        ctx.audio.close();
        ctx.chips.destroy();
    }
    WindowFixture(const WindowFixture&) = delete;
    WindowFixture& operator=(const WindowFixture&) = delete;

    template <class T>
    T* find(const char* name) const {
        return window->findChild<T*>(name);
    }

    AppContext ctx;
    std::unique_ptr<TFormMain> window;
    QList<Box> boxes;
    QList<QMessageBox::StandardButton> answers;
    QMessageBox::StandardButton answer = QMessageBox::Yes;
};

}  // namespace qv::test
