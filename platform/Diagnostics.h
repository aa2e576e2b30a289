#pragma once
#include <QString>

// The program's warnings. Every warning line goes through Warn, so that where they end up
// is decided in one place.
namespace Diagnostics {

// Writes "ferrowick: <message>" as one line to stderr, and appends it to the user's log
// (AppLog) once its path is set. The message is made one line (TextUtil::OneLine), so one
// call is always one line and nothing in it steers the terminal.
void Warn(const QString& message);

} // namespace Diagnostics
