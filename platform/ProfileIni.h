#pragma once
#include <QList>
#include <QString>

// An INI reader/writer with the semantics Windows' private-profile functions give a program:
// case-insensitive names, trimmed values, one pair of enclosing quotes stripped, the first of
// duplicate keys wins, values read through a 500-byte buffer. Files made on Windows are CP932;
// a file that is valid UTF-8 is read as UTF-8. Writes keep every untouched line byte for byte,
// keep the file's encoding and line endings, and replace the file atomically with mode 0600.
namespace ProfileIni {

constexpr int kBufferSize = 500;

// The value of `key` in `section`, cut to what a 500-byte buffer holds (499 bytes in the
// file's encoding, never splitting a character). Empty when the file, section or key is
// missing or the value is empty.
QString GetString(const QString& section, const QString& key, const QString& path);

// Creates the file, section or key when missing and replaces an existing value in place.
// Returns false with a reason in `error` (when given) if the file could not be written;
// the old file is then left as it was.
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

// Test seam: makes the next writes fail after `bytes` bytes, as a full disk would.
// A negative value switches the fault off.
void SetWriteFaultAfterBytesForTests(qint64 bytes);

} // namespace ProfileIni
