// The controller's commands acting on the real windows: auto-close and the end of the program.
#include "notify/Control.h"
#include "tests/notify/NotifyFixture.h"
#include "controller/ResidentController.h"
#include "controller/WorkFolders.h"
#include "notify/fMail_Bot.h"
#include "notify/fMail_Card.h"
#include "notify/fMail_Checker.h"

#include <QFile>

using namespace notify;
using notify_test::Fixture;

namespace {

class QuietHost final : public ControllerHost {
public:
    void HideController() override {}
    void SetMenuItemEnabled(MenuItem, bool) override {}
    void RegisterTrayIcon() override {}
    void RemoveTrayIcon() override {}
    void StartTimers() override {}
    void StopTimers() override {}
    QString FindMailClient() override { return {}; }
    bool StartMailClient(const QString&, QString*) override { return true; }
    void Quit() override { quit = true; }
    bool quit = false;
};

class NoMail final : public MailLibrary {
public:
    maillib::MailList RcvMail(std::string&, std::string&, std::string&, std::string&, std::string&,
                              maillib::AccountStatus& status, std::size_t) override
    {
        status = {};
        status.kind = maillib::AccountStatus::Kind::ServerError;
        return std::nullopt;
    }
    maillib::MailList ReadMail(std::string&, std::string&, std::string&) override { return std::nullopt; }
};

void click(Control* control) { QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(2, 2)); }

bool nothingLoaded(const Forms& forms)
{
    for (int f = 0; f <= int(FormId::fMail_Body); ++f)
        if (forms.IsLoaded(FormId(f))) return false;
    return true;
}

// A started controller whose settings are the fixture's (auto-close on, 30 seconds).
struct Started {
    explicit Started(Fixture& fx) : controller(host, fx.forms(), mail)
    {
        const QString settings = mReadINI::IniPath;
        WorkFolders::SetPaths(dir.path(), fx.clock.now().date());
        if (!WorkFolders::RepairInstallation(dir.path())) qFatal("cannot prepare the work folders");
        QFile::remove(mReadINI::IniPath);
        if (!QFile::copy(settings, mReadINI::IniPath)) qFatal("cannot copy the settings");
        controller.Form_Load(dir.path());
    }
    QTemporaryDir dir;
    QuietHost host;
    NoMail mail;
    ResidentController controller;
};

} // namespace

class TestNotifyController : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { notify_test::QuietOffscreenNotices(); }
    void autoCloseClosesEverything();
    void endWithDetailOpen();
};

void TestNotifyController::autoCloseClosesEverything()
{
    Fixture fx;
    Started app(fx);
    QCOMPARE(app.controller.UnloadFlag(), 1);
    fx.mails(7);
    app.controller.mnuOpen_Click();
    click(fx.forms().Loaded<fMail_Checker>(FormId::fMail_Checker)->Image1());
    fx.clock.advance(10);
    click(fx.forms().Loaded<fMail_Bot>(FormId::fMail_Bot)->Image3()); // the scroll restarts the countdown
    QCOMPARE(mM_CHKER::PageOffset, 1);

    fx.clock.advance(29);
    app.controller.Timer2_Timer();
    QVERIFY(fx.forms().IsVisible(FormId::fMail_5));
    fx.clock.advance(1);
    app.controller.Timer2_Timer();
    QVERIFY(nothingLoaded(fx.forms()));
}

void TestNotifyController::endWithDetailOpen()
{
    Fixture fx;
    Started app(fx);
    fx.mails(3);
    app.controller.mnuOpen_Click();
    click(fx.forms().Loaded<fMail_Checker>(FormId::fMail_Checker)->Image1());
    click(fx.forms().Loaded<fMail_Card>(FormId::fMail_2)->Image1());
    QVERIFY(fx.forms().IsVisible(FormId::fMail_Body));
    // Meanwhile the timers do nothing: no tick counts, and the display time running out
    // closes nothing.
    const qint16 ticks = app.controller.TickCount();
    fx.clock.advance(notify_test::kDisplaySeconds + 1);
    app.controller.Timer1_Timer();
    app.controller.Timer2_Timer();
    QCOMPARE(app.controller.TickCount(), ticks);
    QVERIFY(fx.forms().IsVisible(FormId::fMail_Body));

    app.controller.mnuEnd_Click();
    QVERIFY(nothingLoaded(fx.forms()));
    // The detail window's unload ran: the stack got the display time anew (and the program quits).
    QCOMPARE(mM_CHKER::CloseTime, fx.clock.now().addSecs(notify_test::kDisplaySeconds));
    QVERIFY(app.host.quit);
}

QTEST_MAIN(TestNotifyController)
#include "tst_notify_controller.moc"
