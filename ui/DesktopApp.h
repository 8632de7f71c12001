// The program with its window: the main window (hidden behind the
// notification-area icon, or shown when there is no notification area), the
// icon, the watcher thread and the debug key, around the hub's start-up.
#pragma once

#include "ui/MainWindow.h"
#include "ui/TrayIcon.h"
#include "ui/TrayWatcher.h"

#include <QObject>
#include <string>
#include <vector>

class CProxyApp;

class CDesktopApp : public QObject
{
    Q_OBJECT
public:
    // `lookup` finds the "Connections Tray" window (0 for none); empty: on
    // the X display.
    CDesktopApp(CProxyApp& app, bool withTray, std::function<uint64_t()> lookup = {},
                std::chrono::milliseconds watchPeriod = std::chrono::milliseconds(5000));
    ~CDesktopApp() override;

    // The hub's start-up, then the watcher; the window is shown only when no
    // notification area can bring it up. False when the process must end.
    bool Start(const std::vector<std::string>& args);
    // "&Quitter": the watcher stops, the icon goes, the windows close and
    // the event loop ends; the hub releases the rest when it is destroyed.
    void Quit();

    CMainWindow& Window() { return m_window; }
    CTrayIcon& Tray() { return m_tray; }
    CTrayWatcher& Watcher() { return m_watcher; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CProxyApp& m_app;
    CMainWindow m_window;
    CTrayIcon m_tray;
    CTrayWatcher m_watcher;
    // "Quitter" in the port-failure box at start-up.
    bool m_bQuitAtStart = false;
};

// A display the window can be shown on: an X server that answers, or a
// Wayland socket.
bool DisplayAvailable();

// The program with its window; `args` as ReadProgramArguments gave them.
int RunWindowed(int argc, char** argv, const std::vector<std::string>& args);
