#include "base/Texts.h"
#include "shell/ProxyApp.h"
#include "ui/DesktopApp.h"
#include "ui/X11Windows.h"
#include "UiFixture.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef ORVELANE_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace {

// Runs the event loop until `done` holds or two seconds have passed.
template <class Done>
bool WaitFor(Done done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 2000)
        QTest::qWait(5);
    return done();
}

class TrayTest : public ::testing::Test
{
protected:
    TrayTest()
    {
        folder.Write("Orvelane.ini", "ListenAddress=127.0.0.1\nListenPort=0\n");
        QuietHub(app.m_dialog);
    }
    CMainDialog& hub() { return app.m_dialog; }
    std::string Log() const { return std::string(app.m_dialog.Log().Text()); }

    CWorkFolder folder;
    CProxyApp app;
    // What the fake "Connections Tray" look-up answers, turn after turn.
    std::atomic<uint64_t> trayWindow{0};
    std::atomic<int> lookups{0};
    std::function<uint64_t()> lookup = [this] {
        ++lookups;
        return trayWindow.load();
    };
};

TEST_F(TrayTest, WithoutANotificationAreaTheWindowShowsMinimisesAndQuits)
{
    CDesktopApp desktop(app, false, lookup, std::chrono::milliseconds(5));
    ASSERT_TRUE(desktop.Start({}));
    CMainWindow& window = desktop.Window();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(desktop.Tray().Icon(), nullptr);
    ASSERT_NE(window.QuitButton(), nullptr);
    window.reject(); // the close box
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.isMinimized());
    hub().SetTrayIcon(true, false);
    EXPECT_EQ(window.windowTitle().toStdString(), txt::kServerBanner);

    QTimer::singleShot(0, window.QuitButton(), &QPushButton::click);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(desktop.Watcher().Running());
    EXPECT_FALSE(window.isVisible());
}

TEST_F(TrayTest, WithANotificationAreaTheIconFollowsTheHubAndTheWatcher)
{
    CDesktopApp desktop(app, true, lookup, std::chrono::milliseconds(5));
    ASSERT_TRUE(desktop.Start({}));
    CMainWindow& window = desktop.Window();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.QuitButton(), nullptr);
    // The icon is there from the start, before any tray window or client.
    EXPECT_TRUE(hub().Tray().m_bVisible);
    EXPECT_TRUE(desktop.Tray().Icon()->isVisible());
    EXPECT_EQ(window.windowTitle().toStdString(), txt::kServerBanner);
    ASSERT_TRUE(WaitFor([&] { return lookups > 3; }));

    // The first client turns it busy without adding it again.
    hub().SetTrayIcon(true, false);
    EXPECT_TRUE(desktop.Tray().Icon()->isVisible());
    EXPECT_EQ(desktop.Tray().Shown(), 1);

    // A tray window, the same one again, then a new one: two adds, idle.
    trayWindow = 0x400001;
    ASSERT_TRUE(WaitFor([&] { return hub().Tray().m_nAdds == 2; }));
    const int seen = lookups;
    ASSERT_TRUE(WaitFor([&] { return lookups > seen + 3; }));
    EXPECT_EQ(hub().Tray().m_nAdds, 2);
    EXPECT_FALSE(hub().Tray().m_bBusy);
    trayWindow = 0x400002;
    ASSERT_TRUE(WaitFor([&] { return hub().Tray().m_nAdds == 3; }));
    EXPECT_EQ(desktop.Tray().Shown(), 3);

    // Only a double click shows the window; closing hides it again.
    desktop.Tray().OnTrayMessage(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(window.isVisible());
    desktop.Tray().OnTrayMessage(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(window.isVisible());
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(desktop.Tray().Icon()->isVisible());
    // A minimised window comes back to its normal state.
    window.showMinimized();
    desktop.Tray().OnTrayMessage(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());

    // "&Quitter" ends the loop, stops the watcher and removes the icon.
    EXPECT_EQ(desktop.Tray().QuitAction()->text().toStdString(), txt::kQuit);
    QTimer::singleShot(0, desktop.Tray().QuitAction(), &QAction::trigger);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(desktop.Watcher().Running());
    EXPECT_FALSE(desktop.Tray().Icon()->isVisible());
}

// The pictures built into the program are the shield files of the source
// tree, on the notification area and on the window, idle and busy.
TEST_F(TrayTest, TheIconsAreTheShieldsOnTheTrayAndTheWindow)
{
    CDesktopApp desktop(app, true, lookup);
    ASSERT_TRUE(desktop.Start({}));
    const auto image = [](const QIcon& icon) {
        return icon.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    };
    QImage previous;
    for (const auto& [busy, file] : {std::pair{false, "idle"}, std::pair{true, "busy"}}) {
        SCOPED_TRACE(file);
        hub().SetTrayIcon(busy, false);
        const QImage shield = QImage(QStringLiteral(ORVELANE_SOURCE_DIR "/ui/icons/orvelane-%1-32.png").arg(file))
                                  .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        ASSERT_FALSE(shield.isNull());
        EXPECT_EQ(image(desktop.Tray().Icon()->icon()), shield);
        EXPECT_EQ(image(desktop.Window().windowIcon()), shield);
        EXPECT_NE(shield, previous);
        previous = shield;
    }
}

TEST_F(TrayTest, CtrlWithTheDebugKeyTogglesDebugAndTheKeyGoesOn)
{
    CDesktopApp desktop(app, false, lookup);
    ASSERT_TRUE(desktop.Start({}));
    QWindow* window = desktop.Window().windowHandle();
    ASSERT_NE(window, nullptr);
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool debug;
    } presses[] = {
        {Qt::Key_Apostrophe, Qt::NoModifier, false},
        {Qt::Key_Apostrophe, Qt::ControlModifier, true},
        {Qt::Key_twosuperior, Qt::ControlModifier, false},
        {Qt::Key_QuoteDbl, Qt::ControlModifier | Qt::ShiftModifier, true},
    };
    for (const auto& press : presses) {
        QTest::keyClick(window, press.key, press.modifiers);
        EXPECT_EQ(hub().Debug(), press.debug) << press.key;
    }
    EXPECT_NE(Log().find("Debug enable\r\n"), std::string::npos);
    EXPECT_NE(Log().find("Debug disable\r\n"), std::string::npos);
}

// The look-up on a real X server: skipped when Xvfb is not installed.
TEST(X11WindowFinder, FindsTheConnectionsTrayWindowByItsTitle)
{
#ifndef ORVELANE_HAVE_XCB
    GTEST_SKIP() << "built without xcb";
#else
    if (std::system("command -v Xvfb >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "Xvfb is not installed";
    // The server picks a free display number itself and writes it to the
    // pipe: no race with other tests starting a server at the same time.
    int numberPipe[2];
    ASSERT_EQ(::pipe(numberPipe), 0);
    const pid_t server = ::fork();
    if (server == 0) {
        ::close(numberPipe[0]);
        const std::string fd = std::to_string(numberPipe[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-nolisten", "tcp", "-screen", "0", "320x240x24",
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(numberPipe[1]);
    std::string number;
    char c;
    while (::read(numberPipe[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(numberPipe[0]);
    const std::string display = ":" + number;
    // Ended however the test ends.
    std::unique_ptr<void, std::function<void(void*)>> stop(reinterpret_cast<void*>(1), [server](void*) {
        ::kill(server, SIGTERM);
        ::waitpid(server, nullptr, 0);
    });
    xcb_connection_t* x = nullptr;
    for (int attempt = 0; attempt < 100; ++attempt) {
        x = xcb_connect(display.c_str(), nullptr);
        if (!xcb_connection_has_error(x))
            break;
        xcb_disconnect(x);
        x = nullptr;
        ::usleep(50000);
    }
    ASSERT_NE(x, nullptr) << "Xvfb did not start on " << display;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    auto makeWindow = [&](const std::string& title) {
        const xcb_window_t window = xcb_generate_id(x);
        xcb_create_window(x, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 50, 20, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        xcb_change_property(x, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            static_cast<uint32_t>(title.size()), title.data());
        // A round trip: the server has made the window before the look-up.
        free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));
        return window;
    };

    CX11WindowFinder finder(display);
    EXPECT_EQ(finder.Find("Connections Tray"), 0u);
    makeWindow("Connections Tray (old)");
    const xcb_window_t first = makeWindow("Connections Tray");
    EXPECT_EQ(finder.Find("Connections Tray"), first);
    xcb_destroy_window(x, first);
    const xcb_window_t second = makeWindow("Connections Tray");
    EXPECT_EQ(finder.Find("Connections Tray"), second);
    EXPECT_NE(first, second);

    xcb_disconnect(x);
#endif
}

} // namespace
