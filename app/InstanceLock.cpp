#include "app/InstanceLock.h"

#include "platform/FileOps.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A name found to be something else is replaced; a second stranger in its place means
// someone is racing us, and the start goes on without the guard rather than loop.
constexpr int kAttempts = 3;

QString systemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

} // namespace

InstanceLock::InstanceLock(QString path, QString guarded) : path_(std::move(path)), guarded_(std::move(guarded)) {}

InstanceLock::~InstanceLock() { Release(); }

InstanceLock::Outcome InstanceLock::Take(QString* why)
{
    if (fd_ >= 0) return Outcome::Taken;
    const auto failed = [why](const QString& reason) {
        if (why) *why = reason;
        return Outcome::Failed;
    };
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const FileOps::OpenResult opened =
            FileOps::OpenRegularFile(path_, O_RDWR | O_CREAT, FileOps::Links::Refuse, 0600);
        if (opened.status == FileOps::ReadStatus::NotRegular) {
            if (!clearStranger(opened.reason, why)) return Outcome::Failed;
            continue;
        }
        if (opened.fd < 0) return failed(opened.reason);
        const int fd = opened.fd;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int code = errno;
            ::close(fd);
            if (code == EWOULDBLOCK) return Outcome::HeldByAnother;
            return failed(systemError(code));
        }
        // The holder removes the file as it ends: a lock on a name no longer there guards nothing.
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) != 0 || ::lstat(QFile::encodeName(path_).constData(), &named) != 0 ||
            held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
            ::close(fd);
            continue;
        }
        const QString canonical = QFileInfo(guarded_).canonicalFilePath();
        const QByteArray note = QByteArray::number(::getpid()) + '\n' +
                                QFile::encodeName(canonical.isEmpty() ? guarded_ : canonical) + '\n';
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, note.constData(), static_cast<size_t>(note.size()), 0) < 0) {
            // The note is for people; the lock holds without it.
        }
        fd_ = fd;
        return Outcome::Taken;
    }
    return failed(QStringLiteral("something keeps taking the place of %1").arg(path_));
}

bool InstanceLock::clearStranger(const QString& what, QString* why)
{
    const QByteArray name = QFile::encodeName(path_);
    struct stat st {};
    const bool folder = ::lstat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode);
    if ((folder ? ::rmdir(name.constData()) : ::unlink(name.constData())) != 0 && errno != ENOENT) {
        if (why) *why = QStringLiteral("%1 %2 and cannot be removed (%3)").arg(path_, what, systemError(errno));
        return false;
    }
    std::fprintf(stderr, "ferrowick: %s %s; replaced it with a lock file\n", qPrintable(path_), qPrintable(what));
    return true;
}

void InstanceLock::Release()
{
    if (fd_ < 0) return;
    // Removed while still held, so that no later start locks the name as it goes; only when
    // the name is still this lock's file.
    struct stat held {
    }, named{};
    const QByteArray name = QFile::encodeName(path_);
    if (::fstat(fd_, &held) == 0 && ::lstat(name.constData(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino)
        ::unlink(name.constData());
    ::close(fd_);
    fd_ = -1;
}
