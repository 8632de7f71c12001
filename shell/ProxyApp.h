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

    CMainDialog m_dialog;
};
