#pragma once
#include <QList>
#include <QString>

// An INI reader/writer with the semantics Windows' private-profile functions give a program:
// case-insensitive names, trimmed values, one pair of enclosing quotes stripped, the first of
// duplicate keys wins, values read through a 500-byte buffer.
//
// Encodings: a file with a byte-order mark is UTF-8, UTF-16 LE or UTF-16 BE as the mark says;
// otherwise a file that is valid UTF-8 is read as UTF-8, and any other as CP932 (files made on
// Windows). New files are UTF-8 without a mark. Writes keep every untouched line byte for byte,
// keep the file's encoding and line endings, and replace the file atomically with mode 0600.
//
// Only a regular file is read, at most kMaxFileBytes of it. When the file cannot be read, the
// reason goes to the warnings once (until it changes) and reads give empty values.
namespace ProfileIni {

constexpr int kBufferSize = 500;
constexpr qint64 kMaxFileBytes = qint64(1) << 20;

// The value of `key` in `section`, cut to what a 500-byte buffer holds (499 bytes in the
// file's encoding, never splitting a character; CP932 bytes for a UTF-16 file). Empty when the
// file, section or key is missing or the value is empty.
QString GetString(const QString& section, const QString& key, const QString& path);

// Creates the file, section or key when missing and replaces an existing value in place.
// Returns false with a reason in `error` (when given) if the file could not be written;
// the old file is then left as it was. A CP932 file stays CP932: a value with a character
// CP932 has no form for is refused, and nothing is written.
bool WriteString(const QString& section, const QString& key, const QString& value, const QString& path,
                 QString* error = nullptr);

struct Entry {
    QString section;
    QString key;
    QString value;
};

// Writes several keys in order as one replacement of the file: either all of them are
// stored or, on failure, none.
bool WriteStrings(const QList<Entry>& entries, const QString& path, QString* error = nullptr);

// Removes the copies an interrupted write left beside `path` (they hold the passwords too).
// Returns how many were removed.
int RemoveStaleTemporaries(const QString& path);

} // namespace ProfileIni
