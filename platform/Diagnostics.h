#pragma once
#include <QString>

// The program's warnings. Every warning line goes through Warn, so that where they end up
// (stderr today, a log file later) is decided in one place.
namespace Diagnostics {

// Writes "ferrowick: <message>" as one line to stderr. Line breaks in the message become
// spaces, so one call is always one line.
void Warn(const QString& message);

} // namespace Diagnostics
