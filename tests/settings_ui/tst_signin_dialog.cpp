// The settings dialog's sign-in row with a real keyring on a private bus
// (tests/fixtures/keyring-session unlocked): moving a password into the keyring and back,
// a locked keyring on 適用, and 「ログイン」 for OAuth2 providers' servers.
#include "platform/ProfileIni.h"
#include "settings/mReadINI.h"
#include "settings/ui/fM_PALAM.h"
#include "signin/AccountSecrets.h"
#include "tests/common/KeyringSession.h"
#include "tests/common/MessageBoxes.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString kPassword = QStringLiteral("dlg-pw-93e1");
const signin::AccountId kAccount{QStringLiteral("pop.example.jp"), QStringLiteral("taro")};

QString Pass1() { return ProfileIni::GetString(QStringLiteral("POP"), QStringLiteral("PASS1"), mReadINI::IniPath); }
} // namespace

class tst_signin_dialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void intoTheKeyringAndBack();
    void lockedKeyringKeepsTheFile();
    void portableCopyLeavesTheBoxUnticked();
    void loginShownForProviders_data();
    void loginShownForProviders();

private:
    // Opens the dialog and waits until the keyring has answered (box enabled, password read).
    std::unique_ptr<fM_PALAM> Open();
    void Apply(fM_PALAM* d, QList<Shown>* shown = nullptr);
    static QCheckBox* KeyringBox(QWidget* d) { return d->findChild<QCheckBox*>(QStringLiteral("KeyringBox")); }
    static QLineEdit* Box(QWidget* d, int i) { return d->findChild<QLineEdit*>(QStringLiteral("popServer_%1").arg(i)); }

    std::unique_ptr<QTemporaryDir> dir_;
};

void tst_signin_dialog::initTestCase() { QCOMPARE(KeyringSession::Mode(), QStringLiteral("unlocked")); }

void tst_signin_dialog::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    mReadINI::MailDir = dir_->path();
    mReadINI::IniPath = dir_->filePath(QStringLiteral("maildata.ini"));
    QFile f(mReadINI::IniPath);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("[POP]\nPOP_SERVER1=%1\nUSER1=%2\nPASS1=%3\nNAME1=仕事#\n[MAIL_REV]\nREV_TIMER_MIN=30\n")
                .arg(kAccount.server, kAccount.user, kPassword)
                .toUtf8());
    QCOMPARE(signin::RemovePassword(kAccount).status, Keyring::Status::Ok);
}

std::unique_ptr<fM_PALAM> tst_signin_dialog::Open()
{
    auto d = std::make_unique<fM_PALAM>();
    d->show();
    (void)QTest::qWaitFor([&] { return KeyringBox(d.get())->isEnabled(); }, 10000);
    return d;
}

void tst_signin_dialog::Apply(fM_PALAM* d, QList<Shown>* shown)
{
    Boxes boxes({QMessageBox::Yes, QMessageBox::Ok});
    QTest::mouseClick(d->findChild<QWidget*>(QStringLiteral("Label2_0")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!d->isVisible(), 15000);
    if (shown) *shown = boxes.shown;
}

void tst_signin_dialog::intoTheKeyringAndBack()
{
    // Ticked by default where a keyring answers; 適用 moves the password and empties PASS1.
    auto d = Open();
    QVERIFY(KeyringBox(d.get())->isEnabled());
    QCOMPARE(KeyringBox(d.get())->text(), QStringLiteral("パスワードを鍵束に保存"));
    QVERIFY(KeyringBox(d.get())->isChecked());
    Apply(d.get());
    QCOMPARE(Pass1(), QString());
    QVERIFY(!ProfileIni::GetString(QStringLiteral("POP"), QStringLiteral("POP_SERVER1"), mReadINI::IniPath).isEmpty());
    QCOMPARE(signin::ReadPassword(kAccount).secret, kPassword);

    // Opened again, the password comes from the keyring; unticking moves it back to the file.
    d = Open();
    QTRY_COMPARE_WITH_TIMEOUT(Box(d.get(), 2)->text(), kPassword, 10000);
    QVERIFY(KeyringBox(d.get())->isChecked());
    KeyringBox(d.get())->setChecked(false);
    Apply(d.get());
    QCOMPARE(Pass1(), kPassword);
    QCOMPARE(signin::ReadPassword(kAccount).status, Keyring::Status::NotFound);
}

void tst_signin_dialog::lockedKeyringKeepsTheFile()
{
    auto d = Open();
    QVERIFY(KeyringSession::Lock());
    QList<Shown> shown;
    Apply(d.get(), &shown);
    QCOMPARE(Pass1(), kPassword);
    QCOMPARE(shown.size(), 2);
    QVERIFY2(shown[1].text.contains(QStringLiteral("鍵束がロックされている")), qPrintable(shown[1].text));
    QVERIFY(KeyringSession::Unlock());
}

void tst_signin_dialog::portableCopyLeavesTheBoxUnticked()
{
    // A maildata folder beside the executable may travel to another machine and its keyring.
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/maildata");
    QVERIFY2(!QDir(beside).exists(), "a maildata folder is in the way");
    QVERIFY(QDir().mkpath(beside));
    mReadINI::MailDir = beside;
    auto d = Open();
    const bool enabled = KeyringBox(d.get())->isEnabled(), ticked = KeyringBox(d.get())->isChecked();
    d.reset();
    QDir(beside).removeRecursively();
    QVERIFY(enabled);
    QVERIFY(!ticked);
}

void tst_signin_dialog::loginShownForProviders_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("shown");
    QTest::newRow("Microsoft 365") << "outlook.office365.com" << true;
    QTest::newRow("Gmail") << "pop3s://pop.gmail.com" << true;
    QTest::newRow("Japanese ISP") << "pop.example.jp" << false;
    QTest::newRow("empty") << "" << false;
}

void tst_signin_dialog::loginShownForProviders()
{
    QFETCH(QString, server);
    QFETCH(bool, shown);
    auto d = Open();
    auto* login = d->findChild<QWidget*>(QStringLiteral("LoginLabel"));
    Box(d.get(), 0)->setText(server);
    QCOMPARE(login->isVisible(), shown);
    if (server != QStringLiteral("outlook.office365.com")) return;
    // This build has no client id of its own (the CMake cache variable is empty by default).
    Boxes boxes({QMessageBox::Ok});
    QTest::mouseClick(login, Qt::LeftButton);
    QTRY_COMPARE(boxes.shown.size(), 1);
    QCOMPARE(boxes.shown[0].text, QStringLiteral("このビルドには Microsoft のクライアント ID がありません"));
}

QTEST_MAIN(tst_signin_dialog)
#include "tst_signin_dialog.moc"
