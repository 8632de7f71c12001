#include "ui/TrayIcon.h"

#include "base/Texts.h"
#include "shell/MainDialog.h"
#include "ui/UiText.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

// The icons are compiled into the static ui library, where nothing refers to
// them by name: the linker would leave them out without this reference. (Not
// in a namespace: the macro declares the resource's function where it is.)
static void RegisterIcons()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)registered;
}

namespace {

QIcon LoadIcon(const char* state)
{
    RegisterIcons();
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/icons/orvelane-%1-%2.png").arg(QLatin1String(state)).arg(size),
                     QSize(size, size));
    return icon;
}

} // namespace

QIcon CTrayIcon::IdleIcon()
{
    return LoadIcon("idle");
}

QIcon CTrayIcon::BusyIcon()
{
    return LoadIcon("busy");
}

CTrayIcon::CTrayIcon(CMainDialog& hub, QWidget& window, bool available, QObject* parent)
    : QObject(parent), m_hub(hub), m_window(window), m_bAvailable(available)
{
    m_window.setWindowIcon(IdleIcon());
    if (m_bAvailable) {
        m_pIcon = new QSystemTrayIcon(this);
        m_pIcon->setToolTip(ui::Text(txt::kTrayTip));
        m_pMenu = new QMenu(&m_window);
        m_pSettings = m_pMenu->addAction(ui::Text(txt::kSettingsMenu));
        connect(m_pSettings, &QAction::triggered, this, &CTrayIcon::settingsRequested);
        m_pQuit = m_pMenu->addAction(ui::Text(txt::kQuit));
        connect(m_pQuit, &QAction::triggered, this, &CTrayIcon::quitRequested);
        m_pIcon->setContextMenu(m_pMenu);
        connect(m_pIcon, &QSystemTrayIcon::activated, this, &CTrayIcon::OnTrayMessage);
    }
    m_hub.Tray().m_onChanged = [this] { Apply(); };
}

CTrayIcon::~CTrayIcon()
{
    m_hub.Tray().m_onChanged = nullptr;
}

void CTrayIcon::Apply()
{
    const CTrayModel& tray = m_hub.Tray();
    const QIcon icon = tray.m_bBusy ? BusyIcon() : IdleIcon();
    m_window.setWindowTitle(ui::Text(m_hub.Caption()));
    m_window.setWindowIcon(icon);
    if (!m_pIcon || !tray.m_bVisible)
        return;
    m_pIcon->setIcon(icon);
    if (tray.m_nAdds != m_nAddsSeen || !m_pIcon->isVisible()) {
        // An add: the notification area may have been restarted and lost
        // the icon, so it is put there afresh.
        m_nAddsSeen = tray.m_nAdds;
        m_pIcon->hide();
        m_pIcon->show();
        ++m_nShown;
    }
}

void CTrayIcon::OnTrayMessage(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick)
        return;
    ShowWindow();
}

void CTrayIcon::ShowWindow()
{
    // A minimised window stays minimised through show(): it is brought back
    // to its normal state first.
    if (m_window.isMinimized())
        m_window.setWindowState(m_window.windowState() & ~Qt::WindowMinimized);
    m_window.show();
    m_window.raise();
    m_window.activateWindow();
}

void CTrayIcon::Remove()
{
    if (m_pIcon)
        m_pIcon->hide();
}
