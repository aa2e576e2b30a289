#include "WorkFolders.h"

#include "Diagnostics.h"
#include "FileOps.h"
#include "ProfileIni.h"
#include "TextUtil.h"
#include "mReadINI.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>

namespace WorkFolders {
namespace {
const QByteArray kEol("\r\n");
const QByteArray kStartLine("--- Write Start ---");
const QByteArray kPlaceholderText("Ferrowick placeholder: copied into the receive folder and deleted after every check.\r\n");
} // namespace

QString ProgramFolder(const QString& executableFolder)
{
    if (QFileInfo(executableFolder + QStringLiteral("/maildata")).isDir()) return executableFolder;
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty() || !QDir::isAbsolutePath(dataHome)) dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return dataHome + QStringLiteral("/ferrowick");
}

void SetPaths(const QString& programFolder, const QDate& startDate)
{
    mReadINI::IniPath = programFolder + QStringLiteral("/maildata/INI/maildata.ini");
    mReadINI::DummySource = programFolder + QStringLiteral("/maildata/Dummy/Dummy.txt");
    mReadINI::DummyPath = programFolder + QStringLiteral("/maildata/Dummy.txt");
    mReadINI::MailDir = programFolder + QStringLiteral("/maildata");
    mReadINI::LogPath = programFolder + QStringLiteral("/maildata/Dat/RevMail") + startDate.toString(QStringLiteral("yyyyMMdd")) +
                        QStringLiteral(".dat");
}

bool RepairInstallation(const QString& programFolder, QString* error)
{
    const QString base = programFolder + QStringLiteral("/maildata");
    for (const QString& folder : {base, base + QStringLiteral("/INI"), base + QStringLiteral("/Dat"), base + QStringLiteral("/Dummy")}) {
        if (!FileOps::EnsureFolder(folder)) {
            if (error) *error = QStringLiteral("cannot create folder %1").arg(folder);
            return false;
        }
    }
    // Copies of the settings, passwords included, that an interrupted save left behind.
    ProfileIni::RemoveStaleTemporaries(base + QStringLiteral("/INI/maildata.ini"));
    const QString placeholder = base + QStringLiteral("/Dummy/Dummy.txt");
    // Written in one step, so that a full disk cannot leave a short placeholder that passes for a good one.
    if (!FileOps::Exists(placeholder) && !FileOps::ReplaceFile(placeholder, kPlaceholderText, false, error)) return false;
    return true;
}

bool StartDayLog(QString* error)
{
    QString why;
    if (!FileOps::WriteFile(mReadINI::LogPath, kStartLine + kEol, &why)) {
        if (error) *error = QStringLiteral("cannot start the day log: %1").arg(why);
        return false;
    }
    return true;
}

bool LookUpOrAppend(const QString& key)
{
    const QString wanted = TextUtil::TrimSpaces(key);
    {
        QFile log(mReadINI::LogPath);
        if (log.open(QIODevice::ReadOnly)) {
            while (!log.atEnd()) {
                QByteArray line = log.readLine();
                while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
                if (TextUtil::TrimSpaces(QString::fromUtf8(line)) == wanted) return true;
            }
        }
    }
    FileOps::AppendToFile(mReadINI::LogPath, key.toUtf8() + kEol);
    return false;
}

bool PurgeReceiveFolder()
{
    QString error;
    bool copied = FileOps::CopyReplace(mReadINI::DummySource, mReadINI::DummyPath, &error);
    if (!copied && !FileOps::Exists(mReadINI::DummyPath)) copied = FileOps::CopyReplace(mReadINI::DummySource, mReadINI::DummyPath, &error);
    // Said once: the purge runs after every check.
    static QString lastError;
    if (!copied && error != lastError) Diagnostics::Warn(error);
    lastError = copied ? QString() : error;
    FileOps::DeleteTxtFiles(mReadINI::MailDir);
    return copied;
}

} // namespace WorkFolders
