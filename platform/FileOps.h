#pragma once
#include <QString>

// File helpers for the work folders. None of them expands a pattern or follows a name
// outside the folder it is given.
namespace FileOps {

bool Exists(const QString& path);

// Copies `from` to `to`, replacing an existing regular file.
bool CopyReplace(const QString& from, const QString& to);

// Deletes the one regular file `path` names, provided it lies directly in `folder`.
// Names with wildcard characters are taken literally.
bool DeleteFileInFolder(const QString& path, const QString& folder);

// Deletes every regular file named *.txt directly in `folder`; never a folder, never
// anything below it. Returns the number of files deleted.
int DeleteTxtFiles(const QString& folder);

// Creates `folder` and its parents when missing.
bool EnsureFolder(const QString& folder);

} // namespace FileOps
