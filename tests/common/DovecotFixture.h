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

// Delivers the first `count` demo mails (by name) to `user`; true when the fixture says so.
inline bool DeliverDemoMails(const QString& user, int count)
{
    QStringList args{QStringLiteral("deliver"), qEnvironmentVariable("FW_DOVECOT_STATE"), user};
    const QDir mails(qEnvironmentVariable("FW_DEMO_MAILS"));
    for (const QString& f : mails.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name).mid(0, count))
        args << mails.filePath(f);
    QProcess p;
    p.start(qEnvironmentVariable("FW_DOVECOT_FIXTURE"), args);
    return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace DovecotFixture
