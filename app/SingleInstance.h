#pragma once
#include "app/CommandLine.h"

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;

// One resident per program folder. A lock file in maildata/ decides who runs; a local socket
// carries a later start's request to the one that does.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Role {
        Primary,   // holds the lock: runs the resident and listens for requests
        Secondary, // another live process holds the lock: hand the request over and leave
        Unguarded, // the lock cannot be written: run without the guard
    };

    explicit SingleInstance(const QString& programFolder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock unless a live process holds it. A lock left by a killed process is taken
    // over. On Unguarded, `why` says what went wrong.
    Role Acquire(QString* why = nullptr);

    // True while this process holds the folder's lock.
    bool Holds() const { return lock_.isLocked(); }

    // Primary only: accepts requests from later starts (emitted as `requested`).
    bool Listen(QString* error = nullptr);

    // Secondary: hands `action` to the running instance. Quit waits until it has ended.
    // Returns false when it does not answer within `timeoutMs`.
    bool Send(StartAction action, QString* error = nullptr, int timeoutMs = 20000);

    QString LockPath() const;
    QString ServerName() const { return serverName_; }

    // The local socket's name: per user and per program folder.
    static QString ServerNameFor(const QString& programFolder);

Q_SIGNALS:
    void requested(StartAction action);

private:
    void onNewConnection();

    QString folder_;
    QString serverName_;
    QLockFile lock_;
    QLocalServer* server_ = nullptr;
};
