// The manual window: every page of the manual is compiled in and every link
// and picture of it resolves; the Keys page shows the keys of the layout in
// use; F1 opens the window while the layout leaves F1 free, the layout's
// genShowHelp keys always.
#include <QtTest>

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTabWidget>

#include "dialogs/help_window.h"
#include "editor/window_fixture.h"

class TestHelpWindow : public QObject {
    Q_OBJECT

private slots:
    void everyPageAndLinkResolves() {
        QStringList inResources;
        for (QDirIterator it(":/manual", {"*.md"}); it.hasNext();) inResources << it.next().section('/', -1);
        inResources.sort();
        QStringList listed = qv::HelpWindow::pages();
        listed.sort();
        QCOMPARE(listed, inResources);
        qv::KeyboardLayout layout;
        const QRegularExpression link(R"(\]\(([^)#:]+)\))");
        for (const QString& page : qv::HelpWindow::pages()) {
            const QString text = qv::HelpWindow::pageText(page, layout);
            QVERIFY2(text.startsWith("# "), qPrintable(page));
            for (auto m = link.globalMatch(text); m.hasNext();) {
                const QString target = m.next().captured(1);
                QVERIFY2(QFile::exists(":/manual/" + target), qPrintable(page + ": " + target));
            }
        }
        // Every page of the program has its picture in the manual.
        for (const char* shot : {"patterns", "instruments", "information", "editor"})
            QVERIFY2(QFile::exists(QString(":/manual/images/%1.png").arg(shot)), shot);
    }

    void keysPageFollowsTheLayout() {
        qv::KeyboardLayout layout;
        QVERIFY(layout.loadFromFile(QV_SOURCE_DIR "/layouts/dvorak.kbd"));
        qv::HelpWindow window(layout);
        window.showPage("keys.md");
        QString shown = window.browser()->toPlainText();
        QVERIFY(shown.contains("Dvorak Layout (US)"));
        QVERIFY(!shown.contains("qorvette:commands"));
        QVERIFY(shown.contains("genShowHelp"));
        // The same page again after the layout changed.
        layout.loadDefault();
        window.showPage("keys.md");
        shown = window.browser()->toPlainText();
        QVERIFY(shown.contains("Default Layout"));
        QVERIFY(!shown.contains("Dvorak"));
        // Links move between pages; Back returns.
        window.showPage("index.md");
        window.browser()->setSource(QUrl("effects.md"));
        QVERIFY(window.browser()->toPlainText().contains("tone portamento"));
        window.browser()->backward();
        QCOMPARE(window.browser()->source().toString(), QString("qrc:/manual/index.md"));
    }

    void keysOpenTheManual() {
        qv::test::WindowFixture f;
        f.window->show();
        f.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        auto manual = [&] { return f.window->findChild<qv::HelpWindow*>("HelpWindow"); };
        // Keys reach the layout through the widget with the focus.
        auto key = [](Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
            QTest::keyClick(QApplication::focusWidget(), k, mods);
        };
        // The Default layout uses F1 for the Patterns page: Shift+F1 opens the manual.
        f.find<QTabWidget>("PageControlMain")->setCurrentIndex(2);
        key(Qt::Key_F1);
        QCOMPARE(f.find<QTabWidget>("PageControlMain")->currentIndex(), 0);
        QVERIFY(!manual());
        QTest::keyPress(QApplication::focusWidget(), Qt::Key_Shift, Qt::ShiftModifier);
        key(Qt::Key_F1, Qt::ShiftModifier);
        QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Shift);
        QVERIFY(manual() && manual()->isVisible());
        manual()->close();
        delete manual();
        // A layout that leaves F1 free: F1 itself.
        f.ctx.layout.loadFromText("layoutName=Mine\ngenToPtnEdit=f9\n");
        f.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
        key(Qt::Key_F1);
        QVERIFY(manual() && manual()->isVisible());
    }
};

QTEST_MAIN(TestHelpWindow)
#include "tst_help_window.moc"
