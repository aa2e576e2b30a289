#pragma once
#include <QByteArray>
#include <QString>

#include <sys/types.h>

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

enum class Links {
    Follow, // a link to a regular file is as good as the file (a settings file kept elsewhere)
    Refuse, // the name itself must be a regular file of this user: the program folder's own files
};

struct OpenResult {
    int fd = -1;                             // the caller closes it
    ReadStatus status = ReadStatus::Missing; // Ok, Missing, NotRegular or Unreadable
    // Why not: what the name is ("is a link") for NotRegular, the system's reason otherwise.
    QString reason;
    // One sentence for a warning: "PATH is a link", or "cannot VERB PATH: REASON".
    QString Describe(const QString& path, const QString& verb) const;
};

// Opens a regular file without ever blocking or touching anything else: a FIFO, device or
// socket is refused before it is opened, and again after (in case one was put in its place).
// `flags` are O_RDONLY, or O_WRONLY with O_CREAT, O_APPEND or O_TRUNC; a file is emptied only
// once it is known to be one that may be used. Links::Refuse also refuses a link and a file
// of another user.
OpenResult OpenRegularFile(const QString& path, int flags, Links links, mode_t createMode = 0600);

// Replaces `path` with `bytes` in one step: a reader sees the old file or the new one, never
// part of one. The new file has mode 0600. A link at `path` is followed to its target, as
// editors do; anything but a regular file there is refused. With `durable` the data is on
// the disk before the call returns true. On failure the old file is untouched, no temporary
// file is left, and `error` says why.
bool ReplaceFile(const QString& path, const QByteArray& bytes, bool durable, QString* error = nullptr);

// Creates `path` or empties it, then writes `bytes`; every byte is checked. Only a regular
// file of this user is written (Links::Refuse): anything else is left alone and said in `error`.
bool WriteFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// Appends `bytes` to `path` (created when missing); every byte is checked. As WriteFile, only
// a regular file of this user.
bool AppendToFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// Removes the temporary files ReplaceFile leaves for `path` when the process dies while
// writing: regular files of ours named "<name>.XXXXXX" beside it. Returns how many.
int RemoveStaleTemporaries(const QString& path);

} // namespace FileOps
