#include "platform/FileOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileOps {
namespace {

QString systemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

bool fail(QString* error, const QString& why)
{
    if (error) *error = why;
    return false;
}

// Writes all of `bytes`; false with errno set when the system took fewer.
bool writeWhole(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

// Closes `fd`; a failed close is a failed write (NFS and some file systems report late).
bool closeChecked(int fd) { return ::close(fd) == 0 || errno == EINTR; }

bool writeAndClose(int fd, const QByteArray& bytes, const QString& path, QString* error)
{
    if (!writeWhole(fd, bytes)) {
        const int code = errno;
        ::close(fd);
        return fail(error, QStringLiteral("cannot write %1: %2").arg(path, systemError(code)));
    }
    if (!closeChecked(fd)) return fail(error, QStringLiteral("cannot write %1: %2").arg(path, systemError(errno)));
    return true;
}

bool isTemporarySuffix(const char* s)
{
    for (int i = 0; i < 6; ++i) {
        const char c = s[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    }
    return s[6] == '\0';
}

int removeTemporariesOf(const QByteArray& target)
{
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : (slash == 0 ? QByteArray("/") : target.left(slash));
    const QByteArray prefix = target.mid(slash + 1) + '.';
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return 0;
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strncmp(name, prefix.constData(), static_cast<size_t>(prefix.size())) != 0) continue;
        if (!isTemporarySuffix(name + prefix.size())) continue;
        struct stat st {};
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
        if (::unlinkat(dirFd, name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

} // namespace

QString OpenResult::Describe(const QString& path, const QString& verb) const
{
    if (status == ReadStatus::NotRegular) return path + u' ' + reason;
    return QStringLiteral("cannot %1 %2: %3")
        .arg(verb, path, status == ReadStatus::Missing ? systemError(ENOENT) : reason);
}

bool Exists(const QString& path) { return QFileInfo(path).isFile(); }

bool CopyReplace(const QString& from, const QString& to, QString* error)
{
    const ReadResult source = ReadRegularFile(from, qint64(1) << 20);
    if (source.status != ReadStatus::Ok) {
        return fail(error,
                    source.status == ReadStatus::Missing ? QStringLiteral("%1 is missing").arg(from) : source.error);
    }
    const QFileInfo target(to);
    if (target.exists() || target.isSymLink()) {
        if (!target.isFile() && !target.isSymLink())
            return fail(error, QStringLiteral("%1 is not a regular file").arg(to));
        QFile::remove(to);
    }
    const QByteArray name = QFile::encodeName(to);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return fail(error, QStringLiteral("cannot create %1: %2").arg(to, systemError(errno)));
    if (!writeAndClose(fd, source.bytes, to, error)) {
        ::unlink(name.constData());
        return false;
    }
    return true;
}

bool DeleteFileInFolder(const QString& path, const QString& folder, int folderFd)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const QByteArray name = QFile::encodeName(path.mid(slash + 1));
    if (name.isEmpty() || name == "." || name == "..") return false;
    const QString parent = slash < 0 ? QStringLiteral(".") : slash == 0 ? QStringLiteral("/") : path.left(slash);
    QString base = folder;
    while (base.size() > 1 && base.endsWith(u'/')) base.chop(1);
    const int held = folderFd;
    if (folderFd < 0) folderFd = ::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) return false;
    // The folder as written, or the same folder reached another way (a link, "..").
    bool inFolder = parent == base;
    struct stat dir {
    }, named{};
    if (!inFolder && ::fstat(folderFd, &dir) == 0 && ::stat(QFile::encodeName(parent).constData(), &named) == 0)
        inFolder = dir.st_dev == named.st_dev && dir.st_ino == named.st_ino;
    // Relative to the folder, never through a link.
    struct stat file {};
    const bool deleted = inFolder && ::fstatat(folderFd, name.constData(), &file, AT_SYMLINK_NOFOLLOW) == 0 &&
                         S_ISREG(file.st_mode) && ::unlinkat(folderFd, name.constData(), 0) == 0;
    if (held < 0) ::close(folderFd);
    return deleted;
}

int DeleteTxtFiles(const QString& folder)
{
    // Runs after every check: one pass over the folder's entries, no path walked per file.
    const int folderFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) return 0;
    DIR* dir = ::fdopendir(folderFd);
    if (!dir) {
        ::close(folderFd);
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const size_t length = std::strlen(entry->d_name);
        if (length < 4 || ::strcasecmp(entry->d_name + length - 4, ".txt") != 0) continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(folderFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            type = S_ISREG(st.st_mode) ? DT_REG : S_ISLNK(st.st_mode) ? DT_LNK : DT_UNKNOWN;
        }
        // A link is removed itself; what it points to is never touched.
        if ((type == DT_REG || type == DT_LNK) && ::unlinkat(folderFd, entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

bool EnsureFolder(const QString& folder) { return QDir().mkpath(folder); }

OpenResult OpenRegularFile(const QString& path, int flags, Links links, mode_t createMode)
{
    OpenResult result;
    const QByteArray name = QFile::encodeName(path);
    const auto refuse = [&](ReadStatus status, const QString& why) {
        if (result.fd >= 0) ::close(result.fd);
        result.fd = -1;
        result.status = status;
        result.reason = why;
        return result;
    };
    const auto refuseKind = [&](const struct stat& st) {
        if (S_ISLNK(st.st_mode)) return refuse(ReadStatus::NotRegular, QStringLiteral("is a link"));
        if (S_ISDIR(st.st_mode)) return refuse(ReadStatus::NotRegular, QStringLiteral("is a folder, not a file"));
        if (!S_ISREG(st.st_mode)) return refuse(ReadStatus::NotRegular, QStringLiteral("is not a regular file"));
        return refuse(ReadStatus::NotRegular, QStringLiteral("belongs to another user"));
    };
    const bool own = links == Links::Refuse;
    const auto acceptable = [own](const struct stat& st) {
        return S_ISREG(st.st_mode) && (!own || st.st_uid == ::geteuid());
    };
    if (path.isEmpty()) return result;
    // Looked at before opening: opening a device or FIFO can have effects of its own.
    struct stat st {};
    if ((own ? ::lstat(name.constData(), &st) : ::stat(name.constData(), &st)) == 0) {
        if (!acceptable(st)) return refuseKind(st);
    } else if (errno != ENOENT || !(flags & O_CREAT)) {
        if (errno == ENOENT) return result;
        return refuse(ReadStatus::Unreadable, systemError(errno));
    }
    const int openFlags = (flags & ~O_TRUNC) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (own ? O_NOFOLLOW : 0);
    result.fd = ::open(name.constData(), openFlags, createMode);
    if (result.fd < 0) {
        const int code = errno;
        if (code == ENOENT && !(flags & O_CREAT)) return refuse(ReadStatus::Missing, QString());
        // What took the name's place since: a link, or a FIFO that nobody reads.
        if (code == ELOOP) return refuse(ReadStatus::NotRegular, QStringLiteral("is a link"));
        if (code == ENXIO) return refuse(ReadStatus::NotRegular, QStringLiteral("is not a regular file"));
        return refuse(ReadStatus::Unreadable, systemError(code));
    }
    if (::fstat(result.fd, &st) != 0) return refuse(ReadStatus::Unreadable, systemError(errno));
    if (!acceptable(st)) return refuseKind(st);
    if ((flags & O_TRUNC) && ::ftruncate(result.fd, 0) != 0) return refuse(ReadStatus::Unreadable, systemError(errno));
    result.status = ReadStatus::Ok;
    return result;
}

ReadResult ReadRegularFile(const QString& path, qint64 maxBytes)
{
    ReadResult result;
    const OpenResult opened = OpenRegularFile(path, O_RDONLY, Links::Follow);
    result.status = opened.status;
    if (opened.status != ReadStatus::Ok) {
        if (opened.status != ReadStatus::Missing) result.error = opened.Describe(path, QStringLiteral("read"));
        return result;
    }
    const int fd = opened.fd;
    QByteArray bytes;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int code = errno;
            ::close(fd);
            result.status = ReadStatus::Unreadable;
            result.error = QStringLiteral("cannot read %1: %2").arg(path, systemError(code));
            return result;
        }
        if (n == 0) break;
        bytes.append(buf, n);
        if (bytes.size() > maxBytes) break;
    }
    ::close(fd);
    if (bytes.size() > maxBytes) {
        bytes.truncate(maxBytes);
        result.status = ReadStatus::TooLarge;
        result.error = QStringLiteral("%1 is larger than %2 bytes; only the start is read").arg(path).arg(maxBytes);
    } else {
        result.status = ReadStatus::Ok;
    }
    result.bytes = std::move(bytes);
    return result;
}

bool ReplaceFile(const QString& path, const QByteArray& bytes, bool durable, QString* error)
{
    QByteArray target = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (!::realpath(target.constData(), resolved))
            return fail(error, QStringLiteral("cannot save %1: it is a link to nothing").arg(path));
        target = resolved;
    }
    if (::stat(target.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        return fail(error, S_ISDIR(st.st_mode) ? QStringLiteral("cannot save %1: it is a folder").arg(path)
                                               : QStringLiteral("cannot save %1: it is not a regular file").arg(path));
    }
    QByteArray temp = target + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return fail(error, QStringLiteral("cannot save %1: %2").arg(path, systemError(errno)));
    const auto abandon = [&](int code) {
        ::unlink(temp.constData());
        return fail(error, QStringLiteral("cannot save %1: %2").arg(path, systemError(code)));
    };
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0 || !writeWhole(fd, bytes) || (durable && ::fsync(fd) != 0)) {
        const int code = errno;
        ::close(fd);
        return abandon(code);
    }
    if (!closeChecked(fd)) return abandon(errno);
    if (::rename(temp.constData(), target.constData()) != 0) return abandon(errno);
    if (durable) {
        // The rename itself must reach the disk too.
        const qsizetype slash = target.lastIndexOf('/');
        const QByteArray folder = slash < 0 ? QByteArray(".") : (slash == 0 ? QByteArray("/") : target.left(slash));
        const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
            ::fsync(dirFd);
            ::close(dirFd);
        }
    }
    return true;
}

bool WriteFile(const QString& path, const QByteArray& bytes, QString* error)
{
    const OpenResult opened = OpenRegularFile(path, O_WRONLY | O_CREAT | O_TRUNC, Links::Refuse, 0644);
    if (opened.fd < 0) return fail(error, opened.Describe(path, QStringLiteral("write")));
    return writeAndClose(opened.fd, bytes, path, error);
}

bool AppendToFile(const QString& path, const QByteArray& bytes, QString* error)
{
    const OpenResult opened = OpenRegularFile(path, O_WRONLY | O_CREAT | O_APPEND, Links::Refuse, 0644);
    if (opened.fd < 0) return fail(error, opened.Describe(path, QStringLiteral("write")));
    return writeAndClose(opened.fd, bytes, path, error);
}

int RemoveStaleTemporaries(const QString& path)
{
    const QByteArray given = QFile::encodeName(path);
    int removed = removeTemporariesOf(given);
    char resolved[PATH_MAX];
    if (::realpath(given.constData(), resolved) && given != resolved)
        removed += removeTemporariesOf(QByteArray(resolved));
    return removed;
}

} // namespace FileOps
