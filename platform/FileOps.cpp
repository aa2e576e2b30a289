#include "FileOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace FileOps {

bool Exists(const QString& path) { return QFileInfo(path).isFile(); }

bool CopyReplace(const QString& from, const QString& to)
{
    const QFileInfo target(to);
    if (target.exists() || target.isSymLink()) {
        if (!target.isFile() && !target.isSymLink()) return false;
        QFile::remove(to);
    }
    return QFile::copy(from, to);
}

bool DeleteFileInFolder(const QString& path, const QString& folder)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile() || info.isSymLink()) return false;
    const QString parent = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (parent.isEmpty() || parent != QFileInfo(folder).canonicalFilePath()) return false;
    return QFile::remove(info.absoluteFilePath());
}

int DeleteTxtFiles(const QString& folder)
{
    QDir dir(folder);
    int removed = 0;
    const QFileInfoList entries = dir.entryInfoList({QStringLiteral("*.txt")}, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (!entry.fileName().endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive)) continue;
        // A link is removed itself; what it points to is never touched.
        if (!entry.isSymLink() && !entry.isFile()) continue;
        if (QFile::remove(entry.absoluteFilePath())) ++removed;
    }
    return removed;
}

bool EnsureFolder(const QString& folder) { return QDir().mkpath(folder); }

} // namespace FileOps
