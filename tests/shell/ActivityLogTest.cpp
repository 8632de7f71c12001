#include "shell/ActivityLog.h"
#include "support/HubFixture.h"

#include <QCoreApplication>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

TEST(LogText, ShorteningRules)
{
    // A single line ending in CR LF is never shortened.
    EXPECT_EQ(PrepareLogText(std::string(300, 'x') + "\r\n", true), std::string(300, 'x') + "\r\n");
    // Two lines: the first line without its CR LF, then " (...)\r\n".
    EXPECT_EQ(PrepareLogText("one\r\ntwo\r\n", true), "one (...)\r\n");
    EXPECT_EQ(PrepareLogText("one\r\ntwo\r\n", false), "one\r\ntwo\r\n");
    // A line feed followed by exactly one more character: left whole.
    EXPECT_EQ(PrepareLogText("ab\nc", true), "ab\nc");
    EXPECT_EQ(PrepareLogText("ab\ncd", true), "a (...)\r\n");
    // No line feed: shortened from 123 characters on, to 119 characters.
    EXPECT_EQ(PrepareLogText(std::string(122, 'y'), true), std::string(122, 'y'));
    EXPECT_EQ(PrepareLogText(std::string(123, 'y'), true), std::string(119, 'y') + " (...)\r\n");
    EXPECT_EQ(PrepareLogText(std::string(200, 'y'), true), std::string(119, 'y') + " (...)\r\n");
    // Starting with a line feed.
    EXPECT_EQ(PrepareLogText("\nab", true), " (...)\r\n");
    EXPECT_EQ(PrepareLogText("\na", true), "\na");
    EXPECT_EQ(PrepareLogText("\n", true), "\n");
}

TEST(LogText, PasswordMasking)
{
    EXPECT_EQ(PrepareLogText("PASS secret\r\n", true), "PASS *****\r\n");
    EXPECT_EQ(PrepareLogText("N\xB0" "1 - C   O->P | PASS secret\r\n", true),
              "N\xB0" "1 - C   O->P | PASS *****\r\n");
    EXPECT_EQ(PrepareLogText("pass secret\r\n", true), "pass secret\r\n");
    // Masking also applies to whole multi-line texts and works on the shortened text.
    EXPECT_EQ(PrepareLogText("USER a\r\nPASS b\r\n", false), "USER a\r\nPASS *****\r\n");
    EXPECT_EQ(PrepareLogText("USER a\r\nPASS b\r\n", true), "USER a (...)\r\n");
    EXPECT_EQ(PrepareLogText(std::string(150, 'z') + "PASS b", true), std::string(119, 'z') + " (...)\r\n");
}

TEST(LogBuffer, CapKeepsTheNewestCharacters)
{
    CActivityLog log;
    log.SetCap(10);
    log.Append("0123456");
    log.Append("789ABC");
    EXPECT_EQ(log.Text(), "3456789ABC");
    log.Append(std::string(25, 'q') + "END");
    EXPECT_EQ(log.Text(), "qqqqqqqEND");
    log.Clear();
    EXPECT_EQ(log.Text(), "");
}

TEST(LogBuffer, WithoutACapMemoryKeepsOnlyTheNewestEntries)
{
    CActivityLog log;
    bool cut = false;
    log.m_onAppended = [&](std::string_view, bool cutAtFront) { cut = cut || cutAtFront; };
    std::string last;
    for (size_t written = 0; written <= CActivityLog::kUncappedBytes; written += last.size()) {
        last = "entry " + std::to_string(written) + std::string(1000, '.') + "\r\n";
        log.Append(last);
    }
    EXPECT_TRUE(cut);
    EXPECT_EQ(log.Size(), CActivityLog::kUncappedBytes);
    EXPECT_TRUE(log.Text().ends_with(last));
}

TEST(LogBuffer, ObserversSeeEveryAppendAndClear)
{
    CActivityLog log;
    std::string seen;
    int cleared = 0;
    log.m_onAppended = [&](std::string_view e, bool) { seen.append(e); };
    log.m_onCleared = [&] { ++cleared; };
    log.Append("a");
    log.Append("b");
    log.Clear();
    EXPECT_EQ(seen, "ab");
    EXPECT_EQ(cleared, 1);
}

TEST_F(HubTest, EntryIsStampedWithTheLocalTime)
{
    hub.AddLog("Analyse activ\xE9" "e\r\n", true);
    EXPECT_EQ(Log(), "(09:05:03) Analyse activ\xE9" "e\r\n");
    hub.LogWriter().SetClock([] { return PinnedTime(23, 0, 59); });
    hub.AddLog("x\r\n", true);
    EXPECT_EQ(Log(), "(09:05:03) Analyse activ\xE9" "e\r\n(23:00:59) x\r\n");
}

// Standard output on a full disk: the window's log says so once per check,
// and every entry still reaches it.
TEST_F(HubTest, AnEchoThatCannotBeWrittenIsSaidOncePerCheck)
{
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);
    hub.LogWriter().SetEchoStream(full);
    hub.LogWriter().SetEcho(true);
    const std::string said = "(09:05:03) Journal non \xE9" "crit sur la sortie standard (" +
                             std::string(std::strerror(ENOSPC)) + ") : seule la fen\xEAtre le garde\r\n";
    for (int check = 0; check < 2; ++check) {
        hub.MailCheckStarted();
        hub.AddLog("a\r\n", true);
        hub.AddLog("b\r\n", true);
        EXPECT_EQ(Log(), "(09:05:03) a\r\n" + said + "(09:05:03) b\r\n");
    }
    hub.LogWriter().SetEcho(false);
    hub.LogWriter().SetEchoStream(stdout);
    std::fclose(full);
}

TEST(LogText, StampIsTwoDigitsPerField)
{
    EXPECT_EQ(StampLogEntry("x", 0, 0, 0), "(00:00:00) x");
    EXPECT_EQ(StampLogEntry("", 9, 10, 59), "(09:10:59) ");
    // Out of the clock's range the fields are printed as they are.
    EXPECT_EQ(StampLogEntry("y", 100, -1, 7), "(100:-01:07) y");
}

TEST_F(HubTest, EmptyTextLeavesTheLogUnchanged)
{
    hub.AddLog("", true);
    hub.AddLog("", false);
    EXPECT_EQ(Log(), "");
}

TEST_F(HubTest, TextWithoutLineEndContinuesTheLine)
{
    hub.AddLog("a", true);
    hub.AddLog("b\r\n", true);
    EXPECT_EQ(Log(), "(09:05:03) a(09:05:03) b\r\n");
}

TEST_F(HubTest, CapOfOneKilobyteEndsWithTheNewestEntry)
{
    hub.Settings().m_nMaxLogSize = 1024;
    for (int i = 0; i < 200; ++i)
        hub.AddLog("entry number " + std::to_string(i) + "\r\n", true);
    EXPECT_EQ(hub.Log().Size(), 1024u);
    EXPECT_TRUE(Log().ends_with("(09:05:03) entry number 199\r\n"));
}

TEST_F(HubTest, DebugToggleLogsBothStates)
{
    hub.ToggleDebug(true);
    EXPECT_TRUE(hub.Debug());
    hub.ToggleDebug(false);
    EXPECT_FALSE(hub.Debug());
    EXPECT_EQ(Log(), "(09:05:03) Debug enable\r\n(09:05:03) Debug disable\r\n");
}

TEST_F(HubTest, SetLogFromAPlugInIsShortened)
{
    OrvelaneWindow* window = hub.WindowHandle();
    const std::string text(300, 'p');
    window->SendMessage(window, hub.SetLogMessage(), 0, reinterpret_cast<intptr_t>(text.c_str()));
    EXPECT_EQ(Log(), "(09:05:03) " + std::string(119, 'p') + " (...)\r\n");
    // Another message number is not "Set Log".
    window->SendMessage(window, hub.SetLogMessage() + 1, 0, reinterpret_cast<intptr_t>("x\r\n"));
    window->SendMessage(window, hub.SetLogMessage(), 0, 0);
    EXPECT_EQ(Log(), "(09:05:03) " + std::string(119, 'p') + " (...)\r\n");
}

TEST_F(HubTest, SetLogFromAnotherThreadIsAppendedOnTheHubThread)
{
    OrvelaneWindow* window = hub.WindowHandle();
    std::thread sender([&] {
        window->SendMessage(window, hub.SetLogMessage(), 0,
                            reinterpret_cast<intptr_t>("from a thread\r\n"));
    });
    // The sender blocks until the event loop has copied its text.
    while (Log().empty())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    sender.join();
    EXPECT_EQ(Log(), "(09:05:03) from a thread\r\n");
}

TEST(WindowMessages, RegisteredByName)
{
    EXPECT_EQ(CMainDialog::RegisterWindowMessage("Set Log"), CMainDialog::RegisterWindowMessage("Set Log"));
    EXPECT_NE(CMainDialog::RegisterWindowMessage("Set Log"),
              CMainDialog::RegisterWindowMessage("Tray Message"));
    EXPECT_GE(CMainDialog::RegisterWindowMessage("Tray Message"), 0xC000u);
}
