#include "platform/BrowserOpener.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace BrowserOpener {
namespace {

bool Start(QStringList command, const QString& url, QString* how)
{
    if (command.isEmpty()) return false;
    bool placed = false;
    for (QString& arg : command) {
        if (arg.contains(QStringLiteral("%s"))) {
            arg.replace(QStringLiteral("%s"), url);
            placed = true;
        }
    }
    if (!placed) command << url;
    const QString program = command.takeFirst();
    if (QStandardPaths::findExecutable(program).isEmpty() && !program.contains(u'/')) return false;
    if (!QProcess::startDetached(program, command)) return false;
    if (how) *how = program;
    return true;
}

} // namespace

bool Open(const QString& url, QString* how)
{
    const QString browsers = qEnvironmentVariable("BROWSER");
    for (const QString& entry : browsers.split(u':', Qt::SkipEmptyParts))
        if (Start(QProcess::splitCommand(entry), url, how)) return true;
    if (Start({QStringLiteral("xdg-open")}, url, how)) return true;
    return Start({QStringLiteral("gio"), QStringLiteral("open")}, url, how);
}

} // namespace BrowserOpener
