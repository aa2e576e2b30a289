#pragma once
// Whole-file reads and writes for tests that compare a file's bytes.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

// The file's bytes, or nothing when it cannot be read.
inline QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
