#pragma once
// Write faults made by the operating system, not by the code under test: the program sees
// the same failed write(2) it would see on a full disk.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <csignal>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

// While alive, no file of this process can grow past `bytes`: a longer write(2) is cut short
// and the next one fails with EFBIG (SIGXFSZ is ignored, so the process lives on).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

// A tmpfs of a few pages mounted at `mountPoint` (root only; mounted() says whether it
// worked), which fill() then leaves with no free block.
class TinyFileSystem {
public:
    explicit TinyFileSystem(const QString& mountPoint) : path_(mountPoint)
    {
        QDir().mkpath(path_);
        mounted_ = ::mount("tmpfs", QFile::encodeName(path_).constData(), "tmpfs", 0, "size=64k,mode=0700") == 0;
    }
    ~TinyFileSystem()
    {
        if (mounted_) ::umount2(QFile::encodeName(path_).constData(), MNT_DETACH);
    }
    TinyFileSystem(const TinyFileSystem&) = delete;
    TinyFileSystem& operator=(const TinyFileSystem&) = delete;

    bool mounted() const { return mounted_; }
    QString path() const { return path_; }

    // Takes every free block with a filler file.
    void fill()
    {
        const int fd = ::open(QFile::encodeName(path_ + QStringLiteral("/filler")).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) return;
        const QByteArray block(4096, 'f');
        while (::write(fd, block.constData(), static_cast<size_t>(block.size())) > 0) {}
        // Whatever is left is smaller than a block.
        while (::write(fd, "f", 1) > 0) {}
        ::close(fd);
    }

private:
    QString path_;
    bool mounted_ = false;
};
