#pragma once
#include <QString>

#include <string>

// The log the user can find: failures and warnings, one dated line each, appended to a
// file in the work folders. Writing it never stops anything: when the file cannot be
// written, that is said once on stderr and the line is dropped. Safe from any thread.
namespace AppLog {

constexpr qint64 kMaxBytes = 1024 * 1024;

// Where lines go from now on; an empty path turns the log off. At kMaxBytes the file moves
// to `path` + ".1" (replacing an older one) and a new file starts.
void SetPath(const QString& path);
QString Path();

// Appends "yyyy-MM-dd HH:mm:ss <line>", with `line` made one line (TextUtil::OneLine).
void Append(const QString& line);

// For warnings that also belong on stderr: prints the line there (made one line as well),
// then appends it. Fits maillib::SetLogSink.
void Warn(const std::string& line);

} // namespace AppLog
