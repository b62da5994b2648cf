#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "app/file_association.h"

using qv::FileAssociation;

class TestFileAssociation : public QObject {
    Q_OBJECT

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    static QString read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    static void write(const QString& path, const QByteArray& text) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    static qv::xdg::Locations locationsIn(const QTemporaryDir& dir, bool tools) {
        qv::xdg::Locations where;
        where.dataHome = dir.filePath("data");
        where.configHome = dir.filePath("config");
        where.runTools = tools;
        return where;
    }
    static QString xdgMimeDefault(const qv::xdg::Locations& where) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", where.dataHome);
        env.insert("XDG_CONFIG_HOME", where.configHome);
        process.setProcessEnvironment(env);
        process.start("xdg-mime", {"query", "default", qv::xdg::kMimeType});
        process.waitForFinished(15000);
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }
#endif

private slots:
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    void execLineQuotesAnyPath() {
        using qv::xdg::execLine;
        QCOMPARE(execLine("/usr/bin/qorvette"), QStringLiteral("\"/usr/bin/qorvette\" %f"));
        QCOMPARE(execLine("/opt/My Apps/qorvette"), QStringLiteral("\"/opt/My Apps/qorvette\" %f"));
        // ", `, $ and \ are escaped inside the quotes, then every \ is doubled
        // for the desktop entry's string escapes; % is doubled.
        QCOMPARE(execLine("/a\"b`c$d\\e%f"), QStringLiteral("\"/a\\\\\"b\\\\`c\\\\$d\\\\\\\\e%%f\" %f"));
        QCOMPARE(execLine("/a\nb"), QStringLiteral("\"/a\\nb\" %f"));
    }

    void mimeAppsListEditing() {
        using qv::xdg::defaultsFor;
        using qv::xdg::withDefault;
        const QString type = "application/x-qorvette-module";
        const QString id = "qorvette-qze.desktop";

        const QString created = withDefault(QString(), type, id, true);
        QCOMPARE(created, QStringLiteral("[Default Applications]\napplication/x-qorvette-module=qorvette-qze.desktop;\n"));
        QCOMPARE(defaultsFor(created, type), QStringList{id});
        QCOMPARE(withDefault(created, type, id, false), QString());

        const QString existing =
            "[Added Associations]\napplication/x-qorvette-module=other.desktop;qorvette-qze.desktop;\n"
            "text/plain=gedit.desktop;\n\n[Default Applications]\ntext/plain=gedit.desktop;\n"
            "application/x-qorvette-module=other.desktop;\n";
        const QString added = withDefault(existing, type, id, true);
        QCOMPARE(defaultsFor(added, type), (QStringList{id, "other.desktop"}));
        QCOMPARE(defaultsFor(added, "text/plain"), QStringList{"gedit.desktop"});
        QVERIFY(added.contains("[Added Associations]\napplication/x-qorvette-module=other.desktop;qorvette-qze.desktop;"));
        // Adding twice keeps one entry.
        QCOMPARE(defaultsFor(withDefault(added, type, id, true), type), (QStringList{id, "other.desktop"}));

        const QString removed = withDefault(added, type, id, false);
        QCOMPARE(defaultsFor(removed, type), QStringList{"other.desktop"});
        QVERIFY(removed.contains("[Added Associations]\napplication/x-qorvette-module=other.desktop;\n"));
        QVERIFY(removed.contains("text/plain=gedit.desktop;\n\n[Default Applications]\ntext/plain=gedit.desktop;"));

        // A section of its own, appended to a list without one.
        const QString other = "[Default Applications]\ntext/plain=gedit.desktop;\n";
        const QString both = withDefault(other, type, id, true);
        QCOMPARE(withDefault(both, type, id, false), other);
        QCOMPARE(defaultsFor("[Default Applications]\n x = y \n", type), QStringList());
    }

    void registerAndUnregisterWithoutTools() {
        QTemporaryDir dir;
        const auto where = locationsIn(dir, false);
        const QByteArray original = "[Default Applications]\ntext/plain=gedit.desktop;\n";
        write(where.mimeAppsList(), original);
        QVERIFY(!qv::xdg::isRegistered(where));

        QVERIFY(qv::xdg::registerModules("/opt/Q v/qorvette", where));
        QVERIFY(qv::xdg::isRegistered(where));
        const QString mime = read(where.mimePackageFile());
        QVERIFY(mime.contains("<mime-type type=\"application/x-qorvette-module\">"));
        QVERIFY(mime.contains("<comment>Qorvette module</comment>"));
        QVERIFY(mime.contains("<glob pattern=\"*.qze\"/>"));
        const QString desktop = read(where.desktopFile());
        QVERIFY(desktop.startsWith("[Desktop Entry]\n"));
        QVERIFY(desktop.contains("\nExec=\"/opt/Q v/qorvette\" %f\n"));
        QVERIFY(desktop.contains("\nMimeType=application/x-qorvette-module;\n"));
        QVERIFY(read(where.mimeAppsList()).contains("text/plain=gedit.desktop;"));

        // Another default taking over means the association is gone.
        const QString mine = read(where.mimeAppsList());
        write(where.mimeAppsList(), withOther(mine).toUtf8());
        QVERIFY(!qv::xdg::isRegistered(where));
        write(where.mimeAppsList(), mine.toUtf8());

        QVERIFY(qv::xdg::unregisterModules(where));
        QVERIFY(!qv::xdg::isRegistered(where));
        QVERIFY(!QFile::exists(where.mimePackageFile()));
        QVERIFY(!QFile::exists(where.desktopFile()));
        QCOMPARE(read(where.mimeAppsList()).toUtf8(), original);
        // Unregistering again is harmless.
        QVERIFY(qv::xdg::unregisterModules(where));
    }

    void registerCreatesAndUnregisterRemovesTheList() {
        QTemporaryDir dir;
        const auto where = locationsIn(dir, false);
        QVERIFY(qv::xdg::registerModules("/usr/bin/qorvette", where));
        QVERIFY(QFile::exists(where.mimeAppsList()));
        // A missing desktop entry or type means no association.
        QFile::rename(where.desktopFile(), where.desktopFile() + ".off");
        QVERIFY(!qv::xdg::isRegistered(where));
        QFile::rename(where.desktopFile() + ".off", where.desktopFile());
        QVERIFY(qv::xdg::isRegistered(where));
        QVERIFY(qv::xdg::unregisterModules(where));
        QVERIFY(!QFile::exists(where.mimeAppsList()));
    }

    void registerWithTheDesktopTools() {
        if (QStandardPaths::findExecutable("xdg-mime").isEmpty() ||
            QStandardPaths::findExecutable("update-mime-database").isEmpty())
            QSKIP("the xdg tools are not installed");
        QTemporaryDir dir;
        const auto where = locationsIn(dir, true);
        QVERIFY(qv::xdg::registerModules(QCoreApplication::applicationFilePath(), where));
        QCOMPARE(xdgMimeDefault(where), QStringLiteral("qorvette-qze.desktop"));
        // update-mime-database compiled the type into the user's database.
        QVERIFY(QFile::exists(QDir(where.dataHome).filePath("mime/application/x-qorvette-module.xml")));

        QVERIFY(qv::xdg::unregisterModules(where));
        QCOMPARE(xdgMimeDefault(where), QString());
        QVERIFY(!QFile::exists(QDir(where.dataHome).filePath("mime/application/x-qorvette-module.xml")));
        QVERIFY(!QFile::exists(where.desktopFile()));
    }

    void publicInterfaceUsesTheUserFolders() {
        QTemporaryDir dir;
        const QByteArray oldData = qgetenv("XDG_DATA_HOME");
        const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_DATA_HOME", dir.filePath("d").toUtf8());
        qputenv("XDG_CONFIG_HOME", dir.filePath("c").toUtf8());
        QCOMPARE(qv::xdg::userLocations().dataHome, dir.filePath("d"));
        QVERIFY(!FileAssociation::isRegistered());
        QVERIFY(FileAssociation::registerModules(QCoreApplication::applicationFilePath()));
        QVERIFY(FileAssociation::isRegistered());
        QVERIFY(QFile::exists(dir.filePath("d/applications/qorvette-qze.desktop")));
        QVERIFY(FileAssociation::unregisterModules());
        QVERIFY(!FileAssociation::isRegistered());

        // A relative folder in the variable is not used.
        qputenv("XDG_DATA_HOME", "relative/data");
        QCOMPARE(qv::xdg::userLocations().dataHome, QDir::home().filePath(".local/share"));
        qputenv("XDG_DATA_HOME", oldData);
        qputenv("XDG_CONFIG_HOME", oldConfig);
        if (oldData.isEmpty()) qunsetenv("XDG_DATA_HOME");
        if (oldConfig.isEmpty()) qunsetenv("XDG_CONFIG_HOME");
    }

private:
    static QString withOther(QString list) {
        return list.replace("application/x-qorvette-module=qorvette-qze.desktop;",
                            "application/x-qorvette-module=other.desktop;qorvette-qze.desktop;");
    }
#else
    void nothingToTestHere() { QSKIP("association tests run on XDG desktops"); }
#endif
};

QTEST_GUILESS_MAIN(TestFileAssociation)
#include "tst_file_association.moc"
