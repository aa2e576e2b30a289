#include "WorkFolders.h"

#include "FileOps.h"
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
    const QString placeholder = base + QStringLiteral("/Dummy/Dummy.txt");
    if (!FileOps::Exists(placeholder)) {
        QFile file(placeholder);
        if (!file.open(QIODevice::WriteOnly) || file.write(kPlaceholderText) != kPlaceholderText.size()) {
            if (error) *error = QStringLiteral("cannot create %1: %2").arg(placeholder, file.errorString());
            return false;
        }
    }
    return true;
}

bool StartDayLog(QString* error)
{
    QFile log(mReadINI::LogPath);
    if (!log.open(QIODevice::WriteOnly | QIODevice::Truncate) || log.write(kStartLine + kEol) < 0) {
        if (error) *error = QStringLiteral("cannot write the day log %1: %2").arg(mReadINI::LogPath, log.errorString());
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
    QFile log(mReadINI::LogPath);
    if (log.open(QIODevice::WriteOnly | QIODevice::Append)) log.write(key.toUtf8() + kEol);
    return false;
}

void PurgeReceiveFolder()
{
    FileOps::CopyReplace(mReadINI::DummySource, mReadINI::DummyPath);
    if (!FileOps::Exists(mReadINI::DummyPath)) FileOps::CopyReplace(mReadINI::DummySource, mReadINI::DummyPath);
    FileOps::DeleteTxtFiles(mReadINI::MailDir);
}

} // namespace WorkFolders
