#include "platform/Diagnostics.h"

#include "platform/AppLog.h"
#include "platform/TextUtil.h"

#include <cerrno>
#include <unistd.h>

namespace Diagnostics {

void Warn(const QString& message)
{
    const QByteArray line = "ferrowick: " + TextUtil::OneLine(message).toUtf8() + '\n';
    // One write(2) per line, so lines of different threads never interleave.
    const char* p = line.constData();
    size_t left = static_cast<size_t>(line.size());
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    // A desktop session throws stderr away; the user's log keeps the line.
    AppLog::Append(message);
}

} // namespace Diagnostics
