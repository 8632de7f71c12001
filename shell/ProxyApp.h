// The application object: applies the command line, creates the hub and runs
// its start-up sequence.
#pragma once

#include "shell/MainDialog.h"

#include <string>
#include <vector>

class CProxyApp
{
public:
    // `args` without the program name. Returns false when the process must end
    // before any window exists.
    bool InitInstance(const std::vector<std::string>& args);

    // True for exactly one argument equal to "/default" without regard to case.
    static bool IsDefaultSwitch(const std::vector<std::string>& args);

    // What the command line asks for: to run (no argument, or "/default"),
    // the help or the version text, learning from mail files
    // ([/default] --learn-spam|--learn-ham PATH...), checking mail files
    // ([/default] --check PATH...), or nothing it knows (an error).
    enum class ECommand { kRun, kHelp, kVersion, kLearn, kCheck, kUnknown };
    static ECommand ReadCommandLine(const std::vector<std::string>& args);
    static const char kHelpText[];
    static const char kVersionText[];

    CMainDialog m_dialog;
};
