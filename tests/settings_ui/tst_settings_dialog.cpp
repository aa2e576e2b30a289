#include "platform/ProfileIni.h"
#include "tests/common/DiskFaults.h"
#include "settings/ui/SettingsDialogLayout.h"
#include "settings/ui/fM_PALAM.h"
#include "settings/mReadINI.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <optional>

namespace {

struct Shown {
    QString title, text;
    QMessageBox::Icon icon;
};

// Answers each message box as it appears, in order, by clicking its button.
class Boxes : public QObject {
public:
    explicit Boxes(QList<QMessageBox::StandardButton> answers) : answers_(std::move(answers))
    {
        connect(&poll_, &QTimer::timeout, this, &Boxes::answer);
        poll_.start(5);
    }
    QList<Shown> shown;

private:
    void answer()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        shown.append({box->windowTitle(), box->text(), box->icon()});
        QAbstractButton* button = answers_.isEmpty() ? nullptr : box->button(answers_.takeFirst());
        (button ? button : box->buttons().constFirst())->click();
    }
    QList<QMessageBox::StandardButton> answers_;
    QTimer poll_;
};

const QString kAllAccounts = QStringLiteral(
    "[POP]\nPOP_SERVER1=pop1\nUSER1=u1\nPASS1=p1\nNAME1=一号#\nPOP_SERVER2=pop2\nUSER2=u2\nPASS2=p2\nNAME2=二号#\n"
    "POP_SERVER3=pop3\nUSER3=u3\nPASS3=p3\nNAME3=三号#\nPOP_SERVER4=pop4\nUSER4=u4\nPASS4=p4\nNAME4=四号#\n"
    "POP_SERVER5=pop5\nUSER5=u5\nPASS5=p5\nNAME5=五号#\n[MAIL_REV]\nREV_TIMER_MIN=30\nUNLOAD_TIMER_SEC=10\n"
    "[ABOUT_PALAM]\nUNLOAD_FLAG=0\n");

QString value(const QString& section, const QString& key)
{
    return ProfileIni::GetString(section, key, mReadINI::IniPath);
}

} // namespace

class TestSettingsDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;

    void writeIni(const QString& text)
    {
        QFile f(mReadINI::IniPath);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.toUtf8());
    }
    QByteArray iniBytes() const
    {
        QFile f(mReadINI::IniPath);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static std::unique_ptr<fM_PALAM> openDialog()
    {
        auto d = std::make_unique<fM_PALAM>();
        d->show();
        return d;
    }
    template <class T> static T* get(QWidget* d, const QString& name)
    {
        T* w = d->findChild<T*>(name);
        if (!w) qFatal("no control %s", qPrintable(name));
        return w;
    }
    static QLineEdit* box(QWidget* d, int i) { return get<QLineEdit>(d, QStringLiteral("popServer_%1").arg(i)); }
    static void click(QWidget* d, int label2)
    {
        QTest::mouseClick(get<QWidget>(d, QStringLiteral("Label2_%1").arg(label2)), Qt::LeftButton);
    }
    // Fills the boxes the way a user would; nothing else is touched.
    static void fill(QWidget* d, const QStringList& texts, bool checked)
    {
        for (int i = 0; i < texts.size(); ++i) box(d, i)->setText(texts[i]);
        get<QCheckBox>(d, QStringLiteral("Check1"))->setChecked(checked);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // As the program names itself; the validation messages show this, the questions "Ferrowick".
        QApplication::setApplicationName(QStringLiteral("ferrowick"));
    }
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        mReadINI::IniPath = dir_->filePath(QStringLiteral("maildata.ini"));
    }

    void emptyFileShowsDefaults()
    {
        writeIni(QStringLiteral("[POP]\nPOP_SERVER2=pop2\n"));
        auto d = openDialog();
        QCOMPARE(d->size(), QSize(268, 306));
        QCOMPARE(d->pos(), QPoint((1280 - 268) / 2, (1024 - 306) / 2));
        QCOMPARE(get<QComboBox>(d.get(), "Combo1")->currentIndex(), 0);
        for (int i = 0; i < 3; ++i) QCOMPARE(box(d.get(), i)->text(), QString());
        QCOMPARE(box(d.get(), 3)->text(), QStringLiteral("5"));
        QCOMPARE(box(d.get(), 4)->text(), QStringLiteral("10"));
        QVERIFY(!box(d.get(), 4)->isEnabled());
        QCOMPARE(box(d.get(), 4)->palette().color(QPalette::Disabled, QPalette::Text), QColor(64, 64, 64));
        QCOMPARE(get<QLabel>(d.get(), "Label1_7")->palette().color(QPalette::WindowText), QColor(64, 64, 64));
        QVERIFY(!get<QCheckBox>(d.get(), "Check1")->isChecked());
        QVERIFY(get<QWidget>(d.get(), "Label2_2")->isHidden());
        QCOMPARE(d->focusWidget(), get<QWidget>(d.get(), "Text1"));
        // The server box says how a server may be written, IMAP included.
        for (const char* form : {"pop3s://", "pop3://", "imaps://", "imap://", "insecure-imap://"})
            QVERIFY2(box(d.get(), 0)->toolTip().contains(QLatin1String(form)), form);

        QStringList tabOrder;
        QWidget* w = box(d.get(), 0);
        do {
            if (w->focusPolicy() & Qt::TabFocus) tabOrder << w->objectName();
            w = w->nextInFocusChain();
        } while (w != box(d.get(), 0));
        QCOMPARE(tabOrder, QStringList({"popServer_0", "popServer_1", "popServer_2", "popServer_3", "Check1",
                                        "popServer_4", "Combo1", "Text1"}));

        // The check box rule: the display row comes alive and keeps its text.
        QTest::mouseClick(get<QCheckBox>(d.get(), "Check1"), Qt::LeftButton);
        QVERIFY(box(d.get(), 4)->isEnabled());
        QCOMPARE(box(d.get(), 4)->palette().color(QPalette::Active, QPalette::Text), QColor(192, 0, 0));
        QCOMPARE(get<QLabel>(d.get(), "Label1_7")->palette().color(QPalette::WindowText), QColor(128, 255, 128));
        QCOMPARE(box(d.get(), 4)->text(), QStringLiteral("10"));
    }

    void outlineIsPainted()
    {
        auto d = openDialog();
        const QImage shot = d->grab().toImage();
        QCOMPARE(shot.size(), d->size());
        // The four white lines of the design, wherever no control covers them.
        int onLine = 0, white = 0;
        for (const auto& l : SettingsDialogLayout::kLine1) {
            const QPoint from = SettingsDialogLayout::toPixels(l[0], l[1]);
            const QPoint to = SettingsDialogLayout::toPixels(l[2], l[3]);
            for (int x = std::max(0, from.x()); x <= std::min(to.x(), shot.width() - 1); x += 5) {
                if (d->childAt(x, from.y())) continue;
                ++onLine;
                white += shot.pixelColor(x, from.y()) == QColor(Qt::white);
            }
        }
        QVERIFY(onLine > 40);
        QCOMPARE(white, onLine);
    }

    void closedDialogGetsNoTestAnswer()
    {
        Boxes boxes({});
        {
            auto d = openDialog();
            // Nothing listens on port 1: the test fails at once, while the dialog is already gone.
            fill(d.get(), {"pop3s://127.0.0.1:1", "u", "p"}, false);
            QTest::mouseClick(get<QWidget>(d.get(), "TestLabel"), Qt::LeftButton);
        }
        QVERIFY(QThreadPool::globalInstance()->waitForDone(30000));
        QTest::qWait(50);
        QCOMPARE(boxes.shown.size(), 0);
    }

    void switchingDiscardsEdits()
    {
        writeIni(QStringLiteral("[POP]\nPOP_SERVER2= pop2 \nUSER2=u2\n[MAIL_REV]\nREV_TIMER_MIN=30\n"));
        auto d = openDialog();
        auto* combo = get<QComboBox>(d.get(), "Combo1");
        combo->setCurrentIndex(1);
        QCOMPARE(box(d.get(), 0)->text(), QStringLiteral("pop2"));
        QVERIFY(!get<QWidget>(d.get(), "Label2_2")->isHidden());
        box(d.get(), 0)->setText(QStringLiteral("edited"));
        box(d.get(), 3)->setText(QStringLiteral("99"));
        combo->setCurrentIndex(2);
        QCOMPARE(box(d.get(), 0)->text(), QString());
        QVERIFY(get<QWidget>(d.get(), "Label2_2")->isHidden());
        combo->setCurrentIndex(1);
        QCOMPARE(box(d.get(), 0)->text(), QStringLiteral("pop2"));
        QCOMPARE(box(d.get(), 3)->text(), QStringLiteral("30"));
    }

    void switchOnlyEverChecksTheBox_data()
    {
        QTest::addColumn<QString>("flag");
        QTest::addColumn<bool>("userClicks");
        QTest::addColumn<bool>("checkedAfterSwitch");
        QTest::newRow("flag 1, user clears it") << "1" << true << true;
        QTest::newRow("flag 0, user ticks it") << "0" << true << true;
        QTest::newRow("flag 0, untouched") << "0" << false << false;
    }
    void switchOnlyEverChecksTheBox()
    {
        QFETCH(QString, flag);
        QFETCH(bool, userClicks);
        QFETCH(bool, checkedAfterSwitch);
        writeIni(QStringLiteral("[ABOUT_PALAM]\nUNLOAD_FLAG=%1\n").arg(flag));
        auto d = openDialog();
        auto* check = get<QCheckBox>(d.get(), "Check1");
        QCOMPARE(check->isChecked(), flag == "1");
        if (userClicks) QTest::mouseClick(check, Qt::LeftButton);
        get<QComboBox>(d.get(), "Combo1")->setCurrentIndex(3);
        QCOMPARE(check->isChecked(), checkedAfterSwitch);
        QCOMPARE(box(d.get(), 4)->isEnabled(), checkedAfterSwitch);
    }

    void applyChecks_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("interval");
        QTest::addColumn<QString>("display");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        const QString blank = "空白の項目が存在します", interval = "受信間隔は5秒以上に設定して下さい",
                      display = "表示時間は1秒以上に設定して下さい", ask = "設定を変更しますか？",
                      intervalLong = "受信間隔は32767秒以下に設定して下さい",
                      displayLong = "表示時間は32767秒以下に設定して下さい";
        // The focus starts in popServer_2; "No" to the question moves it to Text1.
        QTest::newRow("server empty") << ""
                                      << "30"
                                      << "10" << false << blank << "popServer_2";
        QTest::newRow("server of spaces passes") << "   "
                                                 << "30"
                                                 << "10" << false << ask << "Text1";
        QTest::newRow("display empty, checked") << "s"
                                                << "30"
                                                << "" << true << blank << "popServer_2";
        QTest::newRow("interval 4") << "s"
                                    << "4"
                                    << "1" << false << interval << "popServer_3";
        QTest::newRow("interval abc") << "s"
                                      << "abc"
                                      << "1" << false << interval << "popServer_3";
        QTest::newRow("interval 05") << "s"
                                     << "05"
                                     << "3" << false << ask << "Text1";
        QTest::newRow("interval 5x") << "s"
                                     << "5x"
                                     << "3" << false << ask << "Text1";
        QTest::newRow("display 0, clear") << "s"
                                          << "30"
                                          << "0" << false << display << "popServer_2";
        QTest::newRow("display empty, clear") << "s"
                                              << "30"
                                              << "" << false << display << "popServer_2";
        QTest::newRow("display 0, checked") << "s"
                                            << "30"
                                            << "0" << true << display << "popServer_4";
        QTest::newRow("display 05") << "s"
                                    << "30"
                                    << "05" << true << ask << "Text1";
        QTest::newRow("interval 32767") << "s"
                                        << "32767"
                                        << "32765" << true << ask << "Text1";
        QTest::newRow("interval 32768") << "s"
                                        << "32768"
                                        << "10" << true << intervalLong << "popServer_3";
        QTest::newRow("interval 99999") << "s"
                                        << "99999"
                                        << "10" << true << intervalLong << "popServer_3";
        QTest::newRow("display 32768, checked") << "s"
                                                << "30"
                                                << "32768" << true << displayLong << "popServer_4";
        QTest::newRow("display 99999, clear") << "s"
                                              << "30"
                                              << "99999" << false << displayLong << "popServer_2";
    }
    void applyChecks()
    {
        QFETCH(QString, server);
        QFETCH(QString, interval);
        QFETCH(QString, display);
        QFETCH(bool, checked);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        auto d = openDialog();
        fill(d.get(), {server, "u", "p", interval, display}, checked);
        box(d.get(), 2)->setFocus();
        Boxes boxes({QMessageBox::No});
        click(d.get(), 0);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, message);
        QCOMPARE(boxes.shown[0].title, QString(message == "設定を変更しますか？" ? "Ferrowick" : "ferrowick"));
        QCOMPARE(boxes.shown[0].icon, QMessageBox::NoIcon);
        QCOMPARE(d->focusWidget()->objectName(), focus);
        QVERIFY(d->isVisible());
        QVERIFY(!QFile::exists(mReadINI::IniPath));
    }

    void displayTimeCap_data()
    {
        QTest::addColumn<QString>("interval");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("after");
        QTest::newRow("5 and 10: capped") << "5"
                                          << "10"
                                          << "3";
        QTest::newRow("8 and 6: kept") << "8"
                                       << "6"
                                       << "6";
        QTest::newRow("7.5 and 9: capped") << "7.5"
                                           << "9"
                                           << "5.5";
    }
    void displayTimeCap()
    {
        QFETCH(QString, interval);
        QFETCH(QString, display);
        QFETCH(QString, after);
        auto d = openDialog();
        fill(d.get(), {"s", "u", "p", interval, display}, true);
        Boxes boxes({QMessageBox::No});
        click(d.get(), 0);
        QCOMPARE(boxes.shown.size(), 1); // no message for the cap, only the question
        QCOMPARE(box(d.get(), 4)->text(), after);
    }

    void numberBoxesKeepStoredValues_data()
    {
        QTest::addColumn<QString>("interval");
        QTest::addColumn<QString>("display");
        QTest::newRow("five digits") << "12000"
                                     << "100";
        QTest::newRow("largest") << "32767"
                                 << "32765";
        QTest::newRow("longer texts than a box takes") << "0000000060"
                                                       << "000000010";
    }
    void numberBoxesKeepStoredValues()
    {
        QFETCH(QString, interval);
        QFETCH(QString, display);
        writeIni(QStringLiteral("[POP]\nPOP_SERVER1=pop1\nUSER1=u1\nPASS1=p1\n[MAIL_REV]\nREV_TIMER_MIN=%1\n"
                                "UNLOAD_TIMER_SEC=%2\n[ABOUT_PALAM]\nUNLOAD_FLAG=1\n")
                     .arg(interval, display));
        auto d = openDialog();
        QCOMPARE(box(d.get(), 3)->text(), interval);
        QCOMPARE(box(d.get(), 4)->text(), display);
        // Another value is changed; the numbers are written back as they were.
        box(d.get(), 2)->setText(QStringLiteral("new password"));
        Boxes boxes({QMessageBox::Yes, QMessageBox::Ok});
        click(d.get(), 0);
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(value("POP", "PASS1"), QStringLiteral("new password"));
        QCOMPARE(value("MAIL_REV", "REV_TIMER_MIN"), interval);
        QCOMPARE(value("MAIL_REV", "UNLOAD_TIMER_SEC"), display);
    }

    void numberBoxesTakeEverySixteenBitValue()
    {
        auto d = openDialog();
        fill(d.get(), {"s", "u", "p", "", ""}, true);
        QTest::keyClicks(box(d.get(), 3), QStringLiteral("32767"));
        QTest::keyClicks(box(d.get(), 4), QStringLiteral("-32768"));
        QCOMPARE(box(d.get(), 3)->text(), QStringLiteral("32767"));
        QCOMPARE(box(d.get(), 4)->text(), QStringLiteral("-32768"));
    }

    void cappedDisplayTimeShowsWhole()
    {
        writeIni(QStringLiteral("[MAIL_REV]\nREV_TIMER_MIN=7.123456\nUNLOAD_TIMER_SEC=9\n"));
        auto d = openDialog();
        fill(d.get(), {"s", "u", "p"}, true);
        Boxes boxes({QMessageBox::No});
        click(d.get(), 0);
        QCOMPARE(box(d.get(), 4)->text(), QStringLiteral("5.123456"));
    }

    void cancelWritesNothing()
    {
        writeIni(kAllAccounts);
        const QByteArray before = iniBytes();
        auto d = openDialog();
        get<QComboBox>(d.get(), "Combo1")->setCurrentIndex(2);
        fill(d.get(), {"edited", "edited", "edited", "60", "20"}, true);
        get<QLineEdit>(d.get(), "Text1")->setText(QStringLiteral("edited"));
        Boxes boxes({QMessageBox::Yes, QMessageBox::Ok});
        click(d.get(), 1);
        QVERIFY(!d->isVisible());
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(iniBytes(), before);
    }

    void applyWithTheBoxClearWritesFlagZero()
    {
        writeIni(QString(kAllAccounts).replace("UNLOAD_FLAG=0", "UNLOAD_FLAG=1"));
        auto d = openDialog();
        auto* check = get<QCheckBox>(d.get(), "Check1");
        QVERIFY(check->isChecked());
        QTest::mouseClick(check, Qt::LeftButton);
        QVERIFY(!check->isChecked());
        Boxes boxes({QMessageBox::Yes, QMessageBox::Ok});
        click(d.get(), 0);
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(value("ABOUT_PALAM", "UNLOAD_FLAG"), QStringLiteral("0"));
    }

    void enterMovesOn_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<QString>("to");
        QTest::newRow("0 to 1") << 0 << false << "popServer_1";
        QTest::newRow("2 to 3") << 2 << false << "popServer_3";
        QTest::newRow("3 to check box when clear") << 3 << false << "Check1";
        QTest::newRow("3 to 4 when checked") << 3 << true << "popServer_4";
    }
    void enterMovesOn()
    {
        QFETCH(int, from);
        QFETCH(bool, checked);
        QFETCH(QString, to);
        auto d = openDialog();
        fill(d.get(), {}, checked);
        QTest::keyClick(box(d.get(), from), Qt::Key_Return);
        QCOMPARE(d->focusWidget()->objectName(), to);
    }

    void enterInBox4AppliesOtherKeysDoNothing()
    {
        writeIni(kAllAccounts);
        auto d = openDialog();
        fill(d.get(), {}, true);
        QTest::keyClick(get<QWidget>(d.get(), "Text1"), Qt::Key_Return);
        QTest::keyClick(get<QWidget>(d.get(), "Text1"), Qt::Key_Escape);
        QTest::keyClick(d.get(), Qt::Key_Escape);
        QVERIFY(d->isVisible());
        Boxes boxes({QMessageBox::No});
        QTest::keyClick(box(d.get(), 4), Qt::Key_Enter);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, QStringLiteral("設定を変更しますか？"));
    }

    void applyWritesSelectedAccountAndGlobalsOnly()
    {
        writeIni(kAllAccounts);
        const QByteArray before = iniBytes();
        auto d = openDialog();
        auto* combo = get<QComboBox>(d.get(), "Combo1");
        combo->setCurrentIndex(1);
        box(d.get(), 0)->setText(QStringLiteral("viewed but not applied"));
        combo->setCurrentIndex(3);
        get<QLineEdit>(d.get(), "Text1")->setText(QStringLiteral(" 新名 "));
        fill(d.get(), {" pop4.new ", "u4n", "p4n", "5x", "3"}, true);
        Boxes boxes({QMessageBox::Yes, QMessageBox::Ok});
        click(d.get(), 0);
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(boxes.shown[1].text, QStringLiteral("変更内容は次回起動時から有効になります"));
        QCOMPARE(boxes.shown[1].title, QStringLiteral("Ferrowick"));
        QVERIFY(!d->isVisible());
        QCOMPARE(d->result(), int(QDialog::Accepted));

        QCOMPARE(value("POP", "POP_SERVER4"), QStringLiteral("pop4.new"));
        QCOMPARE(value("POP", "PASS4"), QStringLiteral("p4n"));
        QCOMPARE(value("POP", "NAME4"), QStringLiteral("新名#"));
        QCOMPARE(value("MAIL_REV", "REV_TIMER_MIN"), QStringLiteral("5x"));
        QCOMPARE(value("MAIL_REV", "UNLOAD_TIMER_SEC"), QStringLiteral("3"));
        QCOMPARE(value("ABOUT_PALAM", "UNLOAD_FLAG"), QStringLiteral("1"));
        for (const char* k : {"1", "2", "3", "5"}) {
            QCOMPARE(value("POP", QStringLiteral("POP_SERVER") + k), QStringLiteral("pop") + k);
            QCOMPARE(value("POP", QStringLiteral("PASS") + k), QStringLiteral("p") + k);
        }
        QVERIFY(iniBytes() != before);
    }

    void deleteAccount_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void deleteAccount()
    {
        QFETCH(bool, yes);
        writeIni(kAllAccounts);
        const QByteArray before = iniBytes();
        auto d = openDialog();
        get<QComboBox>(d.get(), "Combo1")->setCurrentIndex(1);
        Boxes boxes({yes ? QMessageBox::Yes : QMessageBox::No, QMessageBox::Ok});
        click(d.get(), 2);
        QCOMPARE(boxes.shown.value(0).text, QStringLiteral("アカウント②を削除しますか？"));
        QCOMPARE(boxes.shown.value(0).title, QStringLiteral("Ferrowick"));
        if (!yes) {
            QCOMPARE(boxes.shown.size(), 1);
            QVERIFY(d->isVisible());
            QCOMPARE(iniBytes(), before);
            return;
        }
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(boxes.shown[1].text, QStringLiteral("アカウント②を削除しました"));
        QVERIFY(!d->isVisible());
        const QByteArray after = iniBytes();
        for (const char* key : {"POP_SERVER2=\n", "USER2=\n", "PASS2=\n", "NAME2=\n"})
            QVERIFY2(after.contains(key), key);
        QCOMPARE(value("POP", "POP_SERVER3"), QStringLiteral("pop3"));
        QCOMPARE(value("MAIL_REV", "REV_TIMER_MIN"), QStringLiteral("30"));
    }

    void failedWriteKeepsDialogOpen_data()
    {
        QTest::addColumn<bool>("apply");
        QTest::addColumn<bool>("diskFull"); // otherwise the settings folder is a regular file
        QTest::addColumn<QString>("error");
        QTest::newRow("apply, disk full") << true << true << "設定を保存できませんでした。";
        QTest::newRow("apply, no folder") << true << false << "設定を保存できませんでした。";
        QTest::newRow("delete, disk full") << false << true << "アカウント②の削除を保存できませんでした。";
        QTest::newRow("delete, no folder") << false << false << "アカウント②の削除を保存できませんでした。";
    }
    void failedWriteKeepsDialogOpen()
    {
        QFETCH(bool, apply);
        QFETCH(bool, diskFull);
        QFETCH(QString, error);
        writeIni(kAllAccounts);
        const QByteArray before = iniBytes();
        auto d = openDialog();
        // The file goes unwritable while the dialog is open.
        std::optional<FileSizeLimit> fullDisk;
        if (diskFull) fullDisk.emplace(3);
        else mReadINI::IniPath = dir_->filePath(QStringLiteral("maildata.ini/INI/maildata.ini"));
        get<QComboBox>(d.get(), "Combo1")->setCurrentIndex(1);
        fill(d.get(), {"srv", "usr", "secret-pw", "30", "7"}, true);
        Boxes boxes({QMessageBox::Yes, QMessageBox::Ok, QMessageBox::Ok});
        click(d.get(), apply ? 0 : 2);
        QCOMPARE(boxes.shown.size(), 2);
        QVERIFY2(boxes.shown[1].text.startsWith(error + "\n理由: "), qPrintable(boxes.shown[1].text));
        QVERIFY(!boxes.shown[1].text.contains("secret-pw"));
        QCOMPARE(boxes.shown[1].title, QStringLiteral("Ferrowick"));
        QCOMPARE(boxes.shown[1].icon, QMessageBox::NoIcon);
        QVERIFY(d->isVisible());
        QCOMPARE(box(d.get(), 2)->text(), QStringLiteral("secret-pw"));
        QCOMPARE(box(d.get(), 4)->text(), QStringLiteral("7"));
        fullDisk.reset();
        QFile stored(dir_->filePath(QStringLiteral("maildata.ini")));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), before);
    }

    void showModalReturnsOnceClosed_data()
    {
        QTest::addColumn<bool>("viaCancel");
        QTest::newRow("cancel") << true;
        QTest::newRow("window close") << false;
    }
    void showModalReturnsOnceClosed()
    {
        QFETCH(bool, viaCancel);
        writeIni(kAllAccounts);
        QString serverShown;
        QTimer::singleShot(0, this, [&] {
            auto* d = qobject_cast<fM_PALAM*>(QApplication::activeModalWidget());
            QVERIFY(d);
            serverShown = box(d, 0)->text();
            if (viaCancel) click(d, 1);
            else d->close();
        });
        fM_PALAM::ShowModal();
        QCOMPARE(serverShown, QStringLiteral("pop1"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY(!qobject_cast<fM_PALAM*>(w));
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "tst_settings_dialog.moc"
