#include "platform/AppLog.h"

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

QString oneLine(const QString& text)
{
    QString out = text;
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029) c = u' ';
    }
    return out;
}

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

int openLog(const QByteArray& path)
{
    return ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
}

// Appends under the lock. Returns an empty string on success, otherwise the reason.
QString appendLocked(const QByteArray& data)
{
    const QByteArray path = QFile::encodeName(logPath);
    int fd = openLog(path);
    if (fd < 0) return QString::fromLocal8Bit(std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        // A file made by hand or an older version keeps no looser mode than ours.
        if ((st.st_mode & 07777) != 0600) ::fchmod(fd, 0600);
        if (st.st_size > 0 && st.st_size + data.size() > kMaxBytes) {
            ::close(fd);
            const QByteArray older = path + ".1";
            if (::rename(path.constData(), older.constData()) != 0) return QString::fromLocal8Bit(std::strerror(errno));
            fd = openLog(path);
            if (fd < 0) return QString::fromLocal8Bit(std::strerror(errno));
        }
    }
    const bool written = writeAll(fd, data);
    const int writeErrno = errno;
    if (::close(fd) != 0 && written) return QString::fromLocal8Bit(std::strerror(errno));
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
    const QByteArray data = (stamp + oneLine(line)).toUtf8() + '\n';
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
    std::fprintf(stderr, "%s\n", line.c_str());
    Append(QString::fromStdString(line));
}

} // namespace AppLog
