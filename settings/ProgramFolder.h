#pragma once
#include <QString>

// Where the program keeps maildata/, the same for the resident and for fwmail.
namespace ProgramFolder {

// The executable's folder when a `maildata` folder stands beside it (a portable copy),
// otherwise the per-user data folder $XDG_DATA_HOME/ferrowick (~/.local/share/ferrowick).
QString Find(const QString& executableFolder);

// The settings file of the program folder: maildata/INI/maildata.ini.
QString SettingsFile(const QString& programFolder);

} // namespace ProgramFolder
