#include "shell/Headless.h"

#include "shell/CheckCommand.h"
#include "shell/Instance.h"
#include "shell/LearnCommand.h"
#include "shell/ProxyApp.h"

#include <malloc.h>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};
bool g_bQuitSignalled = false;

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

int ReadProgramArguments(int argc, char** argv, std::vector<std::string>* runArgs, bool* headless)
{
    std::vector<std::string> args;
    *headless = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--headless")
            *headless = true;
        else
            args.emplace_back(argv[i]);
    }
    switch (CProxyApp::ReadCommandLine(args)) {
    case CProxyApp::ECommand::kHelp:
        std::fputs(CProxyApp::kHelpText, stdout);
        return 0;
    case CProxyApp::ECommand::kVersion:
        std::fputs(CProxyApp::kVersionText, stdout);
        return 0;
    case CProxyApp::ECommand::kLearn:
        return RunLearnCommand(args);
    case CProxyApp::ECommand::kCheck:
        return RunCheckCommand(args);
    case CProxyApp::ECommand::kUnknown:
        std::fprintf(stderr, "orvelane: unknown arguments (try --help)\n");
        return 2;
    case CProxyApp::ECommand::kRun:
        break;
    }
    *runArgs = std::move(args);
    return -1;
}

void TuneProcess(bool withWindow)
{
    // Message texts come and go by the thousand during a scan. Freed memory
    // stays with the process up to a few megabytes instead of going back to
    // the system after every message, only to be faulted in again.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, 16 << 20);
    // Qt's own event dispatcher instead of the GLib one: each turn of the
    // loop (one per mail-client command while serving) costs about a fifth
    // less, and nothing here relies on GLib's main loop. A QT_NO_GLIB the
    // user set is left as it is. The desktop's notification area and input
    // methods may want GLib's loop: with a window it stays.
    if (!withWindow && !qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}

void InstallQuitSignals(QCoreApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        g_bQuitSignalled = true;
        // exit(), not quit(): a window that only hides or minimises on close
        // must not hold the end back.
        QCoreApplication::exit(0);
    });
    struct sigaction action{};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool QuitSignalled()
{
    return g_bQuitSignalled;
}

int RunHeadless(int argc, char** argv, const std::vector<std::string>& args)
{
    TuneProcess(false);
    QCoreApplication app(argc, argv);
    InstallQuitSignals(app);
    // A copy already running from the same settings folder keeps the port;
    // a second one would only fail to listen.
    CInstanceGuard instance(InstanceFolder(args));
    if (const CInstanceGuard::EClaim claim = instance.Claim(false); claim == CInstanceGuard::EClaim::kRunning) {
        std::fputs(InstanceMessage(claim, instance.Folder()).c_str(), stderr);
        return 1;
    }
    CProxyApp proxyApp;
    if (!proxyApp.InitInstance(args))
        return 1;
    // Without a window nobody would see that no mail client can connect.
    const CProxyServer& proxy = proxyApp.m_dialog.Proxy();
    if (!proxy.Listening()) {
        const CSettings& settings = proxyApp.m_dialog.Settings();
        const char* why = "Another program may hold the port, and ports below 1024 need privileges:";
        switch (proxy.ListenFailure()) {
        case EListenFailure::kInUse:
            why = "Another program holds the port (perhaps Orvelane runs already):";
            break;
        case EListenFailure::kPrivileged:
            why = "Ports below 1024 need a privilege this program lacks (the Debian package grants it;\n"
                  "else: sudo setcap cap_net_bind_service=+ep on the program), or:";
            break;
        case EListenFailure::kAddress:
            why = "The address is not one of this machine:";
            break;
        default:
            break;
        }
        std::fprintf(stderr,
                     "orvelane: cannot listen on %s port %d (%s).\n%s\n"
                     "set ListenPort (and ListenAddress) in Orvelane.ini.\n",
                     proxy.ListenAddress().c_str(), settings.m_nListenPort, proxy.ListenError().c_str(), why);
        return 1;
    }
    return app.exec();
}
