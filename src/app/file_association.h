// Association of module files (*.qze) with the program, for the Editor
// page's "Register *.qze" and "Unregister *.qze" buttons. Each platform has
// its own small source file:
// - Linux and other XDG desktops: a shared-mime-info type
//   "application/x-qorvette-module" ("Qorvette module") and a desktop entry
//   that opens it with this program, both in the user's data folder, made the
//   default handler in the user's mimeapps.list.
// - Windows: the keys .qze and qze_file under HKEY_CURRENT_USER\Software\Classes.
// - Elsewhere (macOS: the bundle's Info.plist declares the type) the calls do
//   nothing and report no association.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace qv {

struct FileAssociation {
    // Registers with the program at `programPath` (full path). True when
    // everything was written.
    static bool registerModules(const QString& programPath);
    // Removes what registerModules wrote. True when nothing of it is left.
    static bool unregisterModules();
    // True when module files open with this program.
    static bool isRegistered();
};

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
namespace xdg {

inline constexpr char kMimeType[] = "application/x-qorvette-module";
inline constexpr char kDesktopId[] = "qorvette-qze.desktop";
inline constexpr char kMimePackage[] = "qorvette-qze.xml";

struct Locations {
    QString dataHome;    // $XDG_DATA_HOME or ~/.local/share
    QString configHome;  // $XDG_CONFIG_HOME or ~/.config (holds mimeapps.list)
    bool runTools = true;  // refresh the desktop's caches with the xdg tools when present

    QString mimePackageFile() const;  // <dataHome>/mime/packages/qorvette-qze.xml
    QString desktopFile() const;      // <dataHome>/applications/qorvette-qze.desktop
    QString mimeAppsList() const;     // <configHome>/mimeapps.list
};
Locations userLocations();

bool registerModules(const QString& programPath, const Locations& where);
bool unregisterModules(const Locations& where);
bool isRegistered(const Locations& where);

// The Exec= value that starts `programPath` with the file: the path quoted
// and escaped for a desktop entry, then " %f".
QString execLine(const QString& programPath);
// With `add`, makes `desktopId` the first default for `mimeType` in the text
// of a mimeapps.list; without, removes it from the defaults and the added
// associations (dropping keys left empty). Everything else is kept.
QString withDefault(const QString& mimeAppsText, const QString& mimeType, const QString& desktopId, bool add);
// The desktop ids listed as defaults for `mimeType` in a mimeapps.list text.
QStringList defaultsFor(const QString& mimeAppsText, const QString& mimeType);

}  // namespace xdg
#endif

}  // namespace qv
