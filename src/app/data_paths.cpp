#include "app/data_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

namespace qv {

namespace {

QString sub(const QString& root, const char* name) {
    return root.isEmpty() ? QString() : QDir(root).filePath(QString::fromLatin1(name));
}

bool isDataFolder(const QString& dir) {
    return !dir.isEmpty() && QFileInfo(QDir(dir).filePath("layouts")).isDir();
}

}  // namespace

QString DataPaths::layouts() const { return sub(root, "layouts"); }

QString DataPaths::instruments() const { return sub(root, "instruments"); }

QString DataPaths::demoSong() const {
    for (const char* name : {"demo.qze", "examples/demo.qze"}) {
        const QString path = sub(root, name);
        if (!path.isEmpty() && QFileInfo(path).isFile()) return path;
    }
    return {};
}

DataPaths DataPaths::find(const QString& programDir, const QString& sourceDir) {
    DataPaths paths;
    const QString installed = QDir::cleanPath(programDir + "/../share/qorvette");
    if (isDataFolder(installed)) paths.root = installed;
    else if (isDataFolder(sourceDir)) paths.root = QDir::cleanPath(sourceDir);
    return paths;
}

DataPaths DataPaths::forProgram() {
#ifdef QV_DATA_SOURCE_DIR
    const QString source = QStringLiteral(QV_DATA_SOURCE_DIR);
#else
    const QString source;
#endif
    return find(QCoreApplication::applicationDirPath(), source);
}

int checkData(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const DataPaths paths = DataPaths::forProgram();
    auto report = [](const char* what, const QString& dir, const QStringList& patterns) {
        const int count = dir.isEmpty() ? 0 : static_cast<int>(QDir(dir).entryList(patterns, QDir::Files).size());
        std::printf("%s: %s (%d files)\n", what, dir.isEmpty() ? "not found" : qPrintable(dir), count);
        return count > 0;
    };
    bool ok = report("layouts", paths.layouts(), {"*.kbd"});
    ok = report("instruments", paths.instruments(), {"*.qzi"}) && ok;
    ok = report("manual", QStringLiteral(":/manual"), {"*.md"}) && ok;
    const QString demo = paths.demoSong();
    std::printf("demo song: %s\n", demo.isEmpty() ? "not found" : qPrintable(demo));
    return ok ? 0 : 1;
}

}  // namespace qv
