#pragma once
#include "ControllerHost.h"
#include "FormHost.h"
#include "MailLibrary.h"

#include <QString>
#include <array>

// The resident controller's behaviour without widgets: start-up, the timed mail check,
// the day log, the menu commands and auto-close. fMail_Task gives it a tray, a menu and timers.
class ResidentController {
public:
    ResidentController(ControllerHost& host, FormHost& forms, MailLibrary& mail);

    // Start-up; `programFolder` holds maildata/. The first check runs before it returns.
    void Form_Load(const QString& programFolder);

    void Timer1_Timer();
    void Timer2_Timer();

    void mnuMail_Click();
    void mnuPropaty_Click();
    void mnuRev_Click();
    void mnuOpen_Click();
    void mnuEnd_Click();

    void CheckMail();
    void StoreMailHeader(const QString& mailRef, int position, const QString& label);
    void DeleteMailFile(const QString& mailRef);
    void CloseNotifyWindows();

    // Read-only views for the tray side and tests.
    qint16 TickCount() const { return tickCount_; }
    qint32 NewCount() const { return newCount_; }
    qint16 RevTimerMin() const { return revTimerMin_; }
    qint16 UnloadTimerSec() const { return unloadTimerSec_; }
    qint16 UnloadFlag() const { return unloadFlag_; }
    const QString& MailClient() const { return mailClient_; }
    const QString& ReceiveFolder() const { return receiveFolder_; }

private:
    struct Account {
        QString server, user, password;
    };

    void setMenuEnabled(bool enabled);
    static QString formatMailTime(const QString& value);

    ControllerHost& host_;
    FormHost& forms_;
    MailLibrary& mail_;

    std::array<Account, 6> accounts_{}; // 1..5
    QString receiveFolder_;
    qint16 revTimerMin_ = 5;
    qint16 unloadTimerSec_ = 10;
    qint16 unloadFlag_ = 0;
    QString mailClient_;
    qint16 tickCount_ = 0;
    qint32 newCount_ = 0;
};
