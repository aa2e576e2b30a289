#include "fwmail/SettingsAccount.h"

#include "settings/ProgramFolder.h"
#include "settings/mReadINI.h"

#include <QFileInfo>

namespace fwmail {

std::string ProgramFolderFor(const std::string& executableFolder)
{
    return ProgramFolder::Find(QString::fromStdString(executableFolder)).toStdString();
}

bool ReadSettingsAccount(const std::string& programFolder, int account, SettingsAccount& out, std::string& error)
{
    const QString base = QString::fromStdString(programFolder) + QStringLiteral("/maildata");
    mReadINI::IniPath = ProgramFolder::SettingsFile(QString::fromStdString(programFolder));
    if (!QFileInfo(mReadINI::IniPath).isFile()) {
        error = "no settings file " + mReadINI::IniPath.toStdString();
        return false;
    }
    QString server, user, password, name;
    mReadINI::ReadAccountSettings(server, user, password, name, QString::number(account));
    if (server.trimmed().isEmpty() || user.trimmed().isEmpty()) {
        error = "account " + std::to_string(account) + " is not configured in " + mReadINI::IniPath.toStdString();
        return false;
    }
    out.server = server.toStdString();
    out.user = user.toStdString();
    out.password = password.toStdString();
    const QString ca = base + QStringLiteral("/INI/cacert.pem");
    out.caFile = QFileInfo(ca).isFile() ? ca.toStdString() : std::string();
    return true;
}

} // namespace fwmail
