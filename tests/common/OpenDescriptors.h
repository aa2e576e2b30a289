#pragma once
// How many file descriptors the process holds, for tests that repeat work which opens
// folders and files and must close every one.
#include <QDir>

inline int OpenDescriptors()
{
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}
