// fwmail check stopped from the terminal: it ends promptly, by the signal it was sent, and
// leaves no temporary folder behind (a copy of the user's CA file, fetched mails).
#include "tests/maillib/FakePop3Server.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

class TestFwmailInterrupted : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void leavesNoTemporaryFolder_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl+C") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }

    void leavesNoTemporaryFolder()
    {
        QFETCH(int, signal);
        FakePop3Server s;
        s.silent = true; // the check hangs on the greeting
        QVERIFY(s.start());
        QTemporaryDir temp;
        QFile ca(temp.filePath(QStringLiteral("ca.pem")));
        QVERIFY(ca.open(QIODevice::WriteOnly));
        ca.write("not a certificate, only copied\n");
        ca.close();

        QProcess fwmail;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), temp.path());
        fwmail.setProcessEnvironment(env);
        fwmail.start(qEnvironmentVariable("FW_FWMAIL"), {"check", "--password-stdin", "--cafile", ca.fileName(),
                                                         QString::fromStdString(Plain(s)), "u@example.jp"});
        QVERIFY(fwmail.waitForStarted());
        fwmail.write("secret\n");
        fwmail.closeWriteChannel();
        QTRY_VERIFY(s.connections() >= 1);
        const QStringList made = QDir(temp.path()).entryList({QStringLiteral("fwmail-*")}, QDir::Dirs);
        QCOMPARE(made.size(), 1);

        ::kill(static_cast<pid_t>(fwmail.processId()), signal);
        QVERIFY2(fwmail.waitForFinished(3000), "fwmail did not end");
        QCOMPARE(fwmail.exitStatus(), QProcess::CrashExit);
        QCOMPARE(fwmail.exitCode(), signal);
        QCOMPARE(QDir(temp.path()).entryList({QStringLiteral("fwmail-*")}, QDir::Dirs | QDir::Hidden), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestFwmailInterrupted)
#include "tst_fwmail_interrupted.moc"
