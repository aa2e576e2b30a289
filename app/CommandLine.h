#pragma once
#include <QString>
#include <QStringList>
#include <optional>

// What a start of the program asks for. Every action but Run is also something a later start
// can ask of an instance already running on the same program folder.
enum class StartAction { Run, Open, Check, Settings, Quit };

struct CommandLine {
    enum class Outcome { Start, Help, Version, UsageError };
    Outcome outcome = Outcome::Start;
    StartAction action = StartAction::Run;
    QString folder; // --folder as an absolute path; empty: the default program folder
    bool demo = false;
    QString message; // Help, Version, UsageError: the text to print
};

// `arguments` starts with the program's own name, as argv does.
CommandLine ParseCommandLine(const QStringList& arguments);

// Prints the message of a Help, Version or UsageError outcome and returns the exit code.
int ReportOutcome(const CommandLine& commandLine);

// The word that carries an action to a running instance, and back.
QString ActionWord(StartAction action);
std::optional<StartAction> ActionFromWord(const QString& word);
