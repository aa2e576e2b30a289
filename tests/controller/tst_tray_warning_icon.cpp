#include "tests/controller/ControllerFixture.h"
#include "controller/TrayWarningIcon.h"
#include "controller/fMail_Task.h"
#include "controller/mM_CHKER.h"

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QImage>
#include <QTest>

class TestTrayWarningIcon : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void markCoversOnlyTheLowerRightCorner();
    void warningPictureDiffersFromTheNormalOne();
    void trayTakesTheWarningPictureWhileAnAccountFails();
};

void TestTrayWarningIcon::markCoversOnlyTheLowerRightCorner()
{
    QPixmap base(32, 32);
    base.fill(QColor(200, 30, 30));
    const QImage marked = WithWarningMark(base).toImage();
    QCOMPARE(marked.size(), QSize(32, 32));
    int changedUpperLeft = 0, changedLowerRight = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const bool changed = marked.pixelColor(x, y) != QColor(200, 30, 30);
            if (x < 14 || y < 14) changedUpperLeft += changed;
            else changedLowerRight += changed;
        }
    QCOMPARE(changedUpperLeft, 0);
    QVERIFY(changedLowerRight > 80);
    // Yellow ground and a dark mark on it, so it reads at tray size.
    QVERIFY(marked.pixelColor(18, 29).red() > 200 && marked.pixelColor(18, 29).green() > 150);
    QVERIFY(marked.pixelColor(23, 22).lightness() < 80 && marked.pixelColor(23, 29).lightness() < 80);
}

void TestTrayWarningIcon::warningPictureDiffersFromTheNormalOne()
{
    QPixmap base(32, 32);
    base.fill(QColor(200, 30, 30));
    const QIcon normal(base);
    const QIcon warning = TrayWarningIcon(normal);
    QVERIFY(!warning.isNull());
    QVERIFY(warning.pixmap(32, 32).toImage() != normal.pixmap(32, 32).toImage());
}

void TestTrayWarningIcon::trayTakesTheWarningPictureWhileAnAccountFails()
{
    ClearModuleState();
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("maildata/INI"))));
    QFile ini(dir.filePath(QStringLiteral("maildata/INI/maildata.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[POP]\nPOP_SERVER1=pop1\nUSER1=u1\nPASS1=p1\nNAME1=仕事#\n");
    ini.close();
    Journal journal;
    FakeForms forms(journal);
    ScriptedMail mail(journal);
    mail.statuses[QStringLiteral("pop1")].kind = maillib::AccountStatus::Kind::CannotConnect;
    fMail_Task task(forms, mail);
    const QImage normal = task.trayIcon().icon().pixmap(32, 32).toImage();
    task.Form_Load(dir.path());
    QVERIFY(task.ShowsWarningIcon());
    QVERIFY(task.trayIcon().icon().pixmap(32, 32).toImage() != normal);
    QVERIFY(task.trayIcon().toolTip().startsWith(QStringLiteral("Ferrowick\n仕事: サーバーに接続できません（")));

    mail.statuses.remove(QStringLiteral("pop1"));
    task.logic().mnuRev_Click();
    QVERIFY(!task.ShowsWarningIcon());
    QCOMPARE(task.trayIcon().icon().pixmap(32, 32).toImage(), normal);
    QVERIFY(task.trayIcon().toolTip().startsWith(QStringLiteral("Ferrowick\n最終確認 ")));
    task.Timer1().stop();
    task.Timer2().stop();
}

QTEST_MAIN(TestTrayWarningIcon)
#include "tst_tray_warning_icon.moc"
