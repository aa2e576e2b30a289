#pragma once
#include "controller/ControllerHost.h"
#include "controller/ResidentController.h"

#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <array>

class QAction;
class QMenu;

// The hidden resident object: owns the tray icon, its popup menu and the two one-second
// timers, and hands every event to ResidentController.
class fMail_Task final : public QObject, public ControllerHost {
    Q_OBJECT
public:
    // Without a runner, checks run on the GUI thread (tests); the program passes a pool.
    fMail_Task(FormHost& forms, MailLibrary& mail, QObject* parent = nullptr);
    fMail_Task(FormHost& forms, MailLibrary& mail, CheckRunner& runner, QObject* parent = nullptr);
    ~fMail_Task() override;

    void Form_Load(const QString& programFolder) { logic_.Form_Load(programFolder); }
    ResidentController& logic() { return logic_; }
    QMenu* mnuMain() const { return mnuMain_; }
    QAction* menuAction(MenuItem item) const { return actions_[static_cast<std::size_t>(item)]; }
    QSystemTrayIcon& trayIcon() { return tray_; }
    QTimer& Timer1() { return timer1_; }
    QTimer& Timer2() { return timer2_; }

    // ControllerHost
    void HideController() override {}
    void SetMenuItemEnabled(MenuItem item, bool enabled) override;
    void RegisterTrayIcon() override;
    void RemoveTrayIcon() override;
    void StartTimers() override;
    void StopTimers() override;
    QString FindMailClient() override;
    bool StartMailClient(const QString& client, QString* error) override;
    void Quit() override;
    void ShowTrayStatus(const QString& tip, bool warning) override;
    void ShowNotification(const QString& title, const QString& text, bool warning) override;
    bool ShowsWarningIcon() const { return warningShown_; }
    // The timers' period, one second unless a benchmark runs the program's time faster.
    void SetTickInterval(int ms) { tickMs_ = ms; }

private:
    void setUp();

    QTimer timer1_;
    QTimer timer2_;
    QSystemTrayIcon tray_;
    QIcon normalIcon_;
    QIcon warningIcon_;
    bool warningShown_ = false;
    int tickMs_ = 1000;
    QMenu* mnuMain_;
    std::array<QAction*, 5> actions_{};
    ResidentController logic_;
};
