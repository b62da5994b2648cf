// The file flow's questions about unsaved changes (asked only when the song
// differs from its file; Save, Discard and Cancel), the caption's mark, and
// crash recovery: the copy written while changes are unsaved, removed by a
// save, a discard and a clean exit, and offered at the next start.
#include <QtTest>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "editor/file_flow.h"
#include "editor/recovery.h"
#include "editor/window_fixture.h"
#include "song/module_file.h"

namespace {

struct Fixture : qv::test::WindowFixture {
    Fixture() {
        window->openDialogFn = [this](const QString&, const QString&, const QString&,
                                      const QString&) {
            ++dialogs;
            return dialogResult;
        };
        window->saveDialogFn = window->openDialogFn;
    }
    qv::FileFlow& files() { return window->fileFlow(); }
    void setSpeed(int speed) {
        QVERIFY(ctx.document.edit("Speed", qv::SongChange::speeds(),
                                  [speed](qv::Song& s) { s.speedEven = speed; }));
    }
    QString caption() const { return window->windowTitle(); }

    QString dialogResult;
    int dialogs = 0;
};

int savedSpeed(const QString& path) {
    auto song = std::make_unique<qv::Song>();
    return qv::loadModule(*song, path.toStdString()) == qv::kModuleLoaded ? song->speedEven : -1;
}

}  // namespace

class TestFileFlow : public QObject {
    Q_OBJECT
private slots:
    void asksOnlyAboutUnsavedChanges() {
        QTemporaryDir dir;
        Fixture f;
        f.files().askOnClose = true;
        const QString a = dir.filePath("a.qze");
        QVERIFY(f.files().saveModuleTo(a));
        // Nothing changed: New, Open, the hand-over and Close ask nothing.
        QVERIFY(f.files().newModule());
        QCOMPARE(f.files().openByName(a), int(qv::kModuleLoaded));
        f.files().handOver("\"" + a + "\"");
        QVERIFY(f.files().queryClose());
        QVERIFY(f.boxes.isEmpty());
        // The caption marks a change; undoing back to the file clears it.
        f.setSpeed(7);
        QCOMPARE(f.caption(), "Qorvette v1.22 [" + a + "]*");
        QVERIFY(f.ctx.document.undo());
        QCOMPARE(f.caption(), "Qorvette v1.22 [" + a + "]");
        QVERIFY(f.files().queryClose());
        QVERIFY(f.boxes.isEmpty());

        // Cancel keeps the song for every action that would replace it.
        f.setSpeed(7);
        f.answer = QMessageBox::Cancel;
        QVERIFY(!f.files().newModule());
        QCOMPARE(f.files().openByName(a), -1);
        f.files().handOver("\"" + a + "\"");
        f.files().ImportMODClick();
        QVERIFY(!f.files().queryClose());
        QCOMPARE(f.dialogs, 0);
        const QStringList captions{"New module", "Open module", "Warning", "Import MOD file",
                                   "Exit confirm"};
        QCOMPARE(f.boxes.size(), captions.size());
        for (int i = 0; i < captions.size(); ++i) {
            QCOMPARE(f.boxes[i].text, QString("Save changes to a.qze?"));
            QCOMPARE(f.boxes[i].caption, captions[i]);
        }
        QCOMPARE(f.ctx.song->speedEven, 7);
        QVERIFY(f.files().isModified());

        // Discard drops the change: the file opens as it was saved.
        f.answer = QMessageBox::Discard;
        QCOMPARE(f.files().openByName(a), int(qv::kModuleLoaded));
        QCOMPARE(f.ctx.song->speedEven, 3);
        QCOMPARE(f.caption(), "Qorvette v1.22 [" + a + "]");

        // Save on a song with a file writes it without a dialog, then goes on.
        f.setSpeed(9);
        f.answer = QMessageBox::Save;
        QVERIFY(f.files().newModule());
        QCOMPARE(f.dialogs, 0);
        QCOMPARE(savedSpeed(a), 9);
        QCOMPARE(f.ctx.song->speedEven, 3);
        QCOMPARE(f.caption(), QString("Qorvette v1.22 [untitled.qze]"));

        // An untitled song asks for a name; cancelling that dialog cancels
        // the whole action.
        f.setSpeed(11);
        QVERIFY(!f.files().newModule());
        QCOMPARE(f.dialogs, 1);
        QCOMPARE(f.ctx.song->speedEven, 11);
        QCOMPARE(f.caption(), QString("Qorvette v1.22 [untitled.qze]*"));
        // Closing the window: saved under the chosen name, then closed.
        const QString b = dir.filePath("b.qze");
        f.dialogResult = b;
        f.window->show();
        QVERIFY(f.window->close());
        QCOMPARE(savedSpeed(b), 11);
    }

    void recoveryCopyFollowsUnsavedChanges() {
        QTemporaryDir dir;
        Fixture f;
        qv::Recovery recovery(dir.filePath("recovery"), 20);
        f.files().setRecovery(&recovery);
        const QString a = dir.filePath("a.qze");
        QVERIFY(f.files().saveModuleTo(a));
        QTest::qWait(60);
        QVERIFY(!recovery.current());  // nothing unsaved, nothing written

        f.setSpeed(7);
        QTRY_VERIFY(recovery.current().has_value());
        const QString copy = recovery.current()->songFile;
        QCOMPARE(savedSpeed(copy), 7);
        QCOMPARE(recovery.current()->modulePath, a);
        f.setSpeed(8);  // the next change reaches the copy too
        QTRY_COMPARE(savedSpeed(copy), 8);
        // A save removes it, and a clean song writes none.
        QVERIFY(f.files().saveModuleTo(a));
        QVERIFY(!QFile::exists(copy));
        QTest::qWait(60);
        QVERIFY(QDir(dir.filePath("recovery")).isEmpty());
        // So does a discard.
        f.setSpeed(5);
        QTRY_VERIFY(QFile::exists(copy));
        f.answer = QMessageBox::Discard;
        QVERIFY(f.files().newModule());
        QVERIFY(!QFile::exists(copy));
        // And a clean exit (an untitled song has its own copy).
        f.setSpeed(6);
        QTRY_VERIFY(recovery.current().has_value());
        QVERIFY(QFile::exists(recovery.current()->songFile));
        const QString untitled = recovery.current()->songFile;
        QVERIFY(untitled != copy);
        f.window->show();
        QVERIFY(f.window->close());
        QVERIFY(!QFile::exists(untitled));
        QVERIFY(QDir(dir.filePath("recovery")).isEmpty());
    }

    void recoveryOfferedAtStart() {
        QTemporaryDir dir;
        const QString folder = dir.filePath("recovery");
        const QString a = dir.filePath("a.qze");
        // A session that ends without closing leaves its copy behind.
        auto crash = [&](int speed) {
            Fixture f;
            qv::Recovery recovery(folder, 20);
            f.files().setRecovery(&recovery);
            QVERIFY(f.files().saveModuleTo(a));
            f.setSpeed(speed);
            QTRY_VERIFY(recovery.current().has_value());
            f.files().setRecovery(nullptr);
        };
        crash(7);
        {
            // Accepted: the edited song under its file's name, marked changed.
            Fixture f;
            qv::Recovery recovery(folder, 60000);
            f.files().setRecovery(&recovery);
            f.files().loadStartupModule(a);
            QVERIFY(f.files().offerRecovery());
            QCOMPARE(f.boxes.size(), 1);
            QVERIFY(f.boxes[0].text.startsWith("Recover unsaved work from " +
                                               QDate::currentDate().toString("yyyy-MM-dd")));
            QVERIFY(f.boxes[0].text.endsWith("?"));
            QCOMPARE(f.boxes[0].caption, QString("Recovery"));
            QCOMPARE(f.ctx.song->speedEven, 7);
            QCOMPARE(f.files().moduleFileName(), a);
            QCOMPARE(f.caption(), "Qorvette v1.22 [" + a + "]*");
            // The copy stays until the song is saved.
            QVERIFY(!QDir(folder).isEmpty());
            QVERIFY(f.files().saveModuleTo(a));
            QVERIFY(QDir(folder).isEmpty());
        }
        crash(8);
        {
            // A copy older than its module is not offered.
            QFile module(a);
            QVERIFY(module.open(QIODevice::ReadWrite));
            QVERIFY(module.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                       QFileDevice::FileModificationTime));
            module.close();
            Fixture f;
            qv::Recovery recovery(folder, 60000);
            f.files().setRecovery(&recovery);
            QVERIFY(!f.files().offerRecovery());
            QVERIFY(f.boxes.isEmpty());
            QVERIFY(!QDir(folder).isEmpty());
        }
        QVERIFY(QDir(folder).removeRecursively());
        crash(9);
        {
            // Declined: the copy is removed and the song stays as it was.
            Fixture f;
            qv::Recovery recovery(folder, 60000);
            f.files().setRecovery(&recovery);
            f.answer = QMessageBox::No;
            QVERIFY(!f.files().offerRecovery());
            QCOMPARE(f.boxes.size(), 1);
            QCOMPARE(f.ctx.song->speedEven, 3);
            QVERIFY(QDir(folder).isEmpty());
        }
    }
};

QTEST_MAIN(TestFileFlow)
#include "tst_file_flow.moc"
