// Ferrowick: a resident mail checker in the notification area.
#include "AppLog.h"
#include "Forms.h"
#include "RealMailLibrary.h"
#include "TerminationSignals.h"
#include "StallProbe.h"
#include "ThreadPoolCheckRunner.h"
#include "WorkFolders.h"
#include "fM_PALAM.h"
#include "fMail_Task.h"

#include <QApplication>
#include <QFont>
#include <cstdio>
#include <memory>
#include <unistd.h>

int main(int argc, char* argv[])
{
    // With TZ unset, glibc looks at /etc/localtime again at every time conversion.
    if (qEnvironmentVariableIsEmpty("TZ")) qputenv("TZ", ":/etc/localtime");
    // Wayland lets no client place its own windows; the notifier must sit at the screen corner.
    if (!qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ferrowick"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ferrowick"));
    // The program lives in the tray: closing its last window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    // The windows name the Windows font; map it to its Linux counterparts everywhere.
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"),
                               {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic")});

    notify::Forms forms;
    forms.SetSettingsDialog([] { fM_PALAM::ShowModal(); });
    // The library's warnings reach the user's log as well as stderr.
    maillib::SetLogSink(&AppLog::Warn);
    RealMailLibrary mail;
    ThreadPoolCheckRunner runner(5);
    fMail_Task task(forms, mail, runner);
    // A logout ends the program as "終了" does, a check in flight included.
    QuitOnTerminationSignals([&task] { task.logic().mnuEnd_Click(); });
    std::unique_ptr<StallProbe> probe;
    if (const QString path = qEnvironmentVariable("FW_BENCH_PROBE"); !path.isEmpty())
        probe = std::make_unique<StallProbe>(path, task.logic());
    task.Form_Load(WorkFolders::ProgramFolder(QApplication::applicationDirPath()));
    const int code = QApplication::exec();
    task.RemoveTrayIcon();
    if (!runner.WaitForDone(500)) {
        // A worker that has not returned must not meet the library being torn down.
        std::fflush(nullptr);
        ::_exit(code);
    }
    return code;
}
