// Module file association on macOS: the application bundle's Info.plist
// declares the document type, so there is nothing to register at run time.
#include "app/file_association.h"

#ifdef Q_OS_MACOS

namespace qv {

bool FileAssociation::registerModules(const QString&) { return false; }
bool FileAssociation::unregisterModules() { return true; }
bool FileAssociation::isRegistered() { return false; }

}  // namespace qv

#endif
