#include "dialogs/info_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextCursor>

namespace qv {

namespace {

QLineEdit* readOnlyField(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setReadOnly(true);
    edit->setMaximumWidth(160);
    return edit;
}

QLabel* label(QWidget* parent, const char* name, const char* text, QWidget* buddy) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setBuddy(buddy);
    return l;
}

}  // namespace

InfoPage::InfoPage(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName("TabSheetInfo");
    name_ = new QLineEdit(this);
    name_->setObjectName("EditTrkName");
    name_->setMaxLength(kMaxName);
    author_ = new QLineEdit(this);
    author_->setObjectName("EditTrkAuthor");
    author_->setMaxLength(kMaxName);
    message_ = new QPlainTextEdit(this);
    message_->setObjectName("MemoTrkMessage");
    message_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    message_->setTabChangesFocus(true);
    created_ = readOnlyField(this, "EditTrkCreated");
    saved_ = readOnlyField(this, "EditTrkSaved");
    count_ = readOnlyField(this, "EditTrkSCount");
    bytes_ = new QLabel(this);
    bytes_->setObjectName("LabelTrkInfoBytes");

    auto* grid = new QGridLayout(this);
    grid->addWidget(label(this, "LabelTrkName", "Track name:", name_), 0, 0);
    grid->addWidget(name_, 0, 1, 1, 3);
    grid->addWidget(label(this, "LabelTrkAuthor", "Author:", author_), 1, 0);
    grid->addWidget(author_, 1, 1, 1, 3);
    grid->addWidget(label(this, "LabelTrkMsg", "Message:", message_), 2, 0, Qt::AlignTop);
    grid->addWidget(message_, 2, 1, 1, 3);
    grid->addWidget(label(this, "LabelTrkCreated", "Created:", created_), 3, 0);
    grid->addWidget(created_, 3, 1);
    grid->addWidget(label(this, "LabelTrkSaved", "Saved:", saved_), 4, 0);
    grid->addWidget(saved_, 4, 1);
    grid->addWidget(label(this, "LabelTrkSCount", "Save count:", count_), 5, 0);
    grid->addWidget(count_, 5, 1);
    grid->addWidget(bytes_, 6, 1, 1, 3);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(2, 1);

    connect(name_, &QLineEdit::textEdited, this, &InfoPage::nameEdited);
    connect(author_, &QLineEdit::textEdited, this, &InfoPage::authorEdited);
    connect(message_, &QPlainTextEdit::textChanged, this, &InfoPage::messageEdited);
    loadFromSong();
}

QString InfoPage::infoSizeText(const QString& message, const QString& name, const QString& author) {
    const qsizetype bytes = storedMessage(message).size() + name.size() + author.size() + 3;
    return QString::number(bytes) + " bytes used for info";
}

QString InfoPage::saveCountText(int saveCount) {
    return saveCount == 65535 ? QStringLiteral("very many times") : QString::number(saveCount);
}

QString InfoPage::storedMessage(const QString& shown) {
    QString text = shown;
    text.replace("\r\n", "\n");
    text.replace('\n', "\r\n");
    return text;
}

QString InfoPage::shownMessage(const QString& stored) {
    QString text = stored;
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    return text;
}

int InfoPage::removeNonAscii(QString& text) {
    int last = -1;
    for (qsizetype i = 0; i < text.size();) {
        if (text.at(i).unicode() > 127) {
            text.remove(i, 1);
            last = static_cast<int>(i);
        } else {
            ++i;
        }
    }
    return last;
}

void InfoPage::loadFromSong() {
    loading_ = true;
    {
        const Song& song = *ctx_.song;
        name_->setText(QString::fromLatin1(song.trackNameText()));
        author_->setText(QString::fromLatin1(song.authorText()));
        message_->setPlainText(shownMessage(QString::fromLatin1(song.messageText())));
    }
    loading_ = false;
    refreshFields();
}

void InfoPage::refreshFields() {
    const Song& song = *ctx_.song;
    created_->setText(QString::fromStdString(packedDateText(song.created)));
    saved_->setText(QString::fromStdString(packedDateText(song.saved)));
    count_->setText(saveCountText(song.saveCount));
    updateSizeLine();
}

void InfoPage::updateSizeLine() {
    bytes_->setText(infoSizeText(message_->toPlainText(), name_->text(), author_->text()));
}

void InfoPage::nameEdited() {
    updateSizeLine();
    QString text = name_->text();
    const int at = removeNonAscii(text);
    ctx_.document.edit("Type track name", SongChange::texts(), [&](Song& song) { song.setTrackName(text.toStdString()); },
                       "track name");
    if (at >= 0) {
        name_->setText(text);
        name_->setCursorPosition(at);
        updateSizeLine();
    }
}

void InfoPage::authorEdited() {
    updateSizeLine();
    QString text = author_->text();
    const int at = removeNonAscii(text);
    ctx_.document.edit("Type author", SongChange::texts(), [&](Song& song) { song.setAuthor(text.toStdString()); },
                       "author");
    if (at >= 0) {
        author_->setText(text);
        author_->setCursorPosition(at);
        updateSizeLine();
    }
}

void InfoPage::messageEdited() {
    if (loading_) return;
    QString text = message_->toPlainText();
    int caret = message_->textCursor().position();
    int at = removeNonAscii(text);
    // The box holds at most 383 stored characters: what goes beyond (typed or
    // pasted) is cut from where it was put in.
    QString stored = storedMessage(text);
    if (stored.size() > kMaxMessage) {
        const qsizetype excess = stored.size() - kMaxMessage;
        qsizetype from = std::max<qsizetype>(0, caret - excess);
        QString cut = text;
        cut.remove(from, std::min<qsizetype>(excess, cut.size() - from));
        while (storedMessage(cut).size() > kMaxMessage) cut.chop(1);
        text = cut;
        at = static_cast<int>(std::min<qsizetype>(from, text.size()));
        stored = storedMessage(text);
    }
    ctx_.document.edit("Type message", SongChange::texts(), [&](Song& song) { song.setMessage(stored.toStdString()); },
                       "message");
    if (at >= 0) {
        const QSignalBlocker block(message_);
        message_->setPlainText(text);
        QTextCursor c = message_->textCursor();
        c.setPosition(std::min(at, static_cast<int>(text.size())));
        message_->setTextCursor(c);
    }
    updateSizeLine();
}

}  // namespace qv
