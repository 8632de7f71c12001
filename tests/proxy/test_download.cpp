// The download of each message: sizes that disagree with the bytes, the
// wait after an early closing line, large messages, and server faults.
#include "Pop3Harness.h"

#include "base/Format.h"

#include <QElapsedTimer>

using namespace harness;

namespace {

// `count` lines of ten bytes each.
std::string Lines(int count, char fill = 'x')
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += std::string(8, fill) + "\r\n";
    return text;
}

} // namespace

class Download : public ProxyTest
{
protected:
    // Logs in, sends STAT and waits for its answer.
    std::unique_ptr<Client> Stat(int ms = 3000)
    {
        auto client = LoggedIn();
        client->received.clear();
        client->Send("STAT\r\n");
        EXPECT_TRUE(client->WaitFor("\r\n", ms));
        return client;
    }
    std::string ConversionLine(int n) const
    {
        return StrFormat("Conversion UNIX->DOS : ajout de %d octect(s)\r\n", n);
    }
};

TEST_F(Download, ExactSizePlusClosingLineIsNoConversion)
{
    server->mailbox = {{Lines(100), "u"}};
    auto client = Stat();
    EXPECT_EQ(client->received, "+OK 1 1003\r\n");
    EXPECT_EQ(Log(*hub).find("Conversion"), std::string::npos);
    EXPECT_EQ(hub->RecordAt(hub->Proxy().m_sessions.head(), 1)->m_nSize, 1003);
}

TEST_F(Download, LongerThanAnnouncedInOneChunkLogsTheExcessOnce)
{
    server->mailbox = {{Lines(104), "u", 1000, 1000}};
    auto client = Stat();
    EXPECT_EQ(client->received, "+OK 1 1043\r\n");
    const std::string log = Log(*hub);
    const size_t at = log.find(Stamp(ConversionLine(43)));
    EXPECT_NE(at, std::string::npos);
    EXPECT_EQ(log.find("Conversion", at + 20), std::string::npos);
    client->received.clear();
    client->Send("RETR 1\r\n");
    ASSERT_TRUE(client->WaitFor(".\r\n"));
    EXPECT_EQ(client->received, "+OK 1043 octets\r\n" + Lines(104) + ".\r\n");
}

TEST_F(Download, ExcessOverSeveralChunksIsLoggedPerChunk)
{
    server->mailbox = {{Lines(104), "u", 1000, 1000}};
    server->hook = [](ServerConnection& c, const std::string& line) {
        if (line != "RETR 1")
            return false;
        c.Send("+OK 1000 octets\r\n" + Lines(102));
        c.socket->flush();
        Spin(30);
        c.Send(Lines(2) + ".\r\n");
        return true;
    };
    auto client = Stat();
    EXPECT_EQ(client->received, "+OK 1 1043\r\n");
    const std::string log = Log(*hub);
    const size_t first = log.find(ConversionLine(20));
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find(ConversionLine(23), first), std::string::npos);
}

TEST_F(Download, EarlyClosingLineCompletesAfterTheWait)
{
    server->mailbox = {{Lines(100), "u", 2000}};
    QElapsedTimer timer;
    auto client = LoggedIn();
    client->received.clear();
    timer.start();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n"));
    EXPECT_GE(timer.elapsed(), hub->Proxy().m_nGraceMs);
    EXPECT_EQ(client->received, "+OK 1 1003\r\n");
}

TEST_F(Download, DataDuringTheWaitIsAppended)
{
    server->mailbox = {{Lines(2), "u", 100}};
    server->hook = [](ServerConnection& c, const std::string& line) {
        if (line != "RETR 1")
            return false;
        c.Send("+OK 100 octets\r\n" + Lines(2) + ".\r\n");
        c.socket->flush();
        Spin(40); // shorter than the wait
        c.Send(Lines(3) + ".\r\n");
        return true;
    };
    auto client = Stat();
    EXPECT_EQ(client->received, StrFormat("+OK 1 %d\r\n", 20 + 3 + 30 + 3));
}

TEST_F(Download, MessageLargerThanAReadChunk)
{
    server->mailbox = {{Mail("Big", Lines(30000, 'b')), "big"}};
    auto client = Stat();
    const int32_t size = static_cast<int32_t>(server->mailbox[0].text.size()) + 3;
    EXPECT_EQ(client->received, StrFormat("+OK 1 %d\r\n", size));
    client->received.clear();
    client->Send("RETR 1\r\n");
    const std::string expected = StrFormat("+OK %d octets\r\n", size) + server->mailbox[0].text + ".\r\n";
    ASSERT_TRUE(client->WaitReceived(expected.size()));
    EXPECT_EQ(client->received, expected);
}

TEST_F(Download, AnswerOfExactlyOneReadChunkCompletesWithoutWaiting)
{
    // Status line + text + closing line = 102400 bytes.
    const std::string status = "+OK 102378 octets\r\n";
    const std::string text = Lines(10237) + "123456\r\n";
    ASSERT_EQ(status.size() + text.size() + 3, 102400u);
    server->mailbox = {{text, "u", 102378}};
    // The whole answer is in the proxy's socket before it reads: one chunk.
    server->hook = [&](ServerConnection& c, const std::string& line) {
        if (line != "RETR 1")
            return false;
        c.Send(status + text + ".\r\n");
        while (c.socket->bytesToWrite() > 0 && c.socket->waitForBytesWritten(1000)) {
        }
        return true;
    };
    hub->Proxy().m_nSilenceMs = 2000;
    QElapsedTimer timer;
    timer.start();
    auto client = Stat();
    EXPECT_EQ(client->received, "+OK 1 102381\r\n");
    EXPECT_LT(timer.elapsed(), 1500);
}

TEST_F(Download, HeaderLinesBeforeAnyReturnPathAreKept)
{
    const std::string text = "Received: from relay\r\nSubject: no return path\r\n\r\nBody\r\n";
    server->mailbox = {{text, "u"}};
    auto client = Stat();
    client->received.clear();
    client->Send("RETR 1\r\n");
    ASSERT_TRUE(client->WaitFor("Body\r\n.\r\n"));
    EXPECT_EQ(client->received, StrFormat("+OK %d octets\r\n", int(text.size()) + 3) + text + ".\r\n");
}

TEST_F(Download, EmptyMessageCompletes)
{
    server->mailbox = {{"", "empty"}, {Mail("After"), "after"}};
    auto client = Stat();
    EXPECT_EQ(client->received, StrFormat("+OK 2 %d\r\n", 3 + int(server->mailbox[1].text.size()) + 3));
}

TEST_F(Download, StatusWithoutNumberKeepsTheListedSize)
{
    server->mailbox = {{Lines(10), "u"}};
    server->hook = [](ServerConnection& c, const std::string& line) {
        if (line != "RETR 1")
            return false;
        c.Send("+OK message follows\r\n" + Lines(10) + ".\r\n");
        return true;
    };
    auto client = Stat();
    EXPECT_EQ(client->received, "+OK 1 103\r\n");
}

TEST_F(Download, HugeOrNegativeAnnouncedSizesAllocateNothing)
{
    server->mailbox = {{Lines(10), "a"}, {Lines(10), "b"}};
    server->hook = [](ServerConnection& c, const std::string& line) {
        if (line == "RETR 1")
            c.Send("+OK 99999999999999 octets\r\n" + Lines(10) + ".\r\n");
        else if (line == "RETR 2")
            c.Send("+OK -5 octets\r\n" + Lines(10) + ".\r\n");
        else if (line == "LIST")
            c.Send("+OK\r\n1 4294967396\r\n2 -7\r\n.\r\n");
        else
            return false;
        return true;
    };
    auto client = Stat();
    // The huge one waits out the grace period, then keeps what arrived;
    // the negative one is taken as unannounced (listed -7 reads as 0).
    EXPECT_EQ(client->received, "+OK 2 206\r\n");
    EXPECT_NE(Log(*hub).find(ConversionLine(103)), std::string::npos);
    EXPECT_LT(hub->RecordAt(hub->Proxy().m_sessions.head(), 1)->m_pszText.capacity(), 4096u);
}

TEST_F(Download, RetrievalBeyondTheLimitEndsTheSession)
{
    hub->Proxy().m_nMaxRetrieval = 500;
    server->mailbox = {{Lines(100), "u"}};
    auto client = LoggedIn();
    client->received.clear();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitClosed());
    EXPECT_EQ(client->received, "-ERR unexpected answer from the POP3 server\r\n");
    EXPECT_NE(Log(*hub).find("N\xB0" "1 - Message n\xB0" "1 trop volumineux, session termin\xE9" "e\r\n"),
              std::string::npos);
    EXPECT_EQ(hub->Proxy().m_processedMails.count(), 0);
}

TEST_F(Download, RefusedRetrievalIsLeftToTheServer)
{
    server->mailbox = {{Mail("One"), "u1"}, {Mail("Two"), "u2"}, {Mail("Three"), "u3"}};
    int refusals = 1;
    server->hook = [&](ServerConnection& c, const std::string& line) {
        if (line != "RETR 2" || refusals-- <= 0)
            return false;
        c.Send("-ERR message locked\r\n");
        return true;
    };
    auto client = Stat();
    const int32_t s1 = int(server->mailbox[0].text.size()) + 3;
    const int32_t s2 = int(server->mailbox[1].text.size());
    const int32_t s3 = int(server->mailbox[2].text.size()) + 3;
    EXPECT_EQ(client->received, StrFormat("+OK 3 %d\r\n", s1 + s2 + s3));
    EXPECT_TRUE(server->Received().ends_with("RETR 1\r\nRETR 2\r\nRETR 3\r\n"));
    EXPECT_NE(Log(*hub).find("N\xB0" "1 - Message n\xB0" "2 refus\xE9 par le serveur"), std::string::npos);
    // Message 2 comes from the server; it is neither analysed nor kept.
    client->received.clear();
    client->Send("RETR 2\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n.\r\n"));
    EXPECT_EQ(client->received, StrFormat("+OK %d octets\r\n", s2) + server->mailbox[1].text + ".\r\n");
    EXPECT_TRUE(server->Received().ends_with("RETR 3\r\nRETR 2\r\n"));
    EXPECT_EQ(hub->Proxy().m_processedMails.count(), 2);
    EXPECT_EQ(Log(*hub).find("Analyse du Msg N\xB0" "2"), std::string::npos);
}

TEST_F(Download, StatOrListRefusedIsRelayedAndTheSessionRelays)
{
    server->hook = [](ServerConnection& c, const std::string& line) {
        if (line != "STAT")
            return false;
        c.Send("-ERR mailbox busy\r\n");
        return true;
    };
    auto client = Stat();
    EXPECT_EQ(client->received, "-ERR mailbox busy\r\n");
    EXPECT_EQ(hub->Proxy().m_sessions.head()->m_nState, kStateRelay);
    client->received.clear();
    client->Send("NOOP\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n"));
    EXPECT_EQ(client->received, "+OK\r\n");

    server->hook = [](ServerConnection& c, const std::string& line) {
        if (line != "LIST")
            return false;
        c.Send("-ERR no listing\r\n");
        return true;
    };
    server->mailbox = {{Mail("One"), "u1"}};
    client->received.clear();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n"));
    EXPECT_EQ(client->received, "-ERR no listing\r\n");
    EXPECT_EQ(hub->Proxy().m_sessions.head()->m_nState, kStateRelay);
}

TEST_F(Download, SilentServerDuringTheScanEndsTheSession)
{
    for (const char* silentAt : {"STAT", "LIST", "UIDL", "RETR 1"}) {
        server = std::make_unique<ScriptedServer>();
        server->mailbox = {{Mail("One"), "u1"}};
        const std::string at = silentAt;
        server->hook = [at](ServerConnection&, const std::string& line) { return line == at; };
        auto client = LoggedIn();
        client->received.clear();
        client->Send("STAT\r\n");
        ASSERT_TRUE(client->WaitClosed()) << silentAt;
        EXPECT_EQ(client->received, "-ERR POP3 server not responding\r\n") << silentAt;
        EXPECT_NE(Log(*hub).find("Le serveur POP3 ne r\xE9pond plus, session termin\xE9" "e\r\n"), std::string::npos);
        EXPECT_TRUE(WaitUntil([&] { return hub->Proxy().m_sessions.empty(); }));
    }
}

TEST_F(Download, ServerClosingMidDownloadEndsTheSessionAndKeepsNothing)
{
    server->mailbox = {{Mail("One"), "u1"}, {Mail("Two"), "u2"}};
    server->hook = [](ServerConnection& c, const std::string& line) {
        if (line != "RETR 2")
            return false;
        c.Send("+OK 500 octets\r\nReturn-Path: <x@y>\r\n");
        c.Close();
        return true;
    };
    auto client = LoggedIn();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitClosed());
    EXPECT_EQ(hub->Proxy().m_processedMails.count(), 0);
    EXPECT_TRUE(hub->Proxy().m_sessions.empty());
    EXPECT_NE(Log(*hub).find("N\xB0" "1 D\xE9" "connect\xE9\r\n"), std::string::npos);
}

TEST_F(Download, AnswersSplitIntoManySmallPieces)
{
    server->mailbox = {{Mail("Split", Lines(50)), "u1"}};
    server->hook = [this](ServerConnection& c, const std::string& line) {
        if (line == "QUIT")
            return false;
        const std::string answer = server->DefaultAnswer(line);
        for (size_t i = 0; i < answer.size(); i += 7) {
            c.Send(answer.substr(i, 7));
            c.socket->flush();
            c.socket->waitForBytesWritten(10);
            QCoreApplication::processEvents();
        }
        return true;
    };
    auto client = Stat();
    const int32_t size = int(server->mailbox[0].text.size()) + 3;
    EXPECT_EQ(client->received, StrFormat("+OK 1 %d\r\n", size));
    client->received.clear();
    client->Send("RETR 1\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n.\r\n"));
    EXPECT_EQ(client->received, StrFormat("+OK %d octets\r\n", size) + server->mailbox[0].text + ".\r\n");
}

TEST_F(Download, ProgressFollowsTheDownload)
{
    server->mailbox = {{Mail("One"), "u1"}, {Mail("Two"), "u2"}};
    std::vector<std::string> statuses;
    std::vector<std::pair<int, int>> bars;
    hub->Progress().m_onChanged = [&] {
        statuses.push_back(hub->Progress().m_strStatus);
        bars.emplace_back(hub->Progress().m_nMailbox, hub->Progress().m_nMessage);
    };
    auto client = Stat();
    const int32_t s2 = int(server->mailbox[1].text.size()) + 3;
    EXPECT_NE(std::find(statuses.begin(), statuses.end(),
                        StrFormat("Message n\xB0" "2 sur 2 - T\xE9l\xE9" "chargement de 0ko sur %dko", s2 / 1024)),
              statuses.end());
    EXPECT_NE(std::find(bars.begin(), bars.end(), std::make_pair(50, 0)), bars.end());
    EXPECT_NE(std::find(bars.begin(), bars.end(), std::make_pair(50, 100)), bars.end());
    EXPECT_EQ(bars.back(), std::make_pair(0, 0));
    EXPECT_EQ(hub->Progress().m_strStatus, "");
}

TEST_F(Download, ServerClosingAtEveryStepEndsTheSession)
{
    for (const char* closeAt : {"USER alice", "PASS secret", "STAT", "LIST", "UIDL", "RETR 1"}) {
        server = std::make_unique<ScriptedServer>();
        server->mailbox = {{Mail("One"), "u1"}};
        const std::string at = closeAt;
        server->hook = [at](ServerConnection& c, const std::string& line) {
            if (line != at)
                return false;
            c.Close();
            return true;
        };
        auto client = Connect();
        client->Send(UserLine("alice", server->Port()) + "PASS secret\r\nSTAT\r\n");
        EXPECT_TRUE(client->WaitClosed()) << closeAt;
        EXPECT_TRUE(WaitUntil([&] { return hub->Proxy().m_sessions.empty(); })) << closeAt;
        EXPECT_EQ(hub->Proxy().m_processedMails.count(), 0) << closeAt;
    }
    EXPECT_TRUE(hub->Connections().Entries().empty());
    EXPECT_FALSE(hub->Tray().m_bBusy);
}

TEST_F(Download, ClientLineWithoutLineEndWaitsForIt)
{
    auto client = Connect();
    client->received.clear();
    client->Send("CA");
    Spin(30);
    EXPECT_EQ(client->received, "");
    client->Send("PA\r\n");
    ASSERT_TRUE(client->WaitFor(".\r\n"));
    EXPECT_TRUE(client->received.starts_with("+OK Capability list follows\r\n"));
}

TEST_F(Download, ZeroByteFirstIsRetrievedOnceAndDeliveredAsItCame)
{
    const std::string text = std::string(1, '\0') + "Subject: z\r\n\r\nbody\r\n";
    server->mailbox = {{text, "u"}};
    auto client = Stat();
    const int32_t stored = static_cast<int32_t>(text.size()) + 3;
    EXPECT_EQ(client->received, StrFormat("+OK 1 %d\r\n", stored));
    const std::string sent = server->Received();
    EXPECT_EQ(sent.find("RETR 1"), sent.rfind("RETR 1"));
    client->received.clear();
    client->Send("RETR 1\r\n");
    const std::string expected = StrFormat("+OK %d octets\r\n", stored) + text + ".\r\n";
    ASSERT_TRUE(client->WaitReceived(expected.size()));
    EXPECT_EQ(client->received, expected);
}

TEST_F(Download, BareLineFeedsEndTheAnswerAndArriveAsTheyCame)
{
    // LF line ends before a CR LF closing line, and before an LF one; one
    // RETR at a time and pipelined.
    const std::string lf = "Subject: lf\n\nbody\n";
    for (const bool pipelining : {false, true}) {
        SCOPED_TRACE(pipelining);
        server = std::make_unique<ScriptedServer>();
        server->pipelining = pipelining;
        server->mailbox = {{lf, "u1"}, {lf, "u2"}};
        server->hook = [&](ServerConnection& c, const std::string& line) {
            if (line != "RETR 2")
                return false;
            c.Send(StrFormat("+OK %d octets\r\n", static_cast<int>(lf.size())) + lf + ".\n");
            return true;
        };
        auto client = Stat();
        // The client's closing line is CR LF "." CR LF either way.
        const int32_t size = static_cast<int32_t>(lf.size()) + 3;
        EXPECT_EQ(client->received, StrFormat("+OK 2 %d\r\n", 2 * size));
        for (const auto& [n, answer] : {std::pair{1, StrFormat("+OK %d octets\r\n", size) + lf + ".\r\n"},
                                        std::pair{2, StrFormat("+OK %d octets\r\n", size) + lf + ".\r\n"}}) {
            client->received.clear();
            client->Send(StrFormat("RETR %d\r\n", n));
            ASSERT_TRUE(client->WaitReceived(answer.size()));
            EXPECT_EQ(client->received, answer);
        }
    }
}

// A server whose lines end with LF alone: its multi-line answers reach the
// client as they came but for the closing line, CR LF "." CR LF, whether
// served from memory, from the store, or relayed.
TEST_F(Download, ABareLineFeedServersAnswersCloseWithCrLfOnEveryPath)
{
    const std::string lf = "Subject: lf\n\nbody\n";
    const std::string served = StrFormat("+OK %d octets\r\n", static_cast<int>(lf.size()) + 3) + lf + ".\r\n";
    const struct {
        const char* path;
        bool analysisOff;
        bool stored;
        const char* command;
        std::string expected;
    } rows[] = {
        {"memory", false, false, "RETR 1", served},
        {"store", false, true, "RETR 1", served},
        {"relayed", true, false, "RETR 1", StrFormat("+OK %d octets\n", static_cast<int>(lf.size())) + lf + ".\r\n"},
        {"relayed listing", true, false, "UIDL", "+OK\n1 u1\n.\r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        hub = MakeHub();
        server = std::make_unique<ScriptedServer>();
        hub->SetAnalysisOff(row.analysisOff);
        if (row.stored) {
            hub->Settings().m_nMaxStoreMB = 16;
            hub->OpenStore();
            hub->Proxy().m_nHeldTextBytes = 1; // the text waits in the store
        }
        server->mailbox = {{lf, "u1"}};
        server->hook = [&](ServerConnection& c, const std::string& line) {
            if (line != "RETR 1" && line != "UIDL" && line != "LIST")
                return false;
            std::string answer = server->DefaultAnswer(line);
            std::erase(answer, '\r');
            c.Send(answer);
            return true;
        };
        auto client = LoggedIn();
        if (!row.analysisOff) {
            client->Send("STAT\r\n");
            ASSERT_TRUE(client->WaitFor("+OK 1 "));
            if (row.stored) {
                EXPECT_TRUE(hub->Proxy().m_sessions.head()->m_messages.at(1)->m_bTextStored);
            }
        }
        client->received.clear();
        client->Send(row.command + std::string("\r\n"));
        ASSERT_TRUE(client->WaitReceived(row.expected.size()));
        EXPECT_EQ(client->received, row.expected);
    }
}

// Server faults at each step of a session: what the client is told, whether
// the session goes on, and what is kept. A server out of step with its
// commands ends the session without QUIT, so it deletes nothing, and keeps
// no copy of that scan.
TEST_F(Download, ServerFaultsAtEachStep)
{
    enum Fault { kGarbage, kRefusal, kDoubled, kStray, kNul, kBareLf, kClose, kHalf };
    enum Outcome { kServed, kRelayed, kBroken, kClosed, kStalled };
    struct Row {
        const char* at; // the command answered wrongly, "" for the greeting
        Fault fault;
        Outcome outcome;
        int kept;       // copies kept after the STAT
        bool pipelining = false;
    };
    const Row rows[] = {
        {"", kGarbage, kBroken, 0},      {"", kRefusal, kClosed, 0},       {"", kStray, kBroken, 0},
        {"", kNul, kServed, 2},          {"", kBareLf, kServed, 2},        {"CAPA", kGarbage, kBroken, 0},
        {"CAPA", kRefusal, kServed, 2},  {"CAPA", kNul, kServed, 2},       {"CAPA", kStray, kBroken, 0},
        {"CAPA", kBareLf, kServed, 2},   {"STAT", kGarbage, kBroken, 0},   {"STAT", kRefusal, kRelayed, 0},
        {"STAT", kDoubled, kBroken, 0},  {"STAT", kNul, kServed, 2},       {"STAT", kClose, kClosed, 0},
        {"LIST", kGarbage, kBroken, 0},  {"LIST", kRefusal, kRelayed, 0},  {"LIST", kStray, kBroken, 0},
        {"LIST", kBareLf, kServed, 2},   {"UIDL", kGarbage, kBroken, 0},   {"UIDL", kRefusal, kServed, 2},
        {"UIDL", kStray, kBroken, 0},    {"UIDL", kBareLf, kServed, 2},    {"RETR 1", kGarbage, kBroken, 0},
        {"RETR 1", kRefusal, kServed, 1}, {"RETR 1", kStray, kBroken, 0},  {"RETR 1", kDoubled, kBroken, 0},
        {"RETR 1", kBareLf, kServed, 2}, {"RETR 1", kNul, kServed, 2},     {"RETR 1", kClose, kClosed, 0},
        {"STAT", kHalf, kStalled, 0},    {"LIST", kHalf, kStalled, 0},     {"RETR 1", kHalf, kStalled, 0},
        {"CAPA", kHalf, kStalled, 0},
        // Two refusals for one RETR would shift every later answer onto the
        // next message.
        {"RETR 1", kDoubled, kBroken, 0, true}, {"RETR 1", kGarbage, kBroken, 0, true},
    };
    for (const Row& row : rows) {
        const std::string at = row.at;
        SCOPED_TRACE(at + " fault " + std::to_string(row.fault) + (row.pipelining ? " pipelined" : ""));
        hub = MakeHub();
        server = std::make_unique<ScriptedServer>();
        server->pipelining = row.pipelining;
        server->mailbox = {{Mail("One"), "u1"}, {Mail("Two"), "u2"}};
        // The faulty form of an answer made from the right one.
        auto faulty = [&row](std::string right) {
            const size_t lf = right.find('\n');
            switch (row.fault) {
            case kGarbage: return std::string("what?\r\n");
            case kRefusal: return std::string("-ERR injected\r\n");
            case kDoubled: return row.at[0] == 'R' ? std::string("-ERR a\r\n-ERR b\r\n") : right.substr(0, lf + 1) + right;
            case kStray: return right + "+OK\r\n";
            case kNul: return right.at(0) == '+' && row.at == std::string("CAPA") ? std::string("-ERR injected") + '\0' + "fault\r\n"
                                                                                 : right.insert(lf - 1, 1, '\0');
            case kBareLf:
                for (size_t cr = right.find("\r\n"); cr != std::string::npos; cr = right.find("\r\n", cr))
                    right.erase(cr, 1);
                return right;
            case kClose: return std::string();
            case kHalf: return right.substr(0, right.size() / 2); // then silence
            }
            return right;
        };
        if (at.empty())
            server->greeting = faulty(server->greeting);
        else
            server->hook = [&, at](ServerConnection& c, const std::string& line) {
                if (line != at)
                    return false;
                const std::string answer = faulty(server->DefaultAnswer(line));
                if (answer.empty())
                    c.Close();
                else
                    c.Send(answer);
                return true;
            };
        auto client = Connect();
        client->received.clear();
        client->Send(UserLine("alice", server->Port()) + "PASS x\r\nSTAT\r\n");
        if (row.outcome == kStalled) {
            ASSERT_TRUE(client->WaitClosed());
            EXPECT_TRUE(client->received.ends_with("-ERR [SYS/TEMP] the POP3 server stopped in the middle of its answer\r\n"))
                << client->received;
        } else if (row.outcome == kBroken || row.outcome == kClosed) {
            ASSERT_TRUE(client->WaitClosed());
            if (row.outcome == kBroken) {
                EXPECT_NE(client->received.find("-ERR [SYS/TEMP] protocol error from the POP3 server: "),
                          std::string::npos)
                    << client->received;
                EXPECT_NE(Log(*hub).find("hors protocole"), std::string::npos);
            } else if (at.empty()) {
                EXPECT_EQ(client->received, "-ERR injected\r\n");
            }
            EXPECT_EQ(server->Received().find("QUIT"), std::string::npos);
        } else {
            ASSERT_TRUE(client->WaitFor(row.outcome == kRelayed ? "-ERR injected\r\n" : "+OK 2 "));
            client->Send("QUIT\r\n");
            ASSERT_TRUE(client->WaitClosed());
        }
        EXPECT_EQ(hub->Proxy().m_processedMails.count(), row.kept);
    }
}
