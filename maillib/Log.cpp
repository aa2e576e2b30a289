#include "maillib/Log.h"

#include "maillib/Charset.h"
#include "maillib/MailLib.h"

#include <cstdio>
#include <mutex>
#include <set>

namespace maillib {
namespace {

struct LogState {
    std::mutex mutex;
    std::function<void(const std::string&)> sink;
    std::set<std::string> said;
};

LogState& State()
{
    static LogState s;
    return s;
}

} // namespace

void SetLogSink(std::function<void(const std::string&)> sink)
{
    std::lock_guard lock(State().mutex);
    State().sink = std::move(sink);
}

namespace internal {

void LogLine(const std::string& line)
{
    const std::string shown = charset::StripDisplayControls(line, "");
    auto& s = State();
    // Held while the sink runs: lines from several checks never interleave.
    std::lock_guard lock(s.mutex);
    if (s.sink) {
        try {
            s.sink(shown);
            return;
        } catch (...) {
            // A failing sink must not end the check; stderr still gets the line.
        }
    }
    std::fprintf(stderr, "%s\n", shown.c_str());
}

void Report(const std::string& label, const std::string& user, const std::string& reason)
{
    LogLine("maillib: " + label + " (user " + user + "): " + reason);
}

void ReportOnce(const std::string& label, const std::string& user, const std::string& reason)
{
    const std::string key = label + '\n' + user + '\n' + reason;
    {
        std::lock_guard lock(State().mutex);
        if (!State().said.insert(key).second) return;
    }
    Report(label, user, reason);
}

void ForgetReported()
{
    std::lock_guard lock(State().mutex);
    State().said.clear();
}

} // namespace internal
} // namespace maillib
