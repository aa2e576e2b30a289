#include "controller/WorkFolders.h"

#include "platform/Diagnostics.h"
#include "platform/FileOps.h"
#include "platform/ProfileIni.h"
#include "platform/TextUtil.h"
#include "settings/ProgramFolder.h"
#include "settings/mReadINI.h"

#include <QFile>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace WorkFolders {
namespace {
const QByteArray kEol("\r\n");
const QByteArray kStartLine("--- Write Start ---");
const QByteArray
    kPlaceholderText("Ferrowick placeholder: copied into the receive folder and deleted after every check.\r\n");

// The day log's keys, kept in memory: the file is read once, then only what was added to it
// since (by us, or by hand) is read. The keys of this run stay here even when the file
// cannot take them, so a mail is announced once either way.
struct DayLog {
    QString path;
    QSet<QString> keys;
    dev_t device = 0;
    ino_t inode = 0;
    qint64 readUpTo = 0; // bytes of the file taken into `keys`, up to a line break
    bool appendFailing = false;
    int batches = 0;        // DayLogBatch objects alive
    bool batchRead = false; // the file was read since the outermost batch began
};

DayLog& dayLog()
{
    static DayLog log;
    return log;
}

void resetDayLog(const QString& path)
{
    DayLog& log = dayLog();
    const int batches = log.batches;
    log = DayLog();
    log.path = path;
    log.batches = batches;
}

void takeLines(DayLog& log, const QByteArray& bytes)
{
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype nl = bytes.indexOf('\n', start);
        const bool complete = nl >= 0;
        if (!complete) nl = bytes.size();
        QByteArray line = bytes.mid(start, nl - start);
        while (line.endsWith('\r')) line.chop(1);
        log.keys.insert(TextUtil::TrimSpaces(QString::fromUtf8(line)));
        // An unfinished last line is read again once it is finished.
        if (complete) log.readUpTo += nl + 1 - start;
        start = nl + 1;
    }
}

// Takes in what was added to the file since it was last read. A file replaced or cut
// shorter is read again from the start.
void refreshDayLog(DayLog& log)
{
    // Never through a link, never a FIFO: only the regular file of ours is read.
    const int fd = FileOps::OpenRegularFile(log.path, O_RDONLY, FileOps::Links::Refuse).fd;
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) ::close(fd);
        return;
    }
    if (st.st_dev != log.device || st.st_ino != log.inode || st.st_size < log.readUpTo) {
        log.device = st.st_dev;
        log.inode = st.st_ino;
        log.readUpTo = 0;
    }
    if (st.st_size == log.readUpTo) {
        ::close(fd);
        return;
    }
    QByteArray tail(st.st_size - log.readUpTo, Qt::Uninitialized);
    qint64 got = 0;
    while (got < tail.size()) {
        const ssize_t n = ::pread(fd, tail.data() + got, static_cast<size_t>(tail.size() - got), log.readUpTo + got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += n;
    }
    ::close(fd);
    tail.truncate(got);
    takeLines(log, tail);
}

bool isMailFileName(const char* name)
{
    const size_t length = std::strlen(name);
    if (length != 3 + 32 + 4 || std::strncmp(name, "fw-", 3) != 0 || std::strcmp(name + 35, ".txt") != 0) return false;
    for (size_t i = 3; i < 35; ++i)
        if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'f'))) return false;
    return true;
}

} // namespace

void SetPaths(const QString& programFolder, const QDate& startDate)
{
    mReadINI::IniPath = ProgramFolder::SettingsFile(programFolder);
    mReadINI::DummySource = programFolder + QStringLiteral("/maildata/Dummy/Dummy.txt");
    mReadINI::DummyPath = programFolder + QStringLiteral("/maildata/Dummy.txt");
    mReadINI::MailDir = programFolder + QStringLiteral("/maildata");
    mReadINI::LogPath = programFolder + QStringLiteral("/maildata/Dat/RevMail") +
                        startDate.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".dat");
}

bool RepairInstallation(const QString& programFolder, QString* error)
{
    const QString base = programFolder + QStringLiteral("/maildata");
    for (const QString& folder :
         {base, base + QStringLiteral("/INI"), base + QStringLiteral("/Dat"), base + QStringLiteral("/Dummy")}) {
        if (!FileOps::EnsureFolder(folder)) {
            if (error) *error = QStringLiteral("cannot create folder %1").arg(folder);
            return false;
        }
    }
    // Copies of the settings, passwords included, that an interrupted save left behind.
    ProfileIni::RemoveStaleTemporaries(base + QStringLiteral("/INI/maildata.ini"));
    RemoveOldMailCopies(programFolder);
    const QString placeholder = base + QStringLiteral("/Dummy/Dummy.txt");
    // Written in one step, so that a full disk cannot leave a short placeholder that passes for a good one.
    if (!FileOps::Exists(placeholder) && !FileOps::ReplaceFile(placeholder, kPlaceholderText, false, error))
        return false;
    return true;
}

bool StartDayLog(QString* error)
{
    resetDayLog(mReadINI::LogPath);
    QString why;
    if (!FileOps::WriteFile(mReadINI::LogPath, kStartLine + kEol, &why)) {
        if (error) *error = QStringLiteral("cannot start the day log: %1").arg(why);
        return false;
    }
    return true;
}

bool LookUpOrAppend(const QString& key)
{
    DayLog& log = dayLog();
    if (log.path != mReadINI::LogPath) resetDayLog(mReadINI::LogPath);
    if (!log.batchRead) {
        refreshDayLog(log);
        log.batchRead = log.batches > 0;
    }
    const QString wanted = TextUtil::TrimSpaces(key);
    if (log.keys.contains(wanted)) return true;
    log.keys.insert(wanted);
    const QByteArray line = key.toUtf8() + kEol;
    QString error;
    if (FileOps::AppendToFile(log.path, line, &error)) {
        // Our line is read back with whatever else was added, at the next reading: assuming
        // it is the next line would misplace the reading offset after anyone else's line.
        log.appendFailing = false;
    } else if (!log.appendFailing) {
        log.appendFailing = true;
        Diagnostics::Warn(
            QStringLiteral("%1; mails already announced are remembered until the program ends").arg(error));
    }
    return false;
}

DayLogBatch::DayLogBatch() { ++dayLog().batches; }

DayLogBatch::~DayLogBatch()
{
    DayLog& log = dayLog();
    if (--log.batches == 0) log.batchRead = false;
}

int RemoveOldMailCopies(const QString& programFolder)
{
    const QByteArray base = QFile::encodeName(programFolder + QStringLiteral("/maildata"));
    const int baseFd = ::open(base.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (baseFd < 0) return 0;
    // Never through a link, and only a folder of our own.
    const int cacheFd = ::openat(baseFd, ".fw-cache", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(baseFd);
    if (cacheFd < 0) return 0;
    struct stat st {};
    if (::fstat(cacheFd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(cacheFd);
        return 0;
    }
    DIR* dir = ::fdopendir(cacheFd);
    if (!dir) {
        ::close(cacheFd);
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(dir))
        if (isMailFileName(entry->d_name) && ::unlinkat(cacheFd, entry->d_name, 0) == 0) ++removed;
    ::closedir(dir);
    return removed;
}

bool PurgeReceiveFolder()
{
    QString error;
    bool copied = FileOps::CopyReplace(mReadINI::DummySource, mReadINI::DummyPath, &error);
    if (!copied && !FileOps::Exists(mReadINI::DummyPath))
        copied = FileOps::CopyReplace(mReadINI::DummySource, mReadINI::DummyPath, &error);
    // Said once: the purge runs after every check.
    static QString lastError;
    if (!copied && error != lastError) Diagnostics::Warn(error);
    lastError = copied ? QString() : error;
    FileOps::DeleteTxtFiles(mReadINI::MailDir);
    return copied;
}

} // namespace WorkFolders
