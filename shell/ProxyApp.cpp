#include "shell/ProxyApp.h"

#include "base/Paths.h"
#include "base/Win1252.h"
#include "shell/CheckCommand.h"
#include "shell/LearnCommand.h"

bool CProxyApp::IsDefaultSwitch(const std::vector<std::string>& args)
{
    return args.size() == 1 && w1252::EqualsNoCase(args[0], "/default");
}

const char CProxyApp::kHelpText[] =
    "Usage: orvelane [--headless] [/default]\n"
    "       orvelane [/default] --learn-spam|--learn-ham PATH...\n"
    "       orvelane [/default] --check PATH...\n"
    "A spam filter for POP3 mail that runs as a local POP3 proxy: point the mail client at\n"
    "this machine (ListenAddress, ListenPort) and log in as usual, or as user(host:port).\n"
    "\n"
    "  /default    read Orvelane.ini, blacklist.txt and mail.txt from the configuration\n"
    "              folder ($XDG_CONFIG_HOME/orvelane) only, not the current directory\n"
    "  --headless  run without a window even when a display is available (the\n"
    "              window needs one; without it Orvelane always runs this way)\n"
    "  --learn-spam PATH...  teach every plug-in of Orvelane.ini that can learn that\n"
    "  --learn-ham PATH...   the messages under each PATH are spam (or not spam), and exit;\n"
    "              a PATH is a message file, a Maildir folder (cur/, new/), a folder of\n"
    "              message files or an mbox file. Messages over 10 MB are skipped.\n"
    "              The plug-ins are loaded as a check loads them; no window, no listener.\n"
    "              Exit status 0 when something was taught, 1 when nothing was, 2 when a\n"
    "              PATH cannot be read or no configured plug-in can learn\n"
    "  --check PATH...  judge the messages under each PATH (as above) with blacklist.txt\n"
    "              and the plug-ins of Orvelane.ini, as a mail check would, and exit: one\n"
    "              line per message (name, TAB, spam or ham, TAB, the filter and rule that\n"
    "              fired; an mbox's messages are named PATH:N), then a summary line.\n"
    "              No network, no listener. Exit status 0, or 2 when a PATH cannot be read\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "The activity log goes to standard output (and to the window); SIGINT or SIGTERM\n"
    "ends the program, and so does \"Quitter\" in the window or its icon's menu.\n";
const char CProxyApp::kVersionText[] = "orvelane 2.20\n";

CProxyApp::ECommand CProxyApp::ReadCommandLine(const std::vector<std::string>& args)
{
    if (args.empty() || IsDefaultSwitch(args))
        return ECommand::kRun;
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h"))
        return ECommand::kHelp;
    if (IsLearnCommand(args))
        return ECommand::kLearn;
    if (IsCheckCommand(args))
        return ECommand::kCheck;
    if (args.size() == 1 && args[0] == "--version")
        return ECommand::kVersion;
    return ECommand::kUnknown;
}

bool CProxyApp::InitInstance(const std::vector<std::string>& args)
{
    // "/default": the files named without a folder are taken from the
    // configuration folder.
    if (IsDefaultSwitch(args))
        SetCurrentDirectory(ConfigFolder());
    return m_dialog.OnInitDialog();
}
