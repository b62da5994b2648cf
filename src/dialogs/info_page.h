// The Information page: the song's track name, author and message, edited in
// place, with its creation and save dates, its save count and how many bytes
// the three texts take in the module.
#pragma once

#include <QString>
#include <QWidget>

#include "app/app_context.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace qv {

class InfoPage : public QWidget {
    Q_OBJECT
public:
    explicit InfoPage(AppContext& ctx, QWidget* parent = nullptr);

    // The three edit fields from the Song (after a song was loaded or cleared).
    void loadFromSong();
    // The read-only fields and the size line (when the page is shown, after a save).
    void refreshFields();

    // "N bytes used for info": the message as the box holds it (a line break
    // counts two characters, as stored), the name, the author, plus 3.
    static QString infoSizeText(const QString& message, const QString& name,
                                const QString& author);
    static QString saveCountText(int saveCount);
    // The message as stored (CR LF line breaks) and as shown (LF).
    static QString storedMessage(const QString& shown);
    static QString shownMessage(const QString& stored);
    // Removes every character above code 127; returns the position of the last
    // removal, or -1 when nothing was removed.
    static int removeNonAscii(QString& text);

    static constexpr int kMaxName = 63;
    static constexpr int kMaxMessage = 383;  // stored characters, CR LF counting two

private:
    void nameEdited();
    void authorEdited();
    void messageEdited();
    void updateSizeLine();

    AppContext& ctx_;
    QLineEdit* name_ = nullptr;
    QLineEdit* author_ = nullptr;
    QPlainTextEdit* message_ = nullptr;
    QLineEdit* created_ = nullptr;
    QLineEdit* saved_ = nullptr;
    QLineEdit* count_ = nullptr;
    QLabel* bytes_ = nullptr;
    bool loading_ = false;
};

}  // namespace qv
