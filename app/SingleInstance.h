#pragma once
#include "app/CommandLine.h"
#include "app/InstanceLock.h"

#include <QObject>
#include <QString>
#include <QTimer>

class QLocalServer;

// One resident per program folder. A lock file in maildata/ decides who runs; a local socket
// in a folder only this user may enter carries a later start's request to the one that does.
// Either end talks only to a process of the same user.
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

    // Takes the lock unless a live process holds it; never waits. On Unguarded, `why` says
    // what went wrong.
    Role Acquire(QString* why = nullptr);

    // True while this process holds the folder's lock.
    bool Holds() const { return lock_.IsHeld(); }

    // Primary only: accepts requests from later starts (emitted as `requested`). At most
    // kMaxConnections are served at once, and one that sends no request within
    // kRequestWaitMs is dropped. A listener lost (to descriptor exhaustion, say) is set up
    // again within kListenerCheckMs.
    bool Listen(QString* error = nullptr);
    static constexpr int kMaxConnections = 8;
    static constexpr int kRequestWaitMs = 2000;
    static constexpr int kListenerCheckMs = 2000;

    // Secondary: hands `action` to the running instance. Quit waits until it has ended.
    // Returns false when it does not answer within `timeoutMs`.
    bool Send(StartAction action, QString* error = nullptr, int timeoutMs = 20000);

    QString LockPath() const;
    QString ServerName() const { return serverName_; }

    // The local socket's path: per user and per program folder.
    static QString ServerNameFor(const QString& programFolder);

Q_SIGNALS:
    void requested(StartAction action);

private:
    void onNewConnection();
    bool startListening(QString* error);

    QString folder_;
    QString serverName_;
    InstanceLock lock_;
    QLocalServer* server_ = nullptr;
    QTimer listenerCheck_;
    int connections_ = 0;
};
