#include "settings/ProgramFolder.h"

#include <QDir>
#include <QFileInfo>

namespace ProgramFolder {

QString Find(const QString& executableFolder)
{
    if (QFileInfo(executableFolder + QStringLiteral("/maildata")).isDir()) return executableFolder;
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    // A relative XDG_DATA_HOME counts as unset.
    if (dataHome.isEmpty() || !QDir::isAbsolutePath(dataHome))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return dataHome + QStringLiteral("/ferrowick");
}

QString SettingsFile(const QString& programFolder)
{
    return programFolder + QStringLiteral("/maildata/INI/maildata.ini");
}

} // namespace ProgramFolder
