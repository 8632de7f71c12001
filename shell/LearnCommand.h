// orvelane [/default] --learn-spam|--learn-ham PATH...: teaches every
// plug-in of Orvelane.ini that can learn from mail the user already has,
// with the settings and plug-ins a check would use, without a window and
// without the listener.
#pragma once

#include <string>
#include <vector>

// True when `args` (without the program name) ask for learning: the switch
// first, or after "/default".
bool IsLearnCommand(const std::vector<std::string>& args);

// Runs it. The progress and the closing summary go to standard error.
// 0 when at least one engine learned from at least one message; 1 when
// nothing was taught; 2 when the command is wrong, a PATH cannot be read, no
// settings file is found or none of its plug-ins can learn.
int RunLearnCommand(const std::vector<std::string>& args);
