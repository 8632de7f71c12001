// Running the program: the process-wide set-up every run shares, and the run
// without a window (the log on standard output, SIGINT or SIGTERM to end).
#pragma once

#include <string>
#include <vector>

class QCoreApplication;

// What the command line asks before any application object exists: run (the
// arguments for InitInstance in *runArgs, without "--headless"), or print the
// help or the version, or stop on an unknown argument. Returns -1 to run,
// else the exit status. *headless tells whether "--headless" was given.
int ReadProgramArguments(int argc, char** argv, std::vector<std::string>* runArgs, bool* headless);

// Allocation tuning and the event dispatcher choice; before the application
// object is made.
void TuneProcess(bool withWindow);

// SIGINT and SIGTERM end the event loop from inside it, so that every object
// is destroyed in order.
void InstallQuitSignals(QCoreApplication& app);
// True once SIGINT or SIGTERM has arrived: one that came while a start-up
// message box held its own event loop ends the program before its loop.
bool QuitSignalled();

// The program without a window. `args` as ReadProgramArguments gave them.
int RunHeadless(int argc, char** argv, const std::vector<std::string>& args);
