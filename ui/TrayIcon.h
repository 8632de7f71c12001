// The notification-area icon: idle or busy as the hub's tray model says,
// shown again whenever the model counts a new add, a double click shows the
// main window, and its menu holds "&Quitter". Each change also renews the
// main window's caption and icon. Without a notification area only the
// caption and the window icon follow the model.
#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

class CMainDialog;
class QAction;
class QMenu;
class QWidget;

class CTrayIcon : public QObject
{
    Q_OBJECT
public:
    CTrayIcon(CMainDialog& hub, QWidget& window, bool available, QObject* parent = nullptr);
    ~CTrayIcon() override;

    static QIcon IdleIcon();
    static QIcon BusyIcon();

    // The notification area's events, as the tray icon reports them.
    void OnTrayMessage(QSystemTrayIcon::ActivationReason reason);
    // Shows the main window, even minimised, and brings it to the front.
    void ShowWindow();
    // Removes the icon (at shutdown).
    void Remove();

    bool Available() const { return m_bAvailable; }
    // Null without a notification area.
    QSystemTrayIcon* Icon() const { return m_pIcon; }
    QAction* QuitAction() const { return m_pQuit; }
    QAction* SettingsAction() const { return m_pSettings; }
    // How many times the icon was put into the notification area.
    int Shown() const { return m_nShown; }

signals:
    void quitRequested();
    void settingsRequested();

private:
    void Apply();

    CMainDialog& m_hub;
    QWidget& m_window;
    bool m_bAvailable;
    QSystemTrayIcon* m_pIcon = nullptr;
    QMenu* m_pMenu = nullptr;
    QAction* m_pQuit = nullptr;
    QAction* m_pSettings = nullptr;
    int m_nAddsSeen = 0;
    int m_nShown = 0;
};
