// Ferrowick: a resident mail checker in the notification area.
#include "Forms.h"
#include "MailLibrary.h"
#include "TerminationSignals.h"
#include "WorkFolders.h"
#include "fM_PALAM.h"
#include "fMail_Task.h"

#include <QApplication>
#include <QFont>

int main(int argc, char* argv[])
{
    // Wayland lets no client place its own windows; the notifier must sit at the screen corner.
    if (!qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ferrowick"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ferrowick"));
    // The program lives in the tray: closing its last window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    QuitOnTerminationSignals();
    // The windows name the Windows font; map it to its Linux counterparts everywhere.
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"),
                               {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic")});

    notify::Forms forms;
    forms.SetSettingsDialog([] { fM_PALAM::ShowModal(); });
    RealMailLibrary mail;
    fMail_Task task(forms, mail);
    task.Form_Load(WorkFolders::ProgramFolder(QApplication::applicationDirPath()));
    const int code = QApplication::exec();
    task.RemoveTrayIcon();
    return code;
}
