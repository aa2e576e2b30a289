#include "app/PrivateSocket.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PrivateSocket {
namespace {

// A Unix socket's path holds 107 bytes; the socket's own name takes about 40 of them.
constexpr qsizetype kMaxFolderBytes = 60;

QString systemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

QString fallbackFolder()
{
    QString base = QDir::tempPath();
    if (QFile::encodeName(base).size() > kMaxFolderBytes) base = QStringLiteral("/tmp");
    return base + QStringLiteral("/ferrowick-%1").arg(::geteuid());
}

} // namespace

bool IsPrivateFolder(const QString& path, QString* why)
{
    const auto no = [why, &path](const QString& reason) {
        if (why) *why = path + u' ' + reason;
        return false;
    };
    struct stat st {};
    if (path.isEmpty() || !QDir::isAbsolutePath(path)) return no(QStringLiteral("is not an absolute path"));
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
        const int code = errno;
        return no(QStringLiteral("cannot be used (%1)").arg(systemError(code)));
    }
    if (S_ISLNK(st.st_mode)) return no(QStringLiteral("is a link"));
    if (!S_ISDIR(st.st_mode)) return no(QStringLiteral("is not a folder"));
    if (st.st_uid != ::geteuid()) return no(QStringLiteral("belongs to another user"));
    if ((st.st_mode & 077) != 0) return no(QStringLiteral("is open to other users"));
    return true;
}

QString Folder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && IsPrivateFolder(runtime)) return runtime;
    return fallbackFolder();
}

bool MakeFolder(QString* why)
{
    const QString folder = Folder();
    const QByteArray name = QFile::encodeName(folder);
    if (::mkdir(name.constData(), 0700) != 0 && errno == EEXIST) {
        // Ours from an earlier run, made with a looser umask: ours to tighten, never another's.
        struct stat st {};
        if (::lstat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
            ::chmod(name.constData(), 0700);
    }
    return IsPrivateFolder(folder, why);
}

long PeerUid(qintptr socket)
{
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (socket < 0 || ::getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return -1;
    return static_cast<long>(credentials.uid);
}

bool PeerIsUs(qintptr socket) { return PeerUid(socket) == static_cast<long>(::geteuid()); }

} // namespace PrivateSocket
