#pragma once
// The dovecot test fixture as a Qt test sees it: its env file (ports, CA, log) and delivery
// of the demo mails. CTest passes FW_DOVECOT_STATE, FW_DOVECOT_FIXTURE and FW_DEMO_MAILS.
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace DovecotFixture {

// POP3_PORT, POP3S_PORT, CA_FILE, ...; empty when the fixture is not running.
inline QMap<QString, QString> Env()
{
    QMap<QString, QString> env;
    QFile f(qEnvironmentVariable("FW_DOVECOT_STATE") + QStringLiteral("/env"));
    if (!f.open(QIODevice::ReadOnly)) return env;
    for (const QString& line : QString::fromUtf8(f.readAll()).split(u'\n')) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0) env[line.left(eq)] = line.mid(eq + 1);
    }
    return env;
}

// Delivers the mail files to `user`, in this order; true when the fixture says so.
inline bool Deliver(const QString& user, const QStringList& files)
{
    QProcess p;
    p.start(qEnvironmentVariable("FW_DOVECOT_FIXTURE"),
            QStringList{QStringLiteral("deliver"), qEnvironmentVariable("FW_DOVECOT_STATE"), user} + files);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Delivers the first `count` demo mails (by name) to `user`; true when the fixture says so.
inline bool DeliverDemoMails(const QString& user, int count)
{
    const QDir mails(qEnvironmentVariable("FW_DEMO_MAILS"));
    QStringList files;
    for (const QString& f : mails.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name).mid(0, count))
        files << mails.filePath(f);
    return Deliver(user, files);
}

// What dovecot logged at the end of each of `user`'s POP3 (or IMAP) sessions so far
// ("in=... top=...").
inline QStringList Logouts(const QString& user, const QString& protocol = QStringLiteral("pop3"))
{
    QStringList out;
    QFile f(Env().value(QStringLiteral("LOG_FILE")));
    if (!f.open(QIODevice::ReadOnly)) return out;
    const QString marker = protocol + u'(' + user + u')';
    for (const QString& line : QString::fromUtf8(f.readAll()).split(u'\n'))
        if (line.contains(marker) && line.contains(QStringLiteral("Logged out in=")))
            out << line.mid(line.indexOf(QStringLiteral("in=")));
    return out;
}

} // namespace DovecotFixture
