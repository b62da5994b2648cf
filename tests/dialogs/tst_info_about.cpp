// The Information page (editing the song's texts, the size line, the dates
// and the save count), the Help menu's help-file rule and the About box.
#include <QtTest>

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTabWidget>

#include "app/app_context.h"
#include "dialogs/form_about.h"
#include "dialogs/help_window.h"
#include "dialogs/info_page.h"
#include "editor/export_commands.h"
#include "editor/file_flow.h"
#include "editor/form_main.h"

namespace {

struct Rig {
    qv::AppContext ctx{std::make_unique<qv::NullAudioDevice>()};
    qv::InfoPage page{ctx};
    template <class T>
    T* find(const char* name) {
        return page.findChild<T*>(name);
    }
    QString sizeLine() { return find<QLabel>("LabelTrkInfoBytes")->text(); }
};

// Types text of any characters, as an input method would deliver it.
void typeText(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
    }
}

}  // namespace

class TestInfoAbout : public QObject {
    Q_OBJECT
private slots:
    void sizeLineCountsTheTextsAndStoredLineBreaks() {
        Rig r;
        QCOMPARE(r.sizeLine(), QString("3 bytes used for info"));
        auto* name = r.find<QLineEdit>("EditTrkName");
        name->setFocus();
        QTest::keyClicks(name, "Cold Metal");
        QCOMPARE(r.sizeLine(), QString("13 bytes used for info"));
        QCOMPARE(r.ctx.song->trackNameText(), std::string("Cold Metal"));
        QTest::keyClicks(r.find<QLineEdit>("EditTrkAuthor"), "ab");
        QCOMPARE(r.ctx.song->authorText(), std::string("ab"));
        // A line break is stored as CR LF and counts two.
        auto* memo = r.find<QPlainTextEdit>("MemoTrkMessage");
        memo->setPlainText("x\ny");
        QCOMPARE(r.ctx.song->messageText(), std::string("x\r\ny"));
        QCOMPARE(r.sizeLine(), QString("19 bytes used for info"));
        // And a loaded song's CR LF shows as one line break each.
        r.ctx.song->setMessage("one\r\ntwo");
        r.ctx.song->setTrackName("T");
        r.page.loadFromSong();
        QCOMPARE(memo->toPlainText(), QString("one\ntwo"));
        QCOMPARE(name->text(), QString("T"));
        QCOMPARE(r.ctx.song->messageText(), std::string("one\r\ntwo"));  // loading writes nothing back
    }

    void charactersAbove127AreRemovedWhereTyped() {
        Rig r;
        auto* name = r.find<QLineEdit>("EditTrkName");
        QTest::keyClicks(name, "abcd");
        name->setCursorPosition(2);
        typeText(name, QString::fromUtf8("\u00e9"));
        QCOMPARE(name->text(), QString("abcd"));
        QCOMPARE(name->cursorPosition(), 2);
        QCOMPARE(r.ctx.song->trackNameText(), std::string("abcd"));

        auto* memo = r.find<QPlainTextEdit>("MemoTrkMessage");
        memo->setFocus();
        typeText(memo, QString::fromUtf8("ok\u00fc!"));
        QCOMPARE(memo->toPlainText(), QString("ok!"));
        QCOMPARE(r.ctx.song->messageText(), std::string("ok!"));
        QCOMPARE(QString::fromStdString(r.ctx.song->messageText()).size(), 3);
    }

    void messageHoldsAtMost383StoredCharacters() {
        Rig r;
        auto* memo = r.find<QPlainTextEdit>("MemoTrkMessage");
        memo->setPlainText(QString(380, 'a'));
        memo->moveCursor(QTextCursor::End);
        QTest::keyClicks(memo, "bcdef");
        QCOMPARE(r.ctx.song->messageText().size(), size_t(383));
        QCOMPARE(memo->toPlainText().size(), 383);
        // A line break near the end costs two.
        memo->setPlainText(QString(382, 'a') + "\nz");
        const std::string stored = r.ctx.song->messageText();
        QVERIFY(stored.size() <= 383);
        QCOMPARE(r.sizeLine(), QString("%1 bytes used for info").arg(stored.size() + 3));
    }

    void datesAndSaveCount() {
        QCOMPARE(qv::InfoPage::saveCountText(65535), QString("very many times"));
        QCOMPARE(qv::InfoPage::saveCountText(65534), QString("65534"));
        Rig r;
        r.ctx.song->created = qv::packDate(24, 12, 2026);
        r.ctx.song->saved = 0;
        r.ctx.song->saveCount = 65535;
        r.page.refreshFields();
        QCOMPARE(r.find<QLineEdit>("EditTrkCreated")->text(), QString("24.12.26"));
        QCOMPARE(r.find<QLineEdit>("EditTrkSaved")->text(), QString("--.--.--"));
        QCOMPARE(r.find<QLineEdit>("EditTrkSCount")->text(), QString("very many times"));
        QVERIFY(r.find<QLineEdit>("EditTrkCreated")->isReadOnly());
    }

    // The main window keeps the page in step: a new song clears it, a save
    // refreshes the count, showing the page refreshes the fields.
    void mainWindowKeepsThePageInStep() {
        qv::AppContext ctx{std::make_unique<qv::NullAudioDevice>()};
        ctx.chips.create(qv::kSampleRate, qv::kChipClock, 128);
        {
            qv::TFormMain window(ctx);
            window.fileFlow().askOnClose = false;
            window.messageBoxFn = [](const QString&, const QString&, QMessageBox::StandardButtons) {
                return QMessageBox::Yes;
            };
            auto* name = window.findChild<QLineEdit*>("EditTrkName");
            QVERIFY(name);
            QTest::keyClicks(name, "Song");
            QCOMPARE(ctx.song->trackNameText(), std::string("Song"));
            QTemporaryDir dir;
            QVERIFY(window.fileFlow().saveModuleTo(dir.filePath("s.qze")));
            QCOMPARE(window.findChild<QLineEdit*>("EditTrkSCount")->text(), QString("1"));
            ctx.song->saveCount = 7;
            auto* pages = window.findChild<QTabWidget*>("PageControlMain");
            pages->setCurrentIndex(2);
            QCOMPARE(window.findChild<QLineEdit*>("EditTrkSCount")->text(), QString("7"));
            QVERIFY(window.fileFlow().newModule());
            QVERIFY(name->text().isEmpty());

            // Help: the manual is built in, so "Show help" is always there; it
            // names the keys that open it and opens one manual window.
            auto* help = window.findChild<QMenu*>("MainMenuHelp");
            auto* show = window.findChild<QAction*>("HelpShow");
            emit help->aboutToShow();
            QVERIFY(show->isVisible());
            QCOMPARE(show->text(), QString("&Show help\tShift+F1"));
            QVERIFY(window.findChild<QAction*>("HelpAbout")->isVisible());
            show->trigger();
            auto* manual = window.findChild<qv::HelpWindow*>("HelpWindow");
            QVERIFY(manual && manual->isVisible());
            show->trigger();
            QCOMPARE(window.findChildren<qv::HelpWindow*>().size(), 1);
            manual->close();

            bool shown = false;
            window.aboutHook = [&](qv::TFormAbout& about) {
                shown = true;
                QCOMPARE(about.windowTitle(), QString("About"));
                // The box links to the manual.
                auto* link = about.findChild<qv::LinkLabel*>("LabelManual");
                QVERIFY(link);
                QTest::mouseClick(link, Qt::LeftButton);
            };
            window.findChild<QAction*>("HelpAbout")->trigger();
            QVERIFY(shown);
            QVERIFY(manual->isVisible());
            QCOMPARE(manual->browser()->source().toString(), QString("qrc:/manual/index.md"));
        }
        ctx.chips.destroy();
    }

    void aboutBox() {
        QCOMPARE(qv::TFormAbout::versionText("Qorvette v1.22"), QString(" v1.22"));
        QCOMPARE(qv::TFormAbout::eMailTarget(), QString("mailto:qorvette@nostrel.org?subject=Qorvette"));
        qv::TFormAbout about("Qorvette v1.22");
        QCOMPARE(about.size(), QSize(336, 258));
        auto* text = about.findChild<QLabel*>("LabelText");
        auto* shadow = about.findChild<QLabel*>("LabelShadow");
        QCOMPARE(text->text(), QString(" v1.22"));
        QCOMPARE(shadow->text(), QString(" v1.22"));
        QCOMPARE(shadow->pos(), text->pos() + QPoint(1, 1));
        QCOMPARE(text->width(), 89);
        QVERIFY(text->alignment() & Qt::AlignRight);
        for (int n = 1; n <= 6; ++n)
            QVERIFY(about.findChild<QLabel*>(QString("StaticText%1").arg(n)));

        // A link turns blue under the mouse and back afterwards; a click hands
        // its target on without closing the box.
        auto* url = about.findChild<qv::LinkLabel*>("LabelUrl");
        QVERIFY(url);
        QCOMPARE(url->cursor().shape(), Qt::PointingHandCursor);
        const QColor normal = url->palette().color(QPalette::WindowText);
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QApplication::sendEvent(url, &enter);
        QCOMPARE(url->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(url, &leave);
        QCOMPARE(url->palette().color(QPalette::WindowText), normal);
        QSignalSpy activated(url, &qv::LinkLabel::activated);
        disconnect(url, &qv::LinkLabel::activated, &about, nullptr);  // no browser in a test
        about.show();
        QTest::mouseClick(url, Qt::LeftButton);
        QCOMPARE(activated.count(), 1);
        QCOMPARE(activated.first().first().toString(), qv::TFormAbout::urlTarget());
        QVERIFY(about.isVisible());
        // A click on the logo closes it.
        QTest::mouseClick(about.findChild<QLabel*>("ImageLogo"), Qt::LeftButton);
        QVERIFY(!about.isVisible());
        QCOMPARE(about.result(), int(QDialog::Accepted));
    }
};

QTEST_MAIN(TestInfoAbout)
#include "tst_info_about.moc"
