#pragma once
#include <QByteArray>
#include <QString>

// File helpers for the work folders. None of them expands a pattern or follows a name
// outside the folder it is given. Every write is checked at the system-call level, so a
// full disk is reported as a failure, never as a shorter file.
namespace FileOps {

bool Exists(const QString& path);

// Copies `from` to `to`, replacing an existing regular file or link (the link itself, never
// what it points to). Returns false with the reason in `error` when a byte could not be written.
bool CopyReplace(const QString& from, const QString& to, QString* error = nullptr);

// Deletes the one regular file `path` names, provided it lies directly in `folder`; never a
// link, a folder or anything below `folder`. Names with wildcard characters are taken
// literally. `folderFd`, when given, is `folder` held open (O_DIRECTORY): many files are then
// deleted without opening it again for each.
bool DeleteFileInFolder(const QString& path, const QString& folder, int folderFd = -1);

// Deletes every regular file named *.txt directly in `folder`; never a folder, never
// anything below it. Returns the number of files deleted.
int DeleteTxtFiles(const QString& folder);

// Creates `folder` and its parents when missing.
bool EnsureFolder(const QString& folder);

enum class ReadStatus {
    Ok,
    Missing,    // nothing by that name
    NotRegular, // a folder, FIFO, device or socket: never opened for reading
    Unreadable, // exists but could not be read; `error` says why
    TooLarge,   // longer than the limit: `bytes` holds the first `maxBytes`
};

struct ReadResult {
    ReadStatus status = ReadStatus::Missing;
    QByteArray bytes;
    QString error; // the reason, for every status but Ok and Missing
};

// Reads a regular file without ever blocking: anything else (a FIFO, a device, a link to
// one) is refused before it is opened for reading. At most `maxBytes` are kept.
ReadResult ReadRegularFile(const QString& path, qint64 maxBytes);

// Replaces `path` with `bytes` in one step: a reader sees the old file or the new one, never
// part of one. The new file has mode 0600. A link at `path` is followed to its target, as
// editors do; anything but a regular file there is refused. With `durable` the data is on
// the disk before the call returns true. On failure the old file is untouched, no temporary
// file is left, and `error` says why.
bool ReplaceFile(const QString& path, const QByteArray& bytes, bool durable, QString* error = nullptr);

// Creates `path` or empties it, then writes `bytes`; every byte is checked.
bool WriteFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// Appends `bytes` to `path` (created when missing); every byte is checked.
bool AppendToFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// Removes the temporary files ReplaceFile leaves for `path` when the process dies while
// writing: regular files of ours named "<name>.XXXXXX" beside it. Returns how many.
int RemoveStaleTemporaries(const QString& path);

} // namespace FileOps
