#include "app/Resident.h"

#include "platform/AppLog.h"
#include "notify/Forms.h"
#include "app/NoDisplayExit.h"
#include "app/NoTrayNotice.h"
#include "controller/ConnectivityWatch.h"
#include "controller/RealMailLibrary.h"
#include "app/SingleInstance.h"
#include "controller/StallProbe.h"
#include "platform/TerminationSignals.h"
#include "controller/ThreadPoolCheckRunner.h"
#include "settings/ui/fM_PALAM.h"
#include "controller/fMail_Task.h"
#include "maillib/MailClock.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFont>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

// What the menu item of the same name does.
void perform(fMail_Task& task, StartAction action)
{
    switch (action) {
    case StartAction::Run:
    case StartAction::Open:
        task.logic().mnuOpen_Click();
        break;
    case StartAction::Check:
        // The menu offers it only between checks; a check in progress already does the job.
        if (task.menuAction(MenuItem::mnuRev)->isEnabled()) task.logic().mnuRev_Click();
        break;
    case StartAction::Settings:
        // The dialog is modal: a second one on top of the first would only confuse.
        if (QWidget* open = QApplication::activeModalWidget()) {
            open->raise();
            open->activateWindow();
        } else {
            task.logic().mnuPropaty_Click();
        }
        break;
    case StartAction::Quit:
        task.logic().mnuEnd_Click();
        break;
    }
}

// For the benchmarks (FW_BENCH_CLOCK_SCALE=N): the program's own time, its one-second ticks
// and the mail library's clock (back-off, IDLE renewal), runs N times as fast; the network's
// time-outs do not.
class ScaledMailClock final : public maillib::MailClock {
public:
    explicit ScaledMailClock(double scale) : scale_(scale) {}
    std::chrono::steady_clock::time_point Now() const override
    {
        return steadyStart_ + Scaled(std::chrono::steady_clock::now() - steadyStart_);
    }
    std::chrono::system_clock::time_point WallNow() const override
    {
        return wallStart_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                Scaled(std::chrono::steady_clock::now() - steadyStart_));
    }

private:
    std::chrono::steady_clock::duration Scaled(std::chrono::steady_clock::duration d) const
    {
        return std::chrono::duration_cast<std::chrono::steady_clock::duration>(d * scale_);
    }
    const double scale_;
    const std::chrono::steady_clock::time_point steadyStart_ = std::chrono::steady_clock::now();
    const std::chrono::system_clock::time_point wallStart_ = std::chrono::system_clock::now();
};

void say(FILE* stream, const QString& line)
{
    std::fprintf(stream, "ferrowick: %s\n", line.toLocal8Bit().constData());
    std::fflush(stream);
}

} // namespace

int RunResident(int& argc, char** argv, const CommandLine& commandLine, const QString& programFolder,
                SingleInstance& guard)
{
    // Wayland lets no client place its own windows; the notifier must sit at the screen corner.
    if (!qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    auto noDisplay = std::make_unique<NoDisplayExit>([&guard] {
        // The lock is ours; nothing else will remove it.
        if (guard.Holds()) QFile::remove(guard.LockPath());
    });
    QApplication app(argc, argv);
    noDisplay.reset();
    QApplication::setApplicationName(QStringLiteral("ferrowick"));
    QApplication::setApplicationVersion(QStringLiteral(FW_VERSION));
    QApplication::setApplicationDisplayName(commandLine.demo ? QStringLiteral("Ferrowick（デモ）")
                                                             : QStringLiteral("Ferrowick"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.ferrowick.Ferrowick"));
    // The program lives in the tray: closing its last window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    // The windows name the Windows font; map it to its Linux counterparts everywhere.
    QFont::insertSubstitutions(
        QStringLiteral("ＭＳ Ｐゴシック"),
        {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic")});

    notify::Forms forms;
    forms.SetSettingsDialog([] { fM_PALAM::ShowModal(); });
    // The library's warnings reach the user's log as well as stderr.
    maillib::SetLogSink(&AppLog::Warn);
    RealMailLibrary mail;
    ThreadPoolCheckRunner runner(5);
    fMail_Task task(forms, mail, runner);
    task.logic().SetProgramName(QApplication::applicationDisplayName());
    task.trayIcon().setToolTip(QApplication::applicationDisplayName());
    // The network back or a wake from sleep: accounts that could not connect are tried at once.
    ConnectivityWatch connectivity(task.logic(), mail, task.Timer1());
    // A logout ends the program as "終了" does, a check in flight included.
    QuitOnTerminationSignals([&task] { task.logic().mnuEnd_Click(); });
    if (const double scale = qEnvironmentVariable("FW_BENCH_CLOCK_SCALE").toDouble(); scale > 1) {
        // Outlives every check and watcher.
        static std::optional<ScaledMailClock> scaledClock;
        scaledClock.emplace(scale);
        maillib::internal::SetClock(&*scaledClock);
        task.SetTickInterval(std::max(1, static_cast<int>(1000 / scale)));
    }
    std::unique_ptr<StallProbe> probe;
    if (const QString path = qEnvironmentVariable("FW_BENCH_PROBE"); !path.isEmpty())
        probe = std::make_unique<StallProbe>(path, task.logic(), qEnvironmentVariable("FW_BENCH_PROBE_STALLS") != "0");
    QString error;
    // Unguarded, the start has already said so; there is nothing to listen for.
    if (guard.Holds() && !guard.Listen(&error))
        say(stderr, QStringLiteral("later starts cannot reach this one: %1").arg(error));
    // Queued, so that a modal dialog opened by a request does not stall the socket's reply.
    QObject::connect(&guard, &SingleInstance::requested, &task, [&task](StartAction action) {
        QTimer::singleShot(0, &task, [&task, action] { perform(task, action); });
    });
    AnnounceMissingTray(&task);
    task.Form_Load(programFolder);
    if (commandLine.action == StartAction::Settings)
        QTimer::singleShot(0, &task, [&task] { perform(task, StartAction::Settings); });
    const int code = QApplication::exec();
    task.RemoveTrayIcon();
    if (!runner.WaitForDone(500)) {
        // A worker that has not returned must not meet the library being torn down.
        std::fflush(nullptr);
        ::_exit(code);
    }
    return code;
}

int HandOver(SingleInstance& guard, StartAction action, const QString& programFolder)
{
    QString error;
    const StartAction asked = action == StartAction::Run ? StartAction::Open : action;
    if (!guard.Send(asked, &error)) {
        say(stderr, QStringLiteral("an instance holds %1, but %2").arg(guard.LockPath(), error));
        return 1;
    }
    switch (asked) {
    case StartAction::Run:
    case StartAction::Open:
        say(stdout, QStringLiteral("already running on %1; showed its post box").arg(programFolder));
        break;
    case StartAction::Check:
        say(stdout, QStringLiteral("already running on %1; it checks for mail now").arg(programFolder));
        break;
    case StartAction::Settings:
        say(stdout, QStringLiteral("already running on %1; opened its settings").arg(programFolder));
        break;
    case StartAction::Quit:
        say(stdout, QStringLiteral("the instance running on %1 has ended").arg(programFolder));
        break;
    }
    return 0;
}
