// Where the shipped files are found: an installed program's share/qorvette
// first, else the source tree (a program in its build folder).
#include <QtTest>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/data_paths.h"

class TestDataPaths : public QObject {
    Q_OBJECT

private slots:
    void installedBeforeSourceTree() {
        QTemporaryDir prefix, source;
        QVERIFY(QDir().mkpath(prefix.filePath("bin")));
        QVERIFY(QDir().mkpath(source.filePath("layouts")));
        QVERIFY(QDir().mkpath(source.filePath("examples")));
        QFile(source.filePath("examples/demo.qze")).open(QIODevice::WriteOnly);

        // Not installed: the source tree.
        qv::DataPaths paths = qv::DataPaths::find(prefix.filePath("bin"), source.path());
        QCOMPARE(paths.root, QDir::cleanPath(source.path()));
        QCOMPARE(paths.layouts(), source.filePath("layouts"));
        QCOMPARE(paths.demoSong(), source.filePath("examples/demo.qze"));

        // Installed: <prefix>/share/qorvette, with the demo beside the folders.
        QVERIFY(QDir().mkpath(prefix.filePath("share/qorvette/layouts")));
        QFile(prefix.filePath("share/qorvette/demo.qze")).open(QIODevice::WriteOnly);
        paths = qv::DataPaths::find(prefix.filePath("bin"), source.path());
        QCOMPARE(paths.root, prefix.filePath("share/qorvette"));
        QCOMPARE(paths.instruments(), prefix.filePath("share/qorvette/instruments"));
        QCOMPARE(paths.demoSong(), prefix.filePath("share/qorvette/demo.qze"));

        // Neither: nothing, and no folders made up.
        paths = qv::DataPaths::find(source.filePath("nowhere"), QString());
        QVERIFY(paths.root.isEmpty());
        QVERIFY(paths.layouts().isEmpty());
        QVERIFY(paths.demoSong().isEmpty());

        // The program under test runs from its build folder.
        QCOMPARE(QFileInfo(qv::DataPaths::forProgram().layouts()).canonicalFilePath(),
                 QFileInfo(QV_SOURCE_DIR "/layouts").canonicalFilePath());
    }
};

QTEST_MAIN(TestDataPaths)
#include "tst_data_paths.moc"
