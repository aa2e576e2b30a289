// Ferrowick: a resident mail checker in the notification area.
#include "app/CommandLine.h"
#include "app/Resident.h"
#include "app/SingleInstance.h"
#include "settings/ProgramFolder.h"

#include <QFileInfo>
#include <cstdio>

int main(int argc, char* argv[])
{
    // With TZ unset, glibc looks at /etc/localtime again at every time conversion.
    if (qEnvironmentVariableIsEmpty("TZ")) qputenv("TZ", ":/etc/localtime");
    // No application object yet: --help, --version and a hand-over must work without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine commandLine = ParseCommandLine(arguments);
    if (commandLine.outcome != CommandLine::Outcome::Start) return ReportOutcome(commandLine);

    const QString folder = commandLine.folder.isEmpty()
                               ? ProgramFolder::Find(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath())
                               : commandLine.folder;
    if (commandLine.action == StartAction::Quit && !QFileInfo(folder + QStringLiteral("/maildata")).isDir()) {
        std::fprintf(stderr, "ferrowick: no instance is running on %s\n", qPrintable(folder));
        return 1;
    }
    SingleInstance guard(folder);
    QString why;
    switch (guard.Acquire(&why)) {
    case SingleInstance::Role::Secondary:
        return HandOver(guard, commandLine.action, folder);
    case SingleInstance::Role::Unguarded:
        std::fprintf(stderr, "ferrowick: cannot lock %s (%s); running without the one-instance guard\n",
                     qPrintable(guard.LockPath()), qPrintable(why));
        break;
    case SingleInstance::Role::Primary:
        break;
    }
    if (commandLine.action == StartAction::Quit) {
        std::fprintf(stderr, "ferrowick: no instance is running on %s\n", qPrintable(folder));
        return 1;
    }
    return RunResident(argc, argv, commandLine, folder, guard);
}
