#include "ui/DesktopApp.h"

#include "shell/Headless.h"
#include "shell/Instance.h"
#include "shell/ProxyApp.h"
#include "ui/AnalyseDialog.h"
#include "ui/RulesDialog.h"
#include "ui/SettingsDialog.h"
#include "ui/UiText.h"
#include "ui/X11Windows.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>

#ifdef ORVELANE_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace {

std::function<uint64_t()> X11Lookup()
{
    auto finder = std::make_shared<CX11WindowFinder>();
    return [finder] { return finder->Find(kTrayWindowTitle); };
}

// Ctrl with the key where the US layout has the apostrophe and the French
// one the "²".
bool IsDebugKey(const QKeyEvent& key)
{
    if (!(key.modifiers() & Qt::ControlModifier))
        return false;
    return key.key() == Qt::Key_Apostrophe || key.key() == Qt::Key_QuoteDbl || key.key() == Qt::Key_twosuperior;
}

} // namespace

CDesktopApp::CDesktopApp(CProxyApp& app, bool withTray, std::function<uint64_t()> lookup,
                         std::chrono::milliseconds watchPeriod)
    : m_app(app),
      m_window(app.m_dialog, withTray),
      m_tray(app.m_dialog, m_window, withTray),
      m_watcher(lookup ? std::move(lookup) : X11Lookup(),
                [this] {
                    // From the watcher thread to the UI thread; dropped if the
                    // window is gone by then.
                    QMetaObject::invokeMethod(
                        &m_window, [this] { m_app.m_dialog.SetTrayIcon(false, true); }, Qt::QueuedConnection);
                },
                watchPeriod)
{
    connect(&m_tray, &CTrayIcon::quitRequested, this, &CDesktopApp::Quit);
    connect(&m_window, &CMainWindow::quitRequested, this, &CDesktopApp::Quit);
    connect(&m_tray, &CTrayIcon::settingsRequested, &m_window, &CMainWindow::OnSettings);
    // A port that cannot be opened: the box says why, and leads to the
    // settings until the listener opens, or ends the program.
    m_app.m_dialog.SetListenFailureBox([this](const std::string&) {
        const auto choose = [](CListenFailureBox& box) {
            box.exec();
            return box.clickedButton() == box.SettingsButton();
        };
        m_bQuitAtStart = !RunListenFailure(m_app.m_dialog, choose, [this] {
            m_window.SettingsDialog()->Load();
            m_window.SettingsDialog()->exec();
        });
    });
    if (qApp)
        qApp->installEventFilter(this);
}

CDesktopApp::~CDesktopApp()
{
    m_watcher.Stop();
    if (qApp)
        qApp->removeEventFilter(this);
}

bool CDesktopApp::Start(const std::vector<std::string>& args)
{
    if (!m_app.InitInstance(args) || m_bQuitAtStart)
        return false;
    // The icon shows that the program runs: wherever there is a notification
    // area it is there from the start, not from the first mail client on.
    if (m_tray.Available())
        m_app.m_dialog.SetTrayIcon(false, false);
    m_watcher.Start();
    if (!m_tray.Available())
        m_window.show();
    return true;
}

void CDesktopApp::Quit()
{
    m_watcher.Stop();
    m_tray.Remove();
    m_window.RulesDialog()->hide();
    m_window.AnalyseDialog()->hide();
    m_window.hide();
    QCoreApplication::exit(0);
}

bool CDesktopApp::eventFilter(QObject* watched, QEvent* event)
{
    // Seen once, as the window receives it, before it reaches the widget
    // that has the focus; never consumed.
    if (event->type() == QEvent::KeyPress && watched->isWindowType() &&
        IsDebugKey(*static_cast<QKeyEvent*>(event)))
        m_app.m_dialog.ToggleDebug(!m_app.m_dialog.Debug());
    return QObject::eventFilter(watched, event);
}

bool DisplayAvailable()
{
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland && *wayland) {
        std::string socket = wayland;
        if (socket.front() != '/') {
            const char* runtime = std::getenv("XDG_RUNTIME_DIR");
            socket = std::string(runtime ? runtime : "") + "/" + socket;
        }
        struct stat info{};
        if (::stat(socket.c_str(), &info) == 0)
            return true;
    }
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return false;
#ifdef ORVELANE_HAVE_XCB
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool ok = !xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    return ok;
#else
    return true;
#endif
}

int RunWindowed(int argc, char** argv, const std::vector<std::string>& args)
{
    TuneProcess(true);
    QApplication app(argc, argv);
    // Closing a window only hides it: only "Quitter" ends the program.
    app.setQuitOnLastWindowClosed(false);
    app.setDesktopFileName(QStringLiteral("orvelane"));
    app.setWindowIcon(CTrayIcon::IdleIcon());
    InstallQuitSignals(app);
    // A second start shows the running copy's window and ends.
    CInstanceGuard instance(InstanceFolder(args));
    if (const CInstanceGuard::EClaim claim = instance.Claim(true);
        claim == CInstanceGuard::EClaim::kShown || claim == CInstanceGuard::EClaim::kRunning) {
        std::fputs(InstanceMessage(claim, instance.Folder()).c_str(), stderr);
        return claim == CInstanceGuard::EClaim::kShown ? 0 : 1;
    }
    CProxyApp proxyApp;
    proxyApp.m_dialog.SetMessageBox([](const std::string& text, const std::string& caption) {
        QMessageBox::warning(nullptr, ui::Text(caption), ui::Text(text));
    });
    CDesktopApp desktop(proxyApp, QSystemTrayIcon::isSystemTrayAvailable());
    instance.m_onShowRequest = [&desktop] {
        desktop.Tray().ShowWindow();
        return true;
    };
    // SIGTERM while a start-up message box was open closed only the box: the
    // program ends as asked, not as if the user had given up at the box.
    if (QuitSignalled())
        return 0;
    if (!desktop.Start(args))
        return QuitSignalled() ? 0 : 1;
    return app.exec();
}
