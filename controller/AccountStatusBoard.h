#pragma once
#include "maillib/MailLib.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <map>
#include <utility>

// What the user is told about failing accounts, worked out from the status of each check:
// the tray's tooltip and picture, a desktop notification when an account starts or stops
// failing, and the lines for the log. No widgets; the tray side shows what it produces.
//
// A needed sign-in (「再ログインが必要です」) is notified once per failure, also when the account
// was failing for another reason already: only the user can mend it.
//
// Waiting (a back-off or the server's LOGIN-DELAY) and Cancelled change nothing by themselves:
// a waiting account that worked still works, one that failed still fails, and its tooltip
// keeps the reason and adds when it is tried again. A server that asks for a pause between
// logins is therefore never reported as failing.
//
// When the first check of a start finds no account configured, the user is told once how to
// add one; the tooltip says so for as long as it lasts.
class AccountStatusBoard {
public:
    struct Check {
        int number = 0; // 1..5
        QString name;   // the display name; empty gives 「アカウント①」 and so on
        maillib::AccountStatus status;
    };
    struct Notification {
        QString title;
        QString text;
        bool failure = false; // false: the account works again
        bool operator==(const Notification&) const = default;
    };
    struct Changes {
        QList<Notification> notifications;
        QStringList logLines;
    };

    // `programName` heads the tooltip.
    explicit AccountStatusBoard(QString programName);

    // Takes one check's results, finished at `at`. Accounts not listed keep their state.
    Changes Record(const QList<Check>& checks, const QDateTime& at);

    QString ToolTip() const;
    // True while any configured account fails.
    bool Warning() const;

    // While the machine has no network, an account that cannot connect or times out has not
    // failed: it changes nothing and is not notified, and the tooltip says so once, for all.
    void SetOffline(bool offline) { offline_ = offline; }
    bool Offline() const { return offline_; }

private:
    struct Entry {
        QString name;
        bool failing = false;
        QDateTime since;
        maillib::AccountStatus shown; // the failure, never Waiting
        QDateTime nextTry;            // when a waiting account is tried again; invalid: unknown
        // Kinds (and for NoCredential, faults) already logged in this failure.
        QList<std::pair<maillib::AccountStatus::Kind, maillib::Credential::Fault>> logged;
        bool signInNotified = false; // 「再ログインが必要です」 was notified in this failure
    };

    QString programName_;
    std::map<int, Entry> entries_;
    QDateTime lastCheck_;
    bool offline_ = false;
    bool noAccount_ = false;
};
