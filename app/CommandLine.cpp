#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <array>
#include <cstdio>

namespace {

struct ActionOption {
    StartAction action;
    const char* name;
    const char* description;
};

const std::array<ActionOption, 4> kActionOptions = {{
    {StartAction::Open, "open",
     "Show the post box of the running instance (the menu's 開く). This is what a start does "
     "when an instance already runs."},
    {StartAction::Check, "check", "Check for new mail now (最新メール受信)."},
    {StartAction::Settings, "settings", "Open the settings dialog (プロパティ); starts the program when none runs."},
    {StartAction::Quit, "quit", "End the running instance (終了). Exits 1 when none runs."},
}};

QString usageText(const QCommandLineParser& parser)
{
    // The parser names the program after argv[0] of an application object; there is none yet.
    QString text = parser.helpText();
    const qsizetype firstLineEnd = text.indexOf(QLatin1Char('\n'));
    text.replace(0, firstLineEnd, QStringLiteral("Usage: ferrowick [options]"));
    return text;
}

CommandLine usageError(const QString& why, const QCommandLineParser& parser)
{
    CommandLine result;
    result.outcome = CommandLine::Outcome::UsageError;
    result.message = QStringLiteral("ferrowick: %1\n\n%2").arg(why, usageText(parser));
    return result;
}

} // namespace

CommandLine ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Ferrowick: a resident POP3 mail checker in the notification area.\n"
                       "A start while an instance already runs on the same program folder hands its request to "
                       "that instance and exits."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption folder(QStringLiteral("folder"),
                                    QStringLiteral("Use DIR as the program folder (the one that holds maildata/)."),
                                    QStringLiteral("DIR"));
    // scripts/run's demo: the program calls itself 「Ferrowick（デモ）」. Not for users.
    QCommandLineOption demo(QStringLiteral("demo"), QStringLiteral("Call the program 「Ferrowick（デモ）」."));
    demo.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(folder);
    for (const ActionOption& a : kActionOptions)
        parser.addOption(QCommandLineOption(QString::fromLatin1(a.name), QString::fromUtf8(a.description)));
    parser.addOption(demo);

    if (!parser.parse(arguments)) return usageError(parser.errorText(), parser);
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()),
                          parser);

    CommandLine result;
    if (parser.isSet(help)) {
        result.outcome = CommandLine::Outcome::Help;
        result.message = usageText(parser);
        return result;
    }
    if (parser.isSet(version)) {
        result.outcome = CommandLine::Outcome::Version;
        result.message = QStringLiteral("ferrowick " FW_VERSION "\n");
        return result;
    }
    int actions = 0;
    for (const ActionOption& a : kActionOptions) {
        if (!parser.isSet(QString::fromLatin1(a.name))) continue;
        result.action = a.action;
        ++actions;
    }
    if (actions > 1)
        return usageError(QStringLiteral("give at most one of --open, --check, --settings and --quit"), parser);
    if (parser.values(folder).size() > 1) return usageError(QStringLiteral("--folder given more than once"), parser);
    if (parser.isSet(folder)) {
        const QString dir = parser.value(folder);
        if (dir.isEmpty()) return usageError(QStringLiteral("--folder needs a folder"), parser);
        // A mistyped folder would otherwise become a new, empty program folder.
        if (!QFileInfo(dir).isDir()) return usageError(QStringLiteral("no such folder: %1").arg(dir), parser);
        result.folder = QDir::cleanPath(QDir(dir).absolutePath());
    }
    result.demo = parser.isSet(demo);
    return result;
}

int ReportOutcome(const CommandLine& commandLine)
{
    const QByteArray text = commandLine.message.toLocal8Bit();
    if (commandLine.outcome == CommandLine::Outcome::UsageError) {
        std::fputs(text.constData(), stderr);
        return 2;
    }
    std::fputs(text.constData(), stdout);
    return 0;
}

QString ActionWord(StartAction action)
{
    switch (action) {
    case StartAction::Run:
        return QStringLiteral("run");
    case StartAction::Open:
        return QStringLiteral("open");
    case StartAction::Check:
        return QStringLiteral("check");
    case StartAction::Settings:
        return QStringLiteral("settings");
    case StartAction::Quit:
        return QStringLiteral("quit");
    }
    return {};
}

std::optional<StartAction> ActionFromWord(const QString& word)
{
    for (StartAction a :
         {StartAction::Run, StartAction::Open, StartAction::Check, StartAction::Settings, StartAction::Quit})
        if (ActionWord(a) == word) return a;
    return std::nullopt;
}
