// The settings dialog on the offscreen platform: a new port applied at once,
// a refused field, and the port-failure box leading to it.
#include "base/Format.h"
#include "shell/ProxyApp.h"
#include "ui/DesktopApp.h"
#include "ui/MainWindow.h"
#include "ui/SettingsDialog.h"
#include "ui/TrayIcon.h"
#include "ui/UiText.h"
#include "UiFixture.h"

#include <QAction>
#include <QApplication>
#include <QTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

namespace {

uint16_t FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool Accepts(uint16_t port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(2000);
}

class SettingsDialogTest : public HubTest
{
protected:
    // A file with a comment and an unknown key, read as at start-up.
    void Start(uint16_t port)
    {
        folder.Write("Orvelane.ini", "# mine\r\nListenAddress=127.0.0.1\r\nListenPort = " + std::to_string(port) +
                                         "\r\nUnknown=1\r\n");
        hub.ReadSettings();
        hub.SetMessageBox([](const std::string&, const std::string&) {});
        hub.OpenListener();
    }
    CSettingsDialog& Dialog() { return *window->SettingsDialog(); }
    void SetPort(uint16_t port) { Dialog().Field("ListenPort")->setText(QString::number(port)); }

    CWorkFolder folder;
    std::unique_ptr<CMainWindow> window = std::make_unique<CMainWindow>(hub, true);
};

} // namespace

TEST_F(SettingsDialogTest, ANewPortIsListenedOnAtOnce)
{
    const uint16_t before = FreePort();
    Start(before);
    ASSERT_EQ(hub.Proxy().Port(), before);
    window->findChild<QPushButton*>("settings")->click();
    ASSERT_TRUE(Dialog().isVisible());
    EXPECT_EQ(Dialog().Field("ListenPort")->text(), QString::number(before));
    const uint16_t after = FreePort();
    SetPort(after);
    Dialog().accept();
    EXPECT_TRUE(Dialog().Problem().isEmpty()) << Dialog().Problem().toStdString();
    EXPECT_FALSE(Dialog().isVisible());
    EXPECT_EQ(hub.Proxy().Port(), after);
    EXPECT_TRUE(Accepts(after));
    EXPECT_FALSE(Accepts(before));
    EXPECT_EQ(folder.Read("Orvelane.ini"), "# mine\r\nListenAddress=127.0.0.1\r\nListenPort = " +
                                               std::to_string(after) + "\r\nUnknown=1\r\n");
    EXPECT_NE(Log().find(StrFormat("\xC9" "coute sur 127.0.0.1:%d\r\n", after)), std::string::npos);
}

TEST_F(SettingsDialogTest, ARefusedFieldKeepsTheDialogAndTheFile)
{
    const uint16_t port = FreePort();
    Start(port);
    const std::string file = folder.Read("Orvelane.ini");
    window->OnSettings();
    Dialog().Field("MaxMemoMsg")->setText(QStringLiteral("beaucoup"));
    Dialog().accept();
    EXPECT_TRUE(Dialog().isVisible());
    EXPECT_TRUE(Dialog().Problem().startsWith(QStringLiteral("MaxMemoMsg : \u00AB beaucoup \u00BB"))) << Dialog().Problem().toStdString();
    EXPECT_EQ(folder.Read("Orvelane.ini"), file);
    EXPECT_EQ(hub.Proxy().Port(), port);
}

TEST_F(SettingsDialogTest, ThePortFailureBoxSaysWhyAndLeadsToTheSettings)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    Start(taken.serverPort());
    ASSERT_FALSE(hub.Proxy().Listening());
    const uint16_t free = FreePort();
    int boxes = 0;
    const auto choose = [&](CListenFailureBox& box) {
        ++boxes;
        const std::string text = ui::Bytes(box.text());
        EXPECT_TRUE(text.starts_with(StrFormat("Ouverture du port %d en local impossible\n\nLe port %d est d\xE9j\xE0 pris",
                                               taken.serverPort(), taken.serverPort())))
            << text;
        EXPECT_EQ(box.SettingsButton()->text(), QStringLiteral("Param\u00E8tres"));
        return true;
    };
    // The first time the user changes nothing: the box comes back.
    int opened = 0;
    const auto settings = [&] {
        Dialog().Load();
        if (++opened == 2)
            SetPort(free);
        Dialog().accept();
    };
    EXPECT_TRUE(RunListenFailure(hub, choose, settings));
    EXPECT_EQ(boxes, 2);
    EXPECT_EQ(hub.Proxy().Port(), free);
    EXPECT_TRUE(Accepts(free));
    // "Quitter" ends it without a listener.
    taken.close();
    CMainDialog other;
    QuietHub(other);
    other.Settings().m_nListenPort = -1;
    other.SetMessageBox([](const std::string&, const std::string&) {});
    other.OpenListener();
    EXPECT_FALSE(RunListenFailure(other, [](CListenFailureBox&) { return false; }, [] { FAIL(); }));
}

TEST_F(SettingsDialogTest, TheIconsMenuOpensIt)
{
    CTrayIcon tray(hub, *window, true);
    QObject::connect(&tray, &CTrayIcon::settingsRequested, window.get(), &CMainWindow::OnSettings);
    ASSERT_NE(tray.SettingsAction(), nullptr);
    tray.SettingsAction()->trigger();
    EXPECT_TRUE(Dialog().isVisible());
}

TEST(ListenFailureAtStart, QuitterInTheBoxEndsTheProgram)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    CWorkFolder folder;
    folder.Write("Orvelane.ini", "ListenAddress=127.0.0.1\nListenPort=" + std::to_string(taken.serverPort()) + "\n");
    CProxyApp app;
    QuietHub(app.m_dialog);
    CDesktopApp desktop(app, false, [] { return uint64_t(0); });
    QString shown;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<CListenFailureBox*>(QApplication::activeModalWidget())) {
            poll.stop();
            shown = box->text();
            box->QuitButton()->click();
        }
    });
    poll.start(20);
    EXPECT_FALSE(desktop.Start({}));
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Ouverture du port %1 en local impossible\n\n").arg(taken.serverPort())))
        << shown.toStdString();
}
