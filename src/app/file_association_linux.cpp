// Module file association on XDG desktops (Linux, the BSDs).
#include "app/file_association.h"

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace qv {

namespace xdg {

namespace {

constexpr int kToolTimeoutMs = 15000;

QString homeFolder(const char* variable, const char* fallback) {
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value)) return QDir::cleanPath(value);
    return QDir::home().filePath(QString::fromLatin1(fallback));
}

QString mimePackageText() {
    return QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
        "  <mime-type type=\"%1\">\n"
        "    <comment>Qorvette module</comment>\n"
        "    <glob pattern=\"*.qze\"/>\n"
        "  </mime-type>\n"
        "</mime-info>\n")
        .arg(QString::fromLatin1(kMimeType));
}

QString desktopText(const QString& programPath) {
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Qorvette\n"
               "Comment=Open with Qorvette\n"
               "Exec=%1\n"
               "MimeType=%2;\n"
               "Terminal=false\n"
               "Categories=AudioVideo;Audio;Midi;\n")
        .arg(execLine(programPath), QString::fromLatin1(kMimeType));
}

bool writeFile(const QString& path, const QString& text) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(text.toUtf8());
    return file.commit();
}

QString readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool removeFile(const QString& path) { return !QFile::exists(path) || QFile::remove(path); }

// Runs one of the desktop's tools when it is installed; a missing or failing
// tool is no error, the files written above already do the work.
void runTool(const Locations& where, const QString& tool, const QStringList& arguments) {
    if (!where.runTools) return;
    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty()) return;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), where.dataHome);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), where.configHome);
    process.setProcessEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(kToolTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
    }
}

void refreshCaches(const Locations& where) {
    runTool(where, QStringLiteral("update-mime-database"), {QDir(where.dataHome).filePath("mime")});
    runTool(where, QStringLiteral("update-desktop-database"), {QDir(where.dataHome).filePath("applications")});
}

bool isSectionHeader(const QString& line) { return line.startsWith(QLatin1Char('[')); }

// Splits "key=value" lines of one section; returns the index of the key's
// line, or -1.
int findKey(const QStringList& lines, int sectionStart, int sectionEnd, const QString& key) {
    for (int i = sectionStart; i < sectionEnd; ++i) {
        const QString line = lines[i].trimmed();
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.left(eq).trimmed() == key) return i;
    }
    return -1;
}

QStringList idsOf(const QString& line) {
    const QString value = line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed();
    QStringList ids;
    for (const QString& id : value.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        if (!id.trimmed().isEmpty()) ids << id.trimmed();
    return ids;
}

struct Section {
    int header = -1;  // line of "[...]", -1 when absent
    int end = 0;      // first line after the section
};

Section findSection(const QStringList& lines, const QString& name) {
    Section section;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed() == name) {
            section.header = i;
            section.end = i + 1;
            while (section.end < lines.size() && !isSectionHeader(lines[section.end].trimmed())) ++section.end;
            return section;
        }
    }
    return section;
}

}  // namespace

QString Locations::mimePackageFile() const {
    return QDir(dataHome).filePath(QStringLiteral("mime/packages/") + QString::fromLatin1(kMimePackage));
}
QString Locations::desktopFile() const {
    return QDir(dataHome).filePath(QStringLiteral("applications/") + QString::fromLatin1(kDesktopId));
}
QString Locations::mimeAppsList() const { return QDir(configHome).filePath(QStringLiteral("mimeapps.list")); }

Locations userLocations() {
    Locations where;
    where.dataHome = homeFolder("XDG_DATA_HOME", ".local/share");
    where.configHome = homeFolder("XDG_CONFIG_HOME", ".config");
    return where;
}

QString execLine(const QString& programPath) {
    // Inside a quoted argument ", `, $ and \ are escaped with a backslash.
    QString quoted = QStringLiteral("\"");
    for (const QChar ch : programPath) {
        if (ch == QLatin1Char('"') || ch == QLatin1Char('`') || ch == QLatin1Char('$') || ch == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += ch;
    }
    quoted += QLatin1Char('"');
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    // Then the escapes of every string value in a desktop entry.
    QString value;
    for (const QChar ch : quoted) {
        if (ch == QLatin1Char('\\'))
            value += QStringLiteral("\\\\");
        else if (ch == QLatin1Char('\n'))
            value += QStringLiteral("\\n");
        else if (ch == QLatin1Char('\t'))
            value += QStringLiteral("\\t");
        else if (ch == QLatin1Char('\r'))
            value += QStringLiteral("\\r");
        else
            value += ch;
    }
    return value + QStringLiteral(" %f");
}

QStringList defaultsFor(const QString& mimeAppsText, const QString& mimeType) {
    const QStringList lines = mimeAppsText.split(QLatin1Char('\n'));
    const Section section = findSection(lines, QStringLiteral("[Default Applications]"));
    if (section.header < 0) return {};
    const int line = findKey(lines, section.header + 1, section.end, mimeType);
    return line < 0 ? QStringList() : idsOf(lines[line]);
}

QString withDefault(const QString& mimeAppsText, const QString& mimeType, const QString& desktopId, bool add) {
    QStringList lines = mimeAppsText.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();

    const QStringList sections = add ? QStringList{QStringLiteral("[Default Applications]")}
                                     : QStringList{QStringLiteral("[Default Applications]"),
                                                   QStringLiteral("[Added Associations]")};
    for (const QString& name : sections) {
        Section section = findSection(lines, name);
        if (section.header < 0) {
            if (!add) continue;
            if (!lines.isEmpty() && !lines.last().trimmed().isEmpty()) lines << QString();
            lines << name;
            section.header = lines.size() - 1;
            section.end = lines.size();
        }
        const int line = findKey(lines, section.header + 1, section.end, mimeType);
        QStringList ids = line < 0 ? QStringList() : idsOf(lines[line]);
        ids.removeAll(desktopId);
        if (add) ids.prepend(desktopId);
        const QString entry = mimeType + QLatin1Char('=') + ids.join(QLatin1Char(';')) + QLatin1Char(';');
        if (line >= 0 && ids.isEmpty()) {
            lines.removeAt(line);
            // A section left without entries goes too, with the blank line before it.
            bool empty = true;
            for (int i = section.header + 1; i < section.end - 1; ++i) empty = empty && lines[i].trimmed().isEmpty();
            if (empty) {
                for (int i = section.end - 2; i >= section.header; --i) lines.removeAt(i);
                if (section.header > 0 && lines[section.header - 1].trimmed().isEmpty())
                    lines.removeAt(section.header - 1);
            }
        } else if (line >= 0)
            lines[line] = entry;
        else if (!ids.isEmpty())
            lines.insert(section.end, entry);
    }
    return lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

bool registerModules(const QString& programPath, const Locations& where) {
    const QString id = QString::fromLatin1(kDesktopId);
    const QString type = QString::fromLatin1(kMimeType);
    bool ok = writeFile(where.mimePackageFile(), mimePackageText());
    ok = writeFile(where.desktopFile(), desktopText(QFileInfo(programPath).absoluteFilePath())) && ok;
    ok = writeFile(where.mimeAppsList(), withDefault(readFile(where.mimeAppsList()), type, id, true)) && ok;
    refreshCaches(where);
    runTool(where, QStringLiteral("xdg-mime"), {QStringLiteral("default"), id, type});
    return ok && isRegistered(where);
}

bool unregisterModules(const Locations& where) {
    const QString id = QString::fromLatin1(kDesktopId);
    const QString type = QString::fromLatin1(kMimeType);
    bool ok = removeFile(where.mimePackageFile());
    ok = removeFile(where.desktopFile()) && ok;
    // The default may also sit in the older per-user list of the data folder.
    const QString legacyList = QDir(where.dataHome).filePath(QStringLiteral("applications/mimeapps.list"));
    for (const QString& list : {where.mimeAppsList(), legacyList}) {
        if (!QFile::exists(list)) continue;
        const QString before = readFile(list);
        const QString after = withDefault(before, type, id, false);
        if (after == before) continue;
        if (after.trimmed().isEmpty())
            ok = QFile::remove(list) && ok;
        else
            ok = writeFile(list, after) && ok;
    }
    refreshCaches(where);
    return ok && !isRegistered(where);
}

bool isRegistered(const Locations& where) {
    if (!QFile::exists(where.desktopFile()) || !QFile::exists(where.mimePackageFile())) return false;
    const QStringList ids = defaultsFor(readFile(where.mimeAppsList()), QString::fromLatin1(kMimeType));
    return !ids.isEmpty() && ids.first() == QLatin1String(kDesktopId);
}

}  // namespace xdg

bool FileAssociation::registerModules(const QString& programPath) {
    return xdg::registerModules(programPath, xdg::userLocations());
}
bool FileAssociation::unregisterModules() { return xdg::unregisterModules(xdg::userLocations()); }
bool FileAssociation::isRegistered() { return xdg::isRegistered(xdg::userLocations()); }

}  // namespace qv

#endif
