// The keyring wrapper against a real GNOME Keyring on a private bus (tests/fixtures/
// keyring-session): open, locked at start, and absent.
#include "platform/Keyring.h"
#include "tests/common/KeyringSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QtTest>

#include <thread>

using Keyring::Status;
Q_DECLARE_METATYPE(Keyring::Status)

namespace {
const QString kSecret = QStringLiteral("kr-secret-7f3a9c");
enum class Op { Read, Write, Remove };
} // namespace
Q_DECLARE_METATYPE(Op)

class tst_keyring : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answers_data();
    void answers();
    void workerWithoutEventLoop();
    void lockedAsksOnceAndAnswersAtOnce();
    void unlockedLaterReadsAgain();
    void secretStaysOutOfFiles();
};

void tst_keyring::answers_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<Op>("op");
    QTest::addColumn<QString>("key");
    QTest::addColumn<Status>("expected");
    // In order: later rows read what earlier rows wrote.
    QTest::newRow("open: write") << "unlocked" << Op::Write << "acct-a" << Status::Ok;
    QTest::newRow("open: read back") << "unlocked" << Op::Read << "acct-a" << Status::Ok;
    QTest::newRow("open: overwrite") << "unlocked" << Op::Write << "acct-a" << Status::Ok;
    QTest::newRow("open: missing item") << "unlocked" << Op::Read << "acct-none" << Status::NotFound;
    QTest::newRow("open: remove") << "unlocked" << Op::Remove << "acct-a" << Status::Ok;
    QTest::newRow("open: removed behind our back") << "unlocked" << Op::Read << "acct-a" << Status::NotFound;
    QTest::newRow("open: remove twice") << "unlocked" << Op::Remove << "acct-a" << Status::Ok;
    QTest::newRow("locked: read") << "locked" << Op::Read << "acct-a" << Status::Locked;
    QTest::newRow("locked: write") << "locked" << Op::Write << "acct-a" << Status::Locked;
    QTest::newRow("locked: remove") << "locked" << Op::Remove << "acct-a" << Status::Locked;
    QTest::newRow("none: read") << "none" << Op::Read << "acct-a" << Status::NoService;
    QTest::newRow("none: write") << "none" << Op::Write << "acct-a" << Status::NoService;
}

void tst_keyring::answers()
{
    QFETCH(QString, mode);
    QFETCH(Op, op);
    QFETCH(QString, key);
    QFETCH(Status, expected);
    if (mode != KeyringSession::Mode()) QSKIP("for another keyring state");
    QCOMPARE(Keyring::Available(), mode != QStringLiteral("none"));
    const Keyring::Result r = op == Op::Read    ? Keyring::Read(key)
                              : op == Op::Write ? Keyring::Write(key, kSecret)
                                                : Keyring::Remove(key);
    QCOMPARE(r.status, expected);
    QCOMPARE(r.secret, op == Op::Read && expected == Status::Ok ? kSecret : QString());
    QVERIFY(!r.detail.contains(kSecret));
}

void tst_keyring::workerWithoutEventLoop()
{
    if (KeyringSession::Mode() != QStringLiteral("unlocked")) QSKIP("needs an open keyring");
    // Pool workers and push watchers have no event loop; the calls must not need one.
    Keyring::Result written, read;
    std::thread worker([&] {
        written = Keyring::Write(QStringLiteral("acct-thread"), kSecret);
        read = Keyring::Read(QStringLiteral("acct-thread"));
    });
    worker.join();
    QCOMPARE(written.status, Status::Ok);
    QCOMPARE(read.status, Status::Ok);
    QCOMPARE(read.secret, kSecret);
    QCOMPARE(Keyring::Remove(QStringLiteral("acct-thread")).status, Status::Ok);
}

void tst_keyring::lockedAsksOnceAndAnswersAtOnce()
{
    if (KeyringSession::Mode() != QStringLiteral("locked")) QSKIP("needs a keyring locked at start");
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        QCOMPARE(Keyring::Read(QStringLiteral("acct-a")).status, Status::Locked);
        QVERIFY2(t.elapsed() < 2000, "a locked keyring must not hold a check up");
    }
    QCOMPARE(Keyring::UnlockPromptsAsked(), 1);
}

void tst_keyring::unlockedLaterReadsAgain()
{
    if (KeyringSession::Mode() != QStringLiteral("unlocked")) QSKIP("needs an open keyring");
    QCOMPARE(Keyring::Write(QStringLiteral("acct-lock"), kSecret).status, Status::Ok);
    QVERIFY(KeyringSession::Lock());
    QCOMPARE(Keyring::Read(QStringLiteral("acct-lock")).status, Status::Locked);
    QCOMPARE(Keyring::Read(QStringLiteral("acct-lock")).status, Status::Locked);
    QVERIFY(KeyringSession::Unlock());
    const Keyring::Result again = Keyring::Read(QStringLiteral("acct-lock"));
    QCOMPARE(again.status, Status::Ok);
    QCOMPARE(again.secret, kSecret);
    QCOMPARE(Keyring::UnlockPromptsAsked(), 1);
}

void tst_keyring::secretStaysOutOfFiles()
{
    if (KeyringSession::Mode() != QStringLiteral("unlocked")) QSKIP("needs an open keyring");
    QCOMPARE(Keyring::Write(QStringLiteral("acct-files"), kSecret).status, Status::Ok);
    // The keyring's own file is encrypted; nothing else in HOME may hold the secret.
    QCOMPARE(KeyringSession::FilesHolding(QDir::homePath(), kSecret.toUtf8()), QStringList());
}

QTEST_GUILESS_MAIN(tst_keyring)
#include "tst_keyring.moc"
