#pragma once
// A D-Bus daemon of the test's own, to stand in for the system or the session bus: set
// DBUS_SYSTEM_BUS_ADDRESS (or the session's) to address() before the code under test first
// connects. started() is false when dbus-daemon is missing.
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

class PrivateBus {
public:
    PrivateBus()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty() || !dir_.isValid()) return;
        daemon_.start(daemon,
                      {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                       QStringLiteral("--address=unix:path=") + dir_.filePath(QStringLiteral("bus"))});
        if (!daemon_.waitForStarted(5000)) return;
        while (!daemon_.canReadLine())
            if (!daemon_.waitForReadyRead(5000)) return;
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool started() const { return !address_.isEmpty(); }
    QString address() const { return address_; }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
};
