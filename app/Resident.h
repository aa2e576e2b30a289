#pragma once
#include "app/CommandLine.h"

class SingleInstance;

// The two ways a start goes.

// Runs the resident on `programFolder` until it ends; returns the exit code. When `guard`
// holds the folder's lock, later starts' requests reach it through the guard.
int RunResident(int& argc, char** argv, const CommandLine& commandLine, const QString& programFolder,
                SingleInstance& guard);

// Hands `action` to the instance already running on `programFolder` and prints one line
// about it. Returns the exit code.
int HandOver(SingleInstance& guard, StartAction action, const QString& programFolder);
