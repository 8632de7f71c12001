// orvelane: the POP3 spam-filtering proxy. With a display it runs with its
// window and notification-area icon; without one, or with --headless, it runs
// with the log on standard output until SIGINT or SIGTERM.
#include "shell/Headless.h"
#include "ui/DesktopApp.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args;
    bool headless = false;
    if (const int status = ReadProgramArguments(argc, argv, &args, &headless); status >= 0)
        return status;
    if (headless || !DisplayAvailable())
        return RunHeadless(argc, argv, args);
    return RunWindowed(argc, argv, args);
}
