#pragma once
#include <QString>

// The program's warnings. Every warning line goes through Warn, so that where they end up
// (stderr and the user's log) is decided in one place.
namespace Diagnostics {

// Writes "ferrowick: <message>" as one line to stderr, and the message to AppLog. Line
// breaks in the message become spaces, so one call is always one line.
void Warn(const QString& message);

} // namespace Diagnostics
