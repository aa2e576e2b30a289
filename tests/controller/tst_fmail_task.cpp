#include "tests/controller/ControllerFixture.h"
#include "tests/common/TestClock.h"
#include "controller/fMail_Task.h"
#include "controller/mM_CHKER.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

class TestMailTask : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void menuHoldsFiveCommandsInOrder();
    void trayClicksOpenNothing();
    void startUpRunsTimersAndRegistersIcon();
    void settingsDialogPausesTheTimers();
    void menuCommandsReachTheLogic();

private:
    QTemporaryDir dir_;
    Journal journal_;
};

void TestMailTask::init()
{
    ClearModuleState();
    journal_.entries.clear();
}

void TestMailTask::menuHoldsFiveCommandsInOrder()
{
    FakeForms forms(journal_);
    ScriptedMail mail(journal_);
    fMail_Task task(forms, mail);
    QStringList captions;
    for (QAction* a : task.mnuMain()->actions()) {
        QVERIFY(!a->isSeparator());
        captions << a->text();
    }
    QCOMPARE(captions, (QStringList{"メール起動", "プロパティ", "最新メール受信", "開く", "終了"}));
    QCOMPARE(task.mnuMain()->title(), QStringLiteral("メニュー"));
    // Disabled, not hidden: the first check makes it reachable.
    QVERIFY(task.menuAction(MenuItem::mnuRev)->isVisible());
    QVERIFY(!task.menuAction(MenuItem::mnuRev)->isEnabled());
    QCOMPARE(task.trayIcon().toolTip(), QStringLiteral("Ferrowick"));
    QCOMPARE(task.trayIcon().contextMenu(), task.mnuMain());
    QVERIFY(!task.trayIcon().icon().isNull());
}

void TestMailTask::trayClicksOpenNothing()
{
    FakeForms forms(journal_);
    ScriptedMail mail(journal_);
    fMail_Task task(forms, mail);
    for (auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick})
        Q_EMIT task.trayIcon().activated(reason);
    QCoreApplication::processEvents();
    QVERIFY(!task.mnuMain()->isVisible());
    QCOMPARE(journal_.entries, QStringList());
}

void TestMailTask::startUpRunsTimersAndRegistersIcon()
{
    FakeForms forms(journal_);
    ScriptedMail mail(journal_);
    fMail_Task task(forms, mail);
    task.Form_Load(dir_.path());
    QCOMPARE(task.Timer1().interval(), 1000);
    QCOMPARE(task.Timer2().interval(), 1000);
    QVERIFY(task.Timer1().isActive());
    QVERIFY(task.Timer2().isActive());
    QVERIFY(task.menuAction(MenuItem::mnuRev)->isEnabled());
    // None is configured: the name, and no check time that would suggest anything was checked.
    QCOMPARE(mM_CHKER::TrayIcon.tip,
             QStringLiteral("Ferrowick\nアカウントが設定されていません（右クリック →「プロパティ」）"));
    QCOMPARE(task.trayIcon().toolTip(), mM_CHKER::TrayIcon.tip);
    QCOMPARE(mM_CHKER::TrayIcon.window, reinterpret_cast<quintptr>(&task));
}

void TestMailTask::settingsDialogPausesTheTimers()
{
    FakeForms forms(journal_);
    ScriptedMail mail(journal_);
    fMail_Task task(forms, mail);
    task.Form_Load(dir_.path());
    bool timerRanWhileOpen = true;
    forms.whileSettingsOpen = [&] { timerRanWhileOpen = task.Timer1().isActive() || task.Timer2().isActive(); };
    task.menuAction(MenuItem::mnuPropaty)->trigger();
    QVERIFY(!timerRanWhileOpen);
    QVERIFY(task.Timer1().isActive());
    QVERIFY(task.Timer2().isActive());
    QCOMPARE(task.Timer1().interval(), 1000);
}

void TestMailTask::menuCommandsReachTheLogic()
{
    FakeForms forms(journal_);
    ScriptedMail mail(journal_);
    fMail_Task task(forms, mail);
    task.Form_Load(dir_.path());
    journal_.entries.clear();
    task.menuAction(MenuItem::mnuPropaty)->trigger();
    task.menuAction(MenuItem::mnuOpen)->trigger();
    QCOMPARE(journal_.entries, (QStringList{"settings", "show:fMail_Checker"}));
    journal_.entries.clear();
    task.menuAction(MenuItem::mnuRev)->trigger();
    QVERIFY(journal_.entries.contains(QStringLiteral("rcv:|||SAVEALL")));
}

QTEST_MAIN(TestMailTask)
#include "tst_fmail_task.moc"
