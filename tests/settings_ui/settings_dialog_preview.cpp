// Shows the settings dialog with sample accounts on the current display and, when given an
// output path, saves what the display shows of it (frame included) and quits.
//   settings_dialog_preview [out.png] [--checked]
#include "settings/ui/fM_PALAM.h"
#include "settings/mReadINI.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ferrowick"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ferrowick"));
    const QStringList args = app.arguments().mid(1);
    const bool checked = args.contains(QStringLiteral("--checked"));
    const QStringList outputs = args.filter(QStringLiteral(".png"));

    QTemporaryDir dir;
    mReadINI::IniPath = dir.filePath(QStringLiteral("maildata.ini"));
    QFile ini(mReadINI::IniPath);
    if (!ini.open(QIODevice::WriteOnly)) return 1;
    ini.write(QStringLiteral("[POP]\nPOP_SERVER1=pop.example.jp\nUSER1=taro\nPASS1=sample\nNAME1=会社#\n"
                             "[MAIL_REV]\nREV_TIMER_MIN=30\nUNLOAD_TIMER_SEC=10\n[ABOUT_PALAM]\nUNLOAD_FLAG=%1\n")
                  .arg(checked ? 1 : 0)
                  .toUtf8());
    ini.close();

    fM_PALAM dialog;
    dialog.show();
    if (!outputs.isEmpty()) {
        QTimer::singleShot(1500, &dialog, [&] {
            const QRect frame = dialog.frameGeometry();
            const QPixmap shot = dialog.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
            app.exit(shot.save(outputs.constFirst()) ? 0 : 2);
        });
    }
    return app.exec();
}
