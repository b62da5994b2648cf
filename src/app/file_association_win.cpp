// Module file association on Windows: the class keys under
// HKEY_CURRENT_USER\Software\Classes, which need no administrator rights.
#include "app/file_association.h"

#ifdef Q_OS_WIN

#include <QDir>
#include <QSettings>
#include <shlobj.h>

namespace qv {

namespace {

const QString kClasses = QStringLiteral("HKEY_CURRENT_USER\\Software\\Classes");

// In the native registry format "Default" names a key's unnamed value.
void setDefaultValue(QSettings& classes, const QString& key, const QString& text) {
    classes.setValue(key + QStringLiteral("/Default"), text);
}

void notifyShell() { SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }

}  // namespace

bool FileAssociation::registerModules(const QString& programPath) {
    const QString program = QDir::toNativeSeparators(programPath);
    QSettings classes(kClasses, QSettings::NativeFormat);
    setDefaultValue(classes, QStringLiteral(".qze"), QStringLiteral("qze_file"));
    setDefaultValue(classes, QStringLiteral("qze_file"), QStringLiteral("Qorvette module"));
    setDefaultValue(classes, QStringLiteral("qze_file/defaulticon"), program + QStringLiteral(",0"));
    setDefaultValue(classes, QStringLiteral("qze_file/shell/open"), QStringLiteral("&Open with Qorvette"));
    // The program path is quoted so that folders with spaces start the right file.
    setDefaultValue(classes, QStringLiteral("qze_file/shell/open/command"),
                    QLatin1Char('"') + program + QStringLiteral("\" \"%1\""));
    classes.sync();
    notifyShell();
    return classes.status() == QSettings::NoError && isRegistered();
}

bool FileAssociation::unregisterModules() {
    QSettings classes(kClasses, QSettings::NativeFormat);
    classes.remove(QStringLiteral(".qze"));
    // qze_file itself and its description stay; its sub-keys go.
    classes.remove(QStringLiteral("qze_file/defaulticon"));
    classes.remove(QStringLiteral("qze_file/shell"));
    classes.sync();
    notifyShell();
    return !isRegistered();
}

bool FileAssociation::isRegistered() {
    QSettings classes(kClasses, QSettings::NativeFormat);
    return classes.childGroups().contains(QStringLiteral(".qze"), Qt::CaseInsensitive);
}

}  // namespace qv

#endif
