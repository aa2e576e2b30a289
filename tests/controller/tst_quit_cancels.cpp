// 「終了」 (or SIGTERM, which runs it) while something waits on a server that never answers:
// a check in flight, or the settings dialog's 「接続テスト」. Either ends within a second.
#include "controller/RealMailLibrary.h"
#include "maillib/MailLibInternal.h"
#include "settings/ui/ConnectionTest.h"
#include "tests/controller/ControllerFixture.h"
#include "tests/maillib/FakePop3Server.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(ConnectionTest::Result)

class TestQuitCancels : public QObject, private ControllerFixture<RealMailLibrary> {
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        TearDown();
        maillib::internal::ResetState(); // also lifts the cancellation
    }
    void quitEndsWhatWaitsOnAServer_data();
    void quitEndsWhatWaitsOnAServer();
};

void TestQuitCancels::quitEndsWhatWaitsOnAServer_data()
{
    QTest::addColumn<bool>("connectionTest"); // else a check
    QTest::newRow("check in flight") << false;
    QTest::newRow("connection test") << true;
}

void TestQuitCancels::quitEndsWhatWaitsOnAServer()
{
    QFETCH(bool, connectionTest);
    qRegisterMetaType<ConnectionTest::Result>();
    maillib::internal::ResetState(); // the library's own bounds: ten seconds to connect
    FakePop3Server s;
    s.silent = true;
    QVERIFY(s.start());
    Options pool;
    pool.poolThreads = 5;
    SetUp([] { return std::make_unique<RealMailLibrary>(); }, pool);
    if (!connectionTest)
        writeSettingsFile("[POP]\nPOP_SERVER1=" + QByteArray::fromStdString(Plain(s)) + "\nUSER1=u\nPASS1=pw-secret\n");
    ctl_->Form_Load(programFolder());
    ConnectionTester tester;
    QSignalSpy tested(&tester, &ConnectionTester::Finished);
    if (connectionTest)
        tester.Start(QString::fromStdString(Plain(s)), QStringLiteral("u"), QStringLiteral("pw-secret"), {});
    QTRY_VERIFY(s.connections() >= 1);
    QTest::qWait(200); // waiting on the greeting now

    QElapsedTimer sinceQuit;
    sinceQuit.start();
    ctl_->mnuEnd_Click();
    if (connectionTest) {
        QTRY_COMPARE_WITH_TIMEOUT(tested.count(), 1, 1000);
        QCOMPARE(tested.at(0).at(0).value<ConnectionTest::Result>().status.kind,
                 maillib::AccountStatus::Kind::Cancelled);
    }
    QTRY_VERIFY_WITH_TIMEOUT(journal_.entries.contains(QStringLiteral("quit")), 1000);
    QVERIFY2(runner_->WaitForDone(1000), "a check worker still runs");
    QVERIFY2(sinceQuit.elapsed() < 1000, qPrintable(QString::number(sinceQuit.elapsed())));
}

QTEST_GUILESS_MAIN(TestQuitCancels)
#include "tst_quit_cancels.moc"
