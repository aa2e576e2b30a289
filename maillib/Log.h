// The one way the library says something: a warning line to the sink or to stderr.
#pragma once

#include <string>

namespace maillib::internal {

// Writes one line (controls and line breaks removed) to the log sink, or to stderr.
// Safe from any thread.
void LogLine(const std::string& line);

// "maillib: LABEL (user USER): REASON"
void Report(const std::string& label, const std::string& user, const std::string& reason);

// The same, once per process for each distinct line: a misconfigured account fails the
// same way at every check.
void ReportOnce(const std::string& label, const std::string& user, const std::string& reason);

// Forgets which lines ReportOnce has said.
void ForgetReported();

} // namespace maillib::internal
