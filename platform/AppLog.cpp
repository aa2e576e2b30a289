#include "platform/AppLog.h"

#include "platform/FileOps.h"
#include "platform/TextUtil.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace AppLog {
namespace {

std::mutex mutex;
QString logPath;          // guarded by mutex
bool failureSaid = false; // guarded by mutex

bool writeAll(int fd, const QByteArray& data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

// Only a regular file of ours: a FIFO nobody reads must not stall the checks, and a link
// must not lead the lines, or the mode below, to another file.
FileOps::OpenResult openLog(const QString& path)
{
    return FileOps::OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT, FileOps::Links::Refuse, 0600);
}

QString whyNot(const FileOps::OpenResult& log)
{
    return log.status == FileOps::ReadStatus::NotRegular
               ? QStringLiteral("it ") + log.reason + QStringLiteral(", left alone")
               : log.reason;
}

// Appends under the lock. Returns an empty string on success, otherwise the reason.
QString appendLocked(const QByteArray& data)
{
    FileOps::OpenResult log = openLog(logPath);
    if (log.fd < 0) return whyNot(log);
    struct stat st {};
    if (::fstat(log.fd, &st) == 0) {
        // A file made by hand or an older version keeps no looser mode than ours.
        if ((st.st_mode & 07777) != 0600) ::fchmod(log.fd, 0600);
        if (st.st_size > 0 && st.st_size + data.size() > kMaxBytes) {
            ::close(log.fd);
            const QByteArray path = QFile::encodeName(logPath);
            const QByteArray older = path + ".1";
            if (::rename(path.constData(), older.constData()) != 0) return QString::fromLocal8Bit(std::strerror(errno));
            log = openLog(logPath);
            if (log.fd < 0) return whyNot(log);
        }
    }
    const bool written = writeAll(log.fd, data);
    const int writeErrno = errno;
    if (::close(log.fd) != 0 && written) return QString::fromLocal8Bit(std::strerror(errno));
    return written ? QString() : QString::fromLocal8Bit(std::strerror(writeErrno));
}

} // namespace

void SetPath(const QString& path)
{
    std::lock_guard lock(mutex);
    logPath = path;
    failureSaid = false;
}

QString Path()
{
    std::lock_guard lock(mutex);
    return logPath;
}

void Append(const QString& line)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss "));
    const QByteArray data = (stamp + TextUtil::OneLine(line)).toUtf8() + '\n';
    std::lock_guard lock(mutex);
    if (logPath.isEmpty()) return;
    const QString failure = appendLocked(data);
    if (failure.isEmpty() || failureSaid) return;
    // Once only: a full disk would otherwise add a line to stderr for every line lost.
    failureSaid = true;
    std::fprintf(stderr, "ferrowick: cannot write the log %s (%s); going on without it\n", qPrintable(logPath),
                 qPrintable(failure));
}

void Warn(const std::string& line)
{
    const QString text = QString::fromStdString(line);
    std::fprintf(stderr, "%s\n", TextUtil::OneLine(text).toUtf8().constData());
    Append(text);
}

} // namespace AppLog
