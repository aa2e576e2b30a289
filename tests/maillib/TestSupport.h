// Helpers shared by the mail library tests.
#pragma once

#include "maillib/MailLib.h"
#include "maillib/MailLibInternal.h"
#include "tests/common/StderrCapture.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <string>

// A file's bytes, or "<unreadable>".
inline std::string FileBytes(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return "<unreadable>";
    const QByteArray b = f.readAll();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

inline maillib::MailList Receive(std::string server, std::string user, std::string password, const QString& folder)
{
    std::string mode = "SAVEALL", dir = folder.toStdString();
    return maillib::RcvMail(server, user, password, mode, dir);
}

inline maillib::MailList Read(const std::string& ref)
{
    std::string r = ref, fields = "subject:from:date:nofile:", folder = "/tmp";
    return maillib::ReadMail(r, fields, folder);
}

inline QStringList FilesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// The library as a new process finds it, with `limits`, and the test's folder emptied.
inline void StartFresh(const maillib::internal::Limits& limits, const QTemporaryDir& folder)
{
    maillib::internal::ResetState();
    maillib::internal::SetLimits(limits);
    QVERIFY(folder.isValid());
    for (const auto& f : FilesIn(folder.path())) QDir(folder.path()).remove(f);
}
