// orvelane [/default] --check PATH...: judges mail the user already has with
// the rule file and the plug-ins of Orvelane.ini, through the analysis a mail
// check runs, without a window, a listener or any mail server.
#pragma once

#include <string>
#include <vector>

// True when `args` (without the program name) ask for a check: the switch
// first, or after "/default".
bool IsCheckCommand(const std::vector<std::string>& args);

// Runs it: one line per message on standard output, its name (the file, or
// "mbox:N"), a tab, "spam" or "ham", and for a spam a tab and what fired
// ("Trust" for a known sender); then one summary line. The core's own log lines and
// the problems met go to standard error. 0 when every PATH was read; 2 when
// the command is wrong or a PATH cannot be read (nothing is checked then).
int RunCheckCommand(const std::vector<std::string>& args);
