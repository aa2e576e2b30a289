#include "tests/common/DiskFaults.h"
#include "settings/NumberText.h"
#include "settings/ProgramFolder.h"
#include "platform/ProfileIni.h"
#include "platform/TextCodec.h"
#include "settings/mReadINI.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {
void writeIni(const QByteArray& bytes)
{
    QFile f(mReadINI::IniPath);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray readIni()
{
    QFile f(mReadINI::IniPath);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Account {
    QString server, user, password, name;
};

Account readAccount(const QString& label)
{
    Account a;
    mReadINI::ReadAccountSettings(a.server, a.user, a.password, a.name, label);
    return a;
}

const QByteArray kFiveAccounts = "[POP]\r\n"
                                 "POP_SERVER1=s1\r\nUSER1=u1\r\nPASS1=p1\r\nNAME1=n1#\r\n"
                                 "POP_SERVER2=s2\r\nUSER2=u2\r\nPASS2=p2\r\nNAME2=n2#\r\n"
                                 "POP_SERVER3=s3\r\nUSER3=u3\r\nPASS3=p3\r\nNAME3=n3#\r\n"
                                 "POP_SERVER4=s4\r\nUSER4=u4\r\nPASS4=p4\r\nNAME4=n4#\r\n"
                                 "POP_SERVER5=s5\r\nUSER5=u5\r\nPASS5=p5\r\nNAME5=n5#\r\n"
                                 "[MAIL_REV]\r\nREV_TIMER_MIN=30\r\nUNLOAD_TIMER_SEC=20\r\n"
                                 "[ABOUT_PALAM]\r\nUNLOAD_FLAG=1\r\n";
} // namespace

class TestReadIni : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void residentNumbers_data();
    void residentNumbers();
    void dialogSeesStoredTexts_data();
    void dialogSeesStoredTexts();
    void displayName_data();
    void displayName();
    void mainSettingsGiveTrimmedReceiveFolder();
    void writeSettingsTouchesOnlyItsAccountAndGlobals();
    void clearAccountKeepsItsFourKeys();
    void writeFailureIsReported();
    void leadingNumberRule_data();
    void leadingNumberRule();
    void structFormsAgreeWithRoutines_data();
    void structFormsAgreeWithRoutines();
    void keyTableNamesEachKeyOnce();
    void programFolder_data();
    void programFolder();

private:
    QTemporaryDir dir_;
};

void TestReadIni::init()
{
    mReadINI::ResetForTests();
    mReadINI::IniPath = dir_.filePath(QStringLiteral("maildata.ini"));
    mReadINI::MailDir = QStringLiteral("  /opt/fw/maildata ");
    QFile::remove(mReadINI::IniPath);
}

void TestReadIni::residentNumbers_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("display");
    QTest::addColumn<int>("flag");
    QTest::newRow("no file") << QByteArray() << 5 << 10 << 0;
    QTest::newRow("sections missing") << QByteArray("[POP]\nUSER1=a\n") << 5 << 10 << 0;
    QTest::newRow("empty values") << QByteArray(
                                         "[MAIL_REV]\nREV_TIMER_MIN=\nUNLOAD_TIMER_SEC=\n[ABOUT_PALAM]\nUNLOAD_FLAG=\n")
                                  << 5 << 10 << 0;
    QTest::newRow("stored values")
        << QByteArray("[MAIL_REV]\nREV_TIMER_MIN=30\nUNLOAD_TIMER_SEC=7\n[ABOUT_PALAM]\nUNLOAD_FLAG=1\n") << 30 << 7
        << 1;
    QTest::newRow("half to even") << QByteArray("[MAIL_REV]\nREV_TIMER_MIN=3.5\nUNLOAD_TIMER_SEC=2.5\n") << 4 << 2 << 0;
    QTest::newRow("leading number") << QByteArray("[MAIL_REV]\nREV_TIMER_MIN=12abc\nUNLOAD_TIMER_SEC= 8 s\n") << 12 << 8
                                    << 0;
    QTest::newRow("letters give default")
        << QByteArray("[MAIL_REV]\nREV_TIMER_MIN=abc\nUNLOAD_TIMER_SEC=x1\n") << 5 << 10 << 0;
    QTest::newRow("out of 16-bit range")
        << QByteArray("[MAIL_REV]\nREV_TIMER_MIN=40000\nUNLOAD_TIMER_SEC=-32769\n[ABOUT_PALAM]\nUNLOAD_FLAG=32767\n")
        << 5 << 10 << 32767;
    QTest::newRow("negative") << QByteArray("[MAIL_REV]\nREV_TIMER_MIN=-3\n") << -3 << 10 << 0;
    QTest::newRow("garbage file") << QByteArray("\x00\x01\xff\xfe[[[=\n==", 12) << 5 << 10 << 0;
}

void TestReadIni::residentNumbers()
{
    QFETCH(QByteArray, file);
    QFETCH(int, interval);
    QFETCH(int, display);
    QFETCH(int, flag);
    if (!file.isEmpty()) writeIni(file);
    QString s, u, p, n, folder;
    qint16 gotInterval = -1, gotDisplay = -1, gotFlag = -1;
    mReadINI::ReadMainSettings(s, u, p, n, folder, gotInterval, gotDisplay);
    mReadINI::ReadDisplayFlags(gotFlag);
    QCOMPARE(int(gotInterval), interval);
    QCOMPARE(int(gotDisplay), display);
    QCOMPARE(int(gotFlag), flag);
}

void TestReadIni::dialogSeesStoredTexts_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("defaults") << QByteArray() << QStringList{"5", "10", "0"};
    QTest::newRow("as stored")
        << QByteArray("[MAIL_REV]\nREV_TIMER_MIN=5x\nUNLOAD_TIMER_SEC=2.5\n[ABOUT_PALAM]\nUNLOAD_FLAG=1\n")
        << QStringList{"5x", "2.5", "1"};
}

void TestReadIni::dialogSeesStoredTexts()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, texts);
    if (!file.isEmpty()) writeIni(file);
    QString s, u, p, n, interval, display, flag;
    mReadINI::ReadDialogSettings(s, u, p, n, interval, display, flag);
    QCOMPARE((QStringList{interval, display, flag}), texts);
}

void TestReadIni::displayName_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("name");
    QTest::newRow("with hash") << "会社#"
                               << "会社";
    QTest::newRow("first hash cuts") << "A#B#"
                                     << "A";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("hand-edited without hash") << "自宅"
                                              << "自宅";
    QTest::newRow("only hash") << "#"
                               << "";
}

void TestReadIni::displayName()
{
    QFETCH(QString, stored);
    QFETCH(QString, name);
    writeIni("[POP]\nNAME1=" + stored.toUtf8() + "\nNAME3=" + stored.toUtf8() + "\n");
    QString s, u, p, n, folder;
    qint16 i, d;
    mReadINI::ReadMainSettings(s, u, p, n, folder, i, d);
    QCOMPARE(n, name);
    QCOMPARE(readAccount(QStringLiteral("3")).name, name);
}

void TestReadIni::mainSettingsGiveTrimmedReceiveFolder()
{
    writeIni(kFiveAccounts);
    QString s, u, p, n, folder;
    qint16 i, d;
    mReadINI::ReadMainSettings(s, u, p, n, folder, i, d);
    QCOMPARE((QStringList{s, u, p, n, folder}), (QStringList{"s1", "u1", "p1", "n1", "/opt/fw/maildata"}));
    QCOMPARE(int(i), 30);
    QCOMPARE(int(d), 20);
}

void TestReadIni::writeSettingsTouchesOnlyItsAccountAndGlobals()
{
    writeIni(kFiveAccounts);
    QVERIFY(mReadINI::WriteSettings(QStringLiteral(" pop.new "), QStringLiteral("u"), QStringLiteral("secret "),
                                    QStringLiteral(" 会社 "), QStringLiteral(" 8"), QStringLiteral("0"),
                                    QStringLiteral("6 "), QStringLiteral("4")));
    const Account a4 = readAccount(QStringLiteral("4"));
    QCOMPARE((QStringList{a4.server, a4.user, a4.password, a4.name}), (QStringList{"pop.new", "u", "secret", "会社"}));
    QVERIFY(ProfileIni::GetString(QStringLiteral("POP"), QStringLiteral("NAME4"), mReadINI::IniPath) ==
            QStringLiteral("会社#"));
    for (const QString label : {"1", "2", "3", "5"}) {
        const Account a = readAccount(label);
        QCOMPARE(a.server, u's' + label);
        QCOMPARE(a.name, u'n' + label);
    }
    QString s, u, p, n, interval, display, flag;
    mReadINI::ReadDialogSettings(s, u, p, n, interval, display, flag);
    QCOMPARE((QStringList{interval, display, flag}), (QStringList{"8", "6", "0"}));
    // Everything else in the file is as it was.
    QString expected = QString::fromLatin1(kFiveAccounts);
    expected.replace(QStringLiteral("POP_SERVER4=s4\r\nUSER4=u4\r\nPASS4=p4\r\nNAME4=n4#"),
                     QStringLiteral("POP_SERVER4=pop.new\r\nUSER4=u\r\nPASS4=secret\r\nNAME4=会社#"));
    expected.replace(QStringLiteral("REV_TIMER_MIN=30\r\nUNLOAD_TIMER_SEC=20"),
                     QStringLiteral("REV_TIMER_MIN=8\r\nUNLOAD_TIMER_SEC=6"));
    expected.replace(QStringLiteral("UNLOAD_FLAG=1"), QStringLiteral("UNLOAD_FLAG=0"));
    // An all-ASCII file takes new text in UTF-8, as a new file does.
    QCOMPARE(QString::fromUtf8(readIni()), expected);
}

void TestReadIni::clearAccountKeepsItsFourKeys()
{
    writeIni(kFiveAccounts);
    QVERIFY(mReadINI::ClearAccountSettings(QStringLiteral("3")));
    const Account a3 = readAccount(QStringLiteral("3"));
    QCOMPARE((QStringList{a3.server, a3.user, a3.password, a3.name}), (QStringList{"", "", "", ""}));
    QVERIFY(readIni().contains("POP_SERVER3=\r\nUSER3=\r\nPASS3=\r\nNAME3=\r\n"));
    QCOMPARE(readAccount(QStringLiteral("2")).server, QStringLiteral("s2"));
    QVERIFY(readIni().contains("REV_TIMER_MIN=30"));
}

void TestReadIni::writeFailureIsReported()
{
    writeIni(kFiveAccounts);
    QString error;
    bool written = true, cleared = true;
    {
        const FileSizeLimit diskFull(10);
        written = mReadINI::WriteSettings(QStringLiteral("s"), QStringLiteral("u"), QStringLiteral("topsecret"),
                                          QStringLiteral("n"), QStringLiteral("5"), QStringLiteral("0"),
                                          QStringLiteral("3"), QStringLiteral("1"), &error);
        cleared = mReadINI::ClearAccountSettings(QStringLiteral("2"), nullptr);
    }
    QVERIFY(!written);
    QVERIFY(!cleared);
    QVERIFY(!error.isEmpty());
    QVERIFY(!error.contains(QStringLiteral("topsecret")));
    QCOMPARE(readIni(), kFiveAccounts);
}

void TestReadIni::leadingNumberRule_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("found");
    QTest::newRow("digits") << "05" << 5.0 << true;
    QTest::newRow("trailing letters") << "12abc" << 12.0 << true;
    QTest::newRow("letters") << "abc" << 0.0 << false;
    QTest::newRow("fraction") << "4.5" << 4.5 << true;
    QTest::newRow("blanks ignored") << " 1 2 " << 12.0 << true;
    QTest::newRow("sign") << "-7" << -7.0 << true;
    QTest::newRow("empty") << "" << 0.0 << false;
    QTest::newRow("second point stops") << "1.2.3" << 1.2 << true;
}

void TestReadIni::leadingNumberRule()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QFETCH(bool, found);
    bool gotFound = !found;
    QCOMPARE(NumberText::LeadingNumber(text, &gotFound), value);
    QCOMPARE(gotFound, found);
}

void TestReadIni::structFormsAgreeWithRoutines_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("five accounts") << kFiveAccounts;
    QTest::newRow("no file") << QByteArray();
    QTest::newRow("odd numbers") << QByteArray(
        "[MAIL_REV]\nREV_TIMER_MIN=12abc\nUNLOAD_TIMER_SEC=40000\n[ABOUT_PALAM]\nUNLOAD_FLAG=2.5\n");
    QTest::newRow("names with hashes") << QByteArray("[POP]\nNAME1=A#B#\nNAME4=x\nPASS4= p w \n");
}

void TestReadIni::structFormsAgreeWithRoutines()
{
    QFETCH(QByteArray, file);
    if (!file.isEmpty()) writeIni(file);

    QString s, u, p, n, folder;
    qint16 interval = -1, display = -1, flag = -1;
    mReadINI::ReadMainSettings(s, u, p, n, folder, interval, display);
    mReadINI::ReadDisplayFlags(flag);
    const mReadINI::MainSettings main = mReadINI::ReadMain();
    QCOMPARE((QStringList{main.account.server, main.account.user, main.account.password, main.account.displayName,
                          main.receiveFolder}),
             (QStringList{s, u, p, n, folder}));
    QCOMPARE(main.interval, interval);
    QCOMPARE(main.displaySeconds, display);
    QCOMPARE(mReadINI::ReadInterval(), interval);
    QCOMPARE(mReadINI::ReadDisplaySeconds(), display);
    QCOMPARE(mReadINI::ReadAutoClose(), flag);

    QString it, dt, ft;
    mReadINI::ReadDialogSettings(s, u, p, n, it, dt, ft);
    const mReadINI::DialogSettings dialog = mReadINI::ReadDialog();
    QCOMPARE((QStringList{dialog.account.server, dialog.account.user, dialog.account.password,
                          dialog.account.displayName, dialog.intervalText, dialog.displayText, dialog.autoCloseText}),
             (QStringList{s, u, p, n, it, dt, ft}));

    for (const QString label : {"1", "2", "4", "5"}) {
        const Account a = readAccount(label);
        const mReadINI::AccountSettings b = mReadINI::ReadAccount(label);
        QCOMPARE((QStringList{b.server, b.user, b.password, b.displayName}),
                 (QStringList{a.server, a.user, a.password, a.name}));
    }
}

void TestReadIni::keyTableNamesEachKeyOnce()
{
    QSet<QString> names;
    for (const SettingsKeys::Key& key : SettingsKeys::kTable) {
        QCOMPARE(int(SettingsKeys::Get(key.id).id), int(key.id));
        const QString name = SettingsKeys::Section(key.id) + u'/' + SettingsKeys::Name(key.id, QStringLiteral("1"));
        QVERIFY2(!names.contains(name), qPrintable(name));
        names.insert(name);
        QCOMPARE(SettingsKeys::DefaultText(key.id).isEmpty(), key.kind != SettingsKeys::Kind::Number);
    }
    QCOMPARE(names.size(), int(SettingsKeys::kTable.size()));
}

void TestReadIni::programFolder_data()
{
    QTest::addColumn<QString>("beside");      // "folder": maildata/ beside the executable; "file": a file of that name
    QTest::addColumn<QByteArray>("dataHome"); // XDG_DATA_HOME
    QTest::addColumn<QString>("expected");    // "exe", or a path below the fake home
    QTest::newRow("portable copy") << "folder" << QByteArray("/srv/share") << "exe";
    QTest::newRow("data home") << "" << QByteArray("/srv/share") << "/srv/share/ferrowick";
    QTest::newRow("a file is not a portable copy") << "file" << QByteArray("/srv/share") << "/srv/share/ferrowick";
    QTest::newRow("relative data home counts as unset") << "" << QByteArray("share") << "~/.local/share/ferrowick";
    QTest::newRow("no data home") << "" << QByteArray() << "~/.local/share/ferrowick";
}

void TestReadIni::programFolder()
{
    QFETCH(QString, beside);
    QFETCH(QByteArray, dataHome);
    QFETCH(QString, expected);
    QTemporaryDir exe;
    const QString home = dir_.filePath(QStringLiteral("home"));
    if (beside == QStringLiteral("folder")) QVERIFY(QDir(exe.path()).mkdir(QStringLiteral("maildata")));
    if (beside == QStringLiteral("file"))
        QVERIFY(QFile(exe.filePath(QStringLiteral("maildata"))).open(QIODevice::WriteOnly));
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", QFile::encodeName(home));
    if (dataHome.isNull()) qunsetenv("XDG_DATA_HOME");
    else qputenv("XDG_DATA_HOME", dataHome);
    const QString found = ProgramFolder::Find(exe.path());
    qputenv("HOME", savedHome);
    if (savedDataHome.isNull()) qunsetenv("XDG_DATA_HOME");
    else qputenv("XDG_DATA_HOME", savedDataHome);
    QCOMPARE(found, expected == QStringLiteral("exe") ? exe.path() : QString(expected).replace(u'~', home));
    QCOMPARE(ProgramFolder::SettingsFile(found), found + QStringLiteral("/maildata/INI/maildata.ini"));
}

QTEST_GUILESS_MAIN(TestReadIni)
#include "tst_mreadini.moc"
