#include "app/CommandLine.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(CommandLine::Outcome)
Q_DECLARE_METATYPE(StartAction)

class TestCommandLine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void options_data();
    void options();
    void folderIsMadeAbsolute();
    void usageNamesTheProblemAndListsTheOptions();
    void actionWordsRoundTrip();
};

void TestCommandLine::options_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<CommandLine::Outcome>("outcome");
    QTest::addColumn<StartAction>("action");
    QTest::addColumn<bool>("demo");
    using O = CommandLine::Outcome;
    using A = StartAction;
    QTest::newRow("nothing: run") << QStringList{} << O::Start << A::Run << false;
    QTest::newRow("--open") << QStringList{"--open"} << O::Start << A::Open << false;
    QTest::newRow("--check") << QStringList{"--check"} << O::Start << A::Check << false;
    QTest::newRow("--settings") << QStringList{"--settings"} << O::Start << A::Settings << false;
    QTest::newRow("--quit") << QStringList{"--quit"} << O::Start << A::Quit << false;
    QTest::newRow("--demo") << QStringList{"--demo"} << O::Start << A::Run << true;
    QTest::newRow("--help") << QStringList{"--help"} << O::Help << A::Run << false;
    QTest::newRow("-h") << QStringList{"-h"} << O::Help << A::Run << false;
    QTest::newRow("--version") << QStringList{"--version"} << O::Version << A::Run << false;
    QTest::newRow("-v") << QStringList{"-v"} << O::Version << A::Run << false;
    QTest::newRow("help wins over an action") << QStringList{"--quit", "--help"} << O::Help << A::Run << false;
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << O::UsageError << A::Run << false;
    QTest::newRow("unknown short option") << QStringList{"-x"} << O::UsageError << A::Run << false;
    QTest::newRow("stray argument") << QStringList{"open"} << O::UsageError << A::Run << false;
    QTest::newRow("two actions") << QStringList{"--check", "--quit"} << O::UsageError << A::Run << false;
    QTest::newRow("--folder without a value") << QStringList{"--folder"} << O::UsageError << A::Run << false;
    QTest::newRow("--folder empty") << QStringList{"--folder", ""} << O::UsageError << A::Run << false;
    QTest::newRow("--folder missing") << QStringList{"--folder", "/nonexistent/ferrowick"} << O::UsageError << A::Run
                                      << false;
    QTest::newRow("--folder twice") << QStringList{"--folder", "/", "--folder", "/tmp"} << O::UsageError << A::Run
                                    << false;
    QTest::newRow("--folder and an action")
        << QStringList{"--folder=/", "--settings"} << O::Start << A::Settings << false;
}

void TestCommandLine::options()
{
    QFETCH(QStringList, args);
    QFETCH(CommandLine::Outcome, outcome);
    QFETCH(StartAction, action);
    QFETCH(bool, demo);
    const CommandLine cl = ParseCommandLine(QStringList{QStringLiteral("ferrowick")} + args);
    QCOMPARE(cl.outcome, outcome);
    if (outcome == CommandLine::Outcome::Start) {
        QCOMPARE(cl.action, action);
        QCOMPARE(cl.demo, demo);
        QVERIFY(cl.message.isEmpty());
    } else {
        QVERIFY(!cl.message.isEmpty());
    }
    if (outcome == CommandLine::Outcome::Version) QCOMPARE(cl.message, QStringLiteral("ferrowick " FW_VERSION "\n"));
}

void TestCommandLine::folderIsMadeAbsolute()
{
    QTemporaryDir tmp;
    QDir().mkpath(tmp.filePath(QStringLiteral("prog")));
    const QString saved = QDir::currentPath();
    QDir::setCurrent(tmp.path());
    const CommandLine cl =
        ParseCommandLine({QStringLiteral("ferrowick"), QStringLiteral("--folder"), QStringLiteral("./prog/")});
    QDir::setCurrent(saved);
    QCOMPARE(cl.outcome, CommandLine::Outcome::Start);
    QCOMPARE(cl.folder, QDir::cleanPath(tmp.filePath(QStringLiteral("prog"))));
    QCOMPARE(ParseCommandLine({QStringLiteral("ferrowick")}).folder, QString());
}

void TestCommandLine::usageNamesTheProblemAndListsTheOptions()
{
    const CommandLine cl = ParseCommandLine({QStringLiteral("ferrowick"), QStringLiteral("--frobnicate")});
    QVERIFY2(cl.message.startsWith(QStringLiteral("ferrowick: ")), qPrintable(cl.message));
    QVERIFY(cl.message.contains(QStringLiteral("frobnicate")));
    for (const char* option : {"--folder", "--open", "--check", "--settings", "--quit", "--help", "--version"})
        QVERIFY2(cl.message.contains(QLatin1String(option)), option);
    // The demo's option is scripts/run's business, not the user's.
    QVERIFY(!cl.message.contains(QLatin1String("--demo")));
    QVERIFY(!ParseCommandLine({QStringLiteral("ferrowick"), QStringLiteral("--help")})
                 .message.contains(QLatin1String("--demo")));
    // The help names the program, not whatever argv[0] an application object would supply.
    QVERIFY(ParseCommandLine({QStringLiteral("x"), QStringLiteral("-h")})
                .message.startsWith(QStringLiteral("Usage: ferrowick")));
}

void TestCommandLine::actionWordsRoundTrip()
{
    for (StartAction a :
         {StartAction::Run, StartAction::Open, StartAction::Check, StartAction::Settings, StartAction::Quit})
        QCOMPARE(ActionFromWord(ActionWord(a)), std::optional<StartAction>(a));
    QCOMPARE(ActionFromWord(QStringLiteral("OPEN")), std::nullopt);
    QCOMPARE(ActionFromWord(QString()), std::nullopt);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
