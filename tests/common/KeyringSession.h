#pragma once
// What a test running under tests/fixtures/keyring-session knows about its keyring: the mode
// it was started in, and ways to lock and unlock the login keyring as the desktop does.
#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QDBusArgument>
#include <QString>
#include <QStringList>

namespace KeyringSession {

inline QString Mode() { return qEnvironmentVariable("FW_KEYRING_MODE"); }

// Locks the default collection, as the desktop's "lock keyring" does; no prompt.
inline bool Lock()
{
    QDBusMessage lock = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("Lock"));
    lock << QVariant::fromValue(
        QList<QDBusObjectPath>{QDBusObjectPath(QStringLiteral("/org/freedesktop/secrets/aliases/default"))});
    return QDBusConnection::sessionBus().call(lock, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

// Unlocks the login keyring with its password, as a login does, through the daemon's own
// interface for that (no prompt).
inline bool Unlock()
{
    const QString service = QStringLiteral("org.freedesktop.secrets");
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage open =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/secrets"),
                                       QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("OpenSession"));
    open << QStringLiteral("plain") << QVariant::fromValue(QDBusVariant(QString()));
    const QDBusMessage session = bus.call(open, QDBus::Block, 5000);
    if (session.type() != QDBusMessage::ReplyMessage) return false;
    QDBusArgument secret;
    secret.beginStructure();
    secret << session.arguments().value(1).value<QDBusObjectPath>() << QByteArray() << QByteArray("fw-test-keyring")
           << QStringLiteral("text/plain");
    secret.endStructure();
    QDBusMessage unlock =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/secrets"),
                                       QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"),
                                       QStringLiteral("UnlockWithMasterPassword"));
    unlock << QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/freedesktop/secrets/collection/login")))
           << QVariant::fromValue(secret);
    return bus.call(unlock, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

// Every file under `folder` (the throwaway HOME, a program folder) that holds `secret`.
inline QStringList FilesHolding(const QString& folder, const QByteArray& secret)
{
    QStringList found;
    // Regular files only: a server's folder holds FIFOs, which would block a read.
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (!it.fileInfo().isFile() || it.fileInfo().size() > (64 << 20)) continue;
        if (f.open(QIODevice::ReadOnly) && f.readAll().contains(secret)) found << f.fileName();
    }
    return found;
}

} // namespace KeyringSession
