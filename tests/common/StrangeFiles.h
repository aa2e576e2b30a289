#pragma once
// What a hostile neighbour or a slip puts where the program keeps a file of its own: a FIFO
// (with or without a reader), links, a folder, another user's file. Tests take the kinds as
// table rows and check that the program neither waits on it nor reaches what lies behind it.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTest>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

enum class Stranger { Fifo, FifoWithReader, LinkToFile, LinkToFifo, Folder, ForeignFile };
Q_DECLARE_METATYPE(Stranger)

// One row per kind, in the column "stranger".
inline void AddStrangerRows()
{
    QTest::addColumn<Stranger>("stranger");
    QTest::newRow("FIFO nobody reads") << Stranger::Fifo;
    QTest::newRow("FIFO with a reader") << Stranger::FifoWithReader;
    QTest::newRow("link to a file") << Stranger::LinkToFile;
    QTest::newRow("link to a FIFO") << Stranger::LinkToFifo;
    QTest::newRow("folder") << Stranger::Folder;
    QTest::newRow("another user's file") << Stranger::ForeignFile;
}

// Plants a stranger at `path`; what a link points to lies in a folder of its own beside it.
class PlantedStranger {
public:
    static constexpr const char* kVictimBytes = "precious, not ours to change\n";
    static constexpr mode_t kVictimMode = 0644;
    static constexpr uid_t kForeignUid = 65534; // nobody

    PlantedStranger(const QString& path, Stranger kind) : path_(path), kind_(kind)
    {
        QDir().mkpath(QFileInfo(path).path());
        aside_ = QFileInfo(path).path() + QStringLiteral("/elsewhere-") + QFileInfo(path).fileName();
        QDir().mkpath(aside_);
        victim_ = aside_ + QStringLiteral("/victim");
        const QByteArray name = QFile::encodeName(path);
        switch (kind) {
        case Stranger::Fifo:
        case Stranger::FifoWithReader:
            ok_ = ::mkfifo(name.constData(), 0600) == 0;
            if (kind == Stranger::FifoWithReader) reader_ = ::open(name.constData(), O_RDONLY | O_NONBLOCK);
            break;
        case Stranger::LinkToFile:
            writeVictim();
            ok_ = ok_ && ::symlink(QFile::encodeName(victim_).constData(), name.constData()) == 0;
            break;
        case Stranger::LinkToFifo:
            ok_ = ::mkfifo(QFile::encodeName(victim_).constData(), 0600) == 0 &&
                  ::symlink(QFile::encodeName(victim_).constData(), name.constData()) == 0;
            break;
        case Stranger::Folder:
            ok_ = QDir().mkpath(path);
            break;
        case Stranger::ForeignFile: {
            // Root can give a file away; any other user cannot make one, so the row is skipped.
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL, kVictimMode);
            ok_ = fd >= 0 && ::write(fd, kVictimBytes, std::strlen(kVictimBytes)) > 0 &&
                  ::fchown(fd, kForeignUid, kForeignUid) == 0;
            if (fd >= 0) ::close(fd);
            victim_ = path;
            break;
        }
        }
    }
    // Takes away what it planted, and whatever the code under test left in its place.
    ~PlantedStranger()
    {
        if (reader_ >= 0) ::close(reader_);
        const QByteArray name = QFile::encodeName(path_);
        if (::unlink(name.constData()) != 0) QDir(path_).removeRecursively();
        QDir(aside_).removeRecursively();
    }
    PlantedStranger(const PlantedStranger&) = delete;
    PlantedStranger& operator=(const PlantedStranger&) = delete;

    bool planted() const { return ok_; }

    // True when nothing reached through the stranger changed: the linked or foreign file keeps
    // its bytes and mode (or, for the foreign file, was removed whole), and nothing was written
    // into a FIFO.
    bool untouched() const
    {
        if (reader_ >= 0) {
            char byte;
            if (::read(reader_, &byte, 1) > 0) return false;
        }
        if (kind_ != Stranger::LinkToFile && kind_ != Stranger::ForeignFile) return true;
        struct stat st {};
        const bool there = ::lstat(QFile::encodeName(victim_).constData(), &st) == 0;
        // The foreign file may have been removed, or replaced by a file of the program's own.
        if (kind_ == Stranger::ForeignFile && (!there || st.st_uid != kForeignUid)) return true;
        QFile f(victim_);
        return there && f.open(QIODevice::ReadOnly) && f.readAll() == kVictimBytes &&
               (st.st_mode & 07777) == kVictimMode;
    }

private:
    void writeVictim()
    {
        QFile f(victim_);
        ok_ = f.open(QIODevice::WriteOnly) && f.write(kVictimBytes) > 0 &&
              f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                               QFileDevice::ReadOther);
    }

    QString path_;
    Stranger kind_;
    QString aside_;
    QString victim_;
    int reader_ = -1;
    bool ok_ = false;
};
