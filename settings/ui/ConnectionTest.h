#pragma once
#include "maillib/MailLib.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>

// Tries an account as typed, before it is saved: one check into a private temporary folder
// that is removed with everything fetched. The server is not changed (the library never
// deletes or marks mail) and no settings are written. The user asked for it, so it asks the
// server whatever wait an earlier failure set; when it succeeds, the resident's next check of
// the account asks at once too. An empty password signs in as the resident's checks do: the
// keyring's password for the account, else an OAuth2 grant (the source the resident installs).
namespace ConnectionTest {

struct Result {
    maillib::AccountStatus status;
    int mails = 0;
    QString server; // as tried
    QString caFile; // the user's trusted certificates, as given
};

// Blocks for up to the library's time limit; runs on any thread. The user's trusted
// certificates `caFile` (may be missing) are trusted here too.
Result Run(const QString& server, const QString& user, const QString& password, const QString& caFile);

// 「接続できました（メール N 通）」 or why not, with what to try where that is clear.
QString Message(const Result& result);

} // namespace ConnectionTest

// Runs ConnectionTest::Run on Qt's thread pool and reports back on the owner's thread.
// Destroying the tester while a test runs drops its result: the watcher goes with the tester
// and takes the queued notice with it. Nothing waits for the worker, which owns copies of
// everything it uses and still cleans up.
class ConnectionTester : public QObject {
    Q_OBJECT
public:
    explicit ConnectionTester(QObject* parent = nullptr);

    // Ignored while a test runs.
    void Start(const QString& server, const QString& user, const QString& password, const QString& caFile);
    bool IsRunning() const { return watcher_.isRunning(); }

Q_SIGNALS:
    void Finished(const ConnectionTest::Result& result);

private:
    QFutureWatcher<ConnectionTest::Result> watcher_;
};
