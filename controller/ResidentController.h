#pragma once
#include "controller/AccountStatusBoard.h"
#include "controller/CheckRunner.h"
#include "controller/ControllerHost.h"
#include "controller/FormHost.h"
#include "controller/MailLibrary.h"

#include <QString>
#include <array>
#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// The resident controller's behaviour without widgets: start-up, the timed mail check,
// the day log, the menu commands and auto-close. fMail_Task gives it a tray, a menu and timers.
class ResidentController {
public:
    // Checks run through `runner`; without one they run on the calling thread.
    ResidentController(ControllerHost& host, FormHost& forms, MailLibrary& mail);
    ResidentController(ControllerHost& host, FormHost& forms, MailLibrary& mail, CheckRunner& runner);
    // Ends the watching of the accounts' mailboxes first.
    ~ResidentController();
    ResidentController(const ResidentController&) = delete;
    ResidentController& operator=(const ResidentController&) = delete;

    // Start-up; `programFolder` holds maildata/. The first check starts once the event loop runs.
    void Form_Load(const QString& programFolder);

    // Both do nothing while the detail window is loaded; the settings dialog stops them.
    void Timer1_Timer();
    void Timer2_Timer();

    // The machine's network went (false) or came back (true). Back, the accounts that could
    // not connect are tried at the next tick; gone, no account is reported failing for it.
    void SetNetworkAvailable(bool available);
    // Forgets, at the next tick, the back-off of accounts that could not connect, and checks
    // then when that freed any, or in any case with `checkAnyway` (a wake from sleep).
    void RetryUnreachableAtNextTick(bool checkAnyway)
    {
        retryUnreachable_ = true;
        checkAtNextTick_ = checkAtNextTick_ || checkAnyway;
    }

    // An account's mailbox changed, as its watcher heard (push): a check now, as 最新メール受信
    // starts one, or once the check in flight or the settings dialog is over.
    void MailboxChanged(int account);

    void mnuMail_Click();
    void mnuPropaty_Click();
    void mnuRev_Click();
    void mnuOpen_Click();
    void mnuEnd_Click();

    // Starts a check: the servers are asked off the GUI thread, and the results are applied
    // on it, in account order. `then` runs after they are applied. Does nothing while a
    // check is in flight.
    void CheckMail(std::function<void()> then = {});
    bool CheckInFlight() const { return checkInFlight_; }
    // Told when a check starts (true) and when its results have been applied (false).
    void SetCheckObserver(std::function<void(bool inFlight)> observer) { checkObserver_ = std::move(observer); }
    void DeleteMailFile(const QString& mailRef);
    void CloseNotifyWindows();

    // Read-only views for the tray side and tests.
    qint16 TickCount() const { return tickCount_; }
    qint32 NewCount() const { return newCount_; }
    // Mails of the last check whose key was already in the day log.
    qint16 SeenCount() const { return seenCount_; }
    qint16 RevTimerMin() const { return revTimerMin_; }
    qint16 UnloadTimerSec() const { return unloadTimerSec_; }
    qint16 UnloadFlag() const { return unloadFlag_; }
    const QString& MailClient() const { return mailClient_; }
    const QString& ReceiveFolder() const { return receiveFolder_; }

    // How each account fared in the last check (index 1..5).
    const maillib::AccountStatus& LastStatus(int account) const
    {
        return results_[static_cast<std::size_t>(account)].status;
    }
    // The program's name heads the tray tooltip.
    static inline const QString kProgramName = QStringLiteral("Ferrowick");
    // The name that heads the tray tooltip (the demo says so in it); kProgramName by default.
    void SetProgramName(const QString& name)
    {
        programName_ = name;
        board_ = AccountStatusBoard(name);
    }

private:
    struct Account {
        QString server, user, password;
    };
    // What one account's worker hands back.
    struct AccountResult {
        maillib::MailList mails;
        maillib::AccountStatus status;
        // ReadMail of the first mails, in list order; shared with the read cache, not copied.
        std::vector<std::shared_ptr<const maillib::MailList>> fields;
    };

    // ReadMail's answer for a file, kept while the file stays the same one: the library links
    // an unchanged mail back in under the same name, so it need not be parsed again.
    struct ReadCacheEntry {
        unsigned long long device = 0, inode = 0;
        long long size = 0, modifiedNs = 0;
        std::shared_ptr<const maillib::MailList> fields;
    };
    using ReadCache = std::unordered_map<std::string, ReadCacheEntry>;
    static void readFields(MailLibrary& mail, AccountResult& result, ReadCache& cache, const std::string& folder);

    void countTick();
    // Watches the mailboxes of the accounts whose servers tell of news.
    void startWatching(const std::string& folder);
    void setMenuEnabled(bool enabled);
    void ApplyCheck();
    // Stores the fields of one mail of the check being applied in the tables (slot by slot)
    // and looks its key up in the day log.
    void StoreMailHeader(const QString& mailRef, int position, const QString& label);
    void showAccountStatus();
    void endCheckCycle();
    void endProgram();
    void holdReceiveFolder(bool hold);
    // Counts the mail as seen when its key is in the day log; otherwise logs it as announced.
    void lookUpDayLog(const QString& key);
    static QString formatMailTime(const QString& value);
    static QString parseMailTime(const QString& value);

    ControllerHost& host_;
    FormHost& forms_;
    MailLibrary& mail_;
    InlineCheckRunner inlineRunner_;
    CheckRunner& runner_;

    std::array<Account, 6> accounts_{}; // 1..5
    QString receiveFolder_;
    qint16 revTimerMin_ = 5;
    qint16 unloadTimerSec_ = 10;
    qint16 unloadFlag_ = 0;
    QString mailClient_;
    qint16 tickCount_ = 0;
    qint32 newCount_ = 0;
    qint16 seenCount_ = 0;
    qint32 announced_ = 0; // mails of the check being applied that were not in the day log

    bool checkInFlight_ = false;
    bool quitRequested_ = false;
    bool retryUnreachable_ = false;
    bool checkAtNextTick_ = false;
    bool keyringLocked_ = false; // the last check found the keyring locked for an account
    bool pushPending_ = false;   // news came while a check or the settings dialog was open
    bool settingsOpen_ = false;  // the settings dialog holds the timers
    std::function<void()> afterCheck_;
    std::function<void(bool)> checkObserver_;
    std::array<AccountResult, 6> results_{};
    // Each account's worker alone uses its cache, and only while its check is in flight.
    std::array<ReadCache, 6> readCaches_{};
    QString programName_ = kProgramName;
    AccountStatusBoard board_{kProgramName};
    // Fields ReadMail gave on a worker for each file of the check being applied.
    const std::vector<std::shared_ptr<const maillib::MailList>>* applyingFields_ = nullptr;
    int receiveDirFd_ = -1; // the receive folder, held open while a check is applied
    // Where the watchers' news is queued for the GUI thread; the watchers go before it does.
    std::unique_ptr<QObject> pushContext_;
    std::array<std::unique_ptr<AccountWatch>, 6> watches_{}; // 1..5
};
