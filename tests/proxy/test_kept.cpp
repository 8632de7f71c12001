// The store of analysed messages seen from the mail client and the server:
// a restart that downloads nothing again, a scan cut short that resumes,
// accounts kept apart, and a scan that broke the protocol keeping nothing.
#include "Pop3Harness.h"

#include "base/Format.h"
#include "base/Texts.h"

#include <QTimer>
#include <chrono>
#include <cstdio>
#include <thread>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace harness;

class Kept : public ProxyTest
{
protected:
    void SetUp() override
    {
        ProxyTest::SetUp();
        WriteRules("SUBJECT:\r\nVIAGRA\r\n");
        OpenStore();
    }
    void OpenStore()
    {
        hub->Settings().m_nMaxStoreMB = 16;
        hub->OpenStore();
        ASSERT_NE(hub->Store(), nullptr);
    }
    // The program stops and starts again in the same folder.
    void Restart()
    {
        hub.reset();
        hub = MakeHub();
        OpenStore();
    }
    size_t LogCount(const std::string& needle) const
    {
        const std::string log = Log(*hub);
        size_t n = 0;
        for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1))
            ++n;
        return n;
    }
    struct Check {
        std::string server;  // what the server received during the check
        std::string client;  // the STAT answer, then each RETR answer
    };
    // Logs in, asks STAT and retrieves `retrieve`, then leaves without QUIT.
    Check RunCheck(const std::string& user, std::vector<int> retrieve)
    {
        Check check;
        const size_t before = server->Received().size();
        auto client = LoggedIn(user);
        client->received.clear();
        client->Send("STAT\r\n");
        EXPECT_TRUE(client->WaitFor("\r\n"));
        for (const int n : retrieve) {
            const size_t had = client->received.size();
            client->Send(StrFormat("RETR %d\r\n", n));
            EXPECT_TRUE(WaitUntil([&] { return client->received.find("\r\n.\r\n", had) != std::string::npos; }));
        }
        check.client = client->received;
        client->socket.disconnectFromHost();
        EXPECT_TRUE(WaitUntil([&] { return hub->Proxy().m_sessions.empty(); }));
        check.server = server->Received().substr(before);
        return check;
    }
};

TEST_F(Kept, ARestartDownloadsNothingAgainAndServesTheSameBytes)
{
    server->mailbox = {{Mail("Hello"), "u1"}, {Mail("Cheap viagra"), "u2"}, {Mail("Third"), "u3"}};
    const Check first = RunCheck("alice", {1, 2, 3});
    EXPECT_NE(first.client.find("Subject: _SPAM_ Cheap viagra"), std::string::npos) << first.client;

    Restart();
    ASSERT_EQ(hub->Proxy().m_processedMails.count(), 0);
    const Check second = RunCheck("alice", {1, 2, 3});
    EXPECT_EQ(second.server.find("RETR"), std::string::npos) << second.server;
    EXPECT_EQ(second.client, first.client);
    EXPECT_NE(Log(*hub).find("Messages n\xB0" "1, 2, 3 sont d\xE9j\xE0"), std::string::npos);

    // A message that vanished from the server is never served again; one that
    // changed under its UIDL is downloaded again.
    server->mailbox.erase(server->mailbox.begin());
    server->mailbox[1].text = Mail("Third", "A longer body than before.\r\n");
    Restart();
    const Check third = RunCheck("alice", {2});
    EXPECT_EQ(third.server.substr(third.server.find("UIDL\r\n")), "UIDL\r\nRETR 2\r\n");
    EXPECT_NE(third.client.find("A longer body"), std::string::npos);
    CMailRecord found;
    EXPECT_FALSE(hub->Store()->Find("127.0.0.1:" + std::to_string(server->Port()) + " alice", "u1",
                                    static_cast<int32_t>(Mail("Hello").size()), found, false));
}

// SpamHeaders: the spam is served with its two fields, and STAT, LIST, RETR
// and TOP count them alike, at once and after a restart from the store; the
// ham, and everything with the setting off, is served as before.
TEST_F(Kept, SpamHeadersAreInEverySizeTheClientIsToldAndSurviveARestart)
{
    server->mailbox = {{Mail("Hello"), "u1"}, {Mail("Cheap viagra"), "u2"}};
    const std::string ham = Mail("Hello") + ".\r\n";
    const std::string tagged = Mail("_SPAM_ Cheap viagra") + ".\r\n";
    const std::string flagged = "X-Spam-Flag: YES\r\nX-Orvelane-Reason: Subject (String search): VIAGRA\r\n" + tagged;
    // The answers to STAT, LIST, RETR 2 and TOP 2 0, one after the other.
    const auto answers = [&](const std::string& user) {
        auto client = LoggedIn(user);
        std::vector<std::string> out;
        for (const char* command : {"STAT\r\n", "LIST\r\n", "RETR 2\r\n", "TOP 2 0\r\n"}) {
            client->received.clear();
            client->Send(command);
            EXPECT_TRUE(client->WaitFor(command[0] == 'S' ? "\r\n" : "\r\n.\r\n")) << command;
            out.push_back(client->received);
        }
        client->Send("QUIT\r\n");
        EXPECT_TRUE(client->WaitClosed());
        return out;
    };
    const auto expected = [&](const std::string& spam) {
        const std::string top = spam.substr(0, spam.find("\r\n\r\n") + 4) + ".\r\n";
        return std::vector<std::string>{
            StrFormat("+OK 2 %zu\r\n", ham.size() + spam.size()),
            std::string(txt::kListingFollows) + StrFormat("1 %zu\r\n2 %zu\r\n.\r\n", ham.size(), spam.size()),
            StrFormat("+OK %zu octets\r\n", spam.size()) + spam, "+OK top of message follows\r\n" + top};
    };
    EXPECT_EQ(answers("off"), expected(tagged));
    hub->Settings().m_bSpamHeaders = true;
    const std::vector<std::string> on = answers("on");
    EXPECT_EQ(on, expected(flagged));
    EXPECT_EQ(hub->Proxy().m_sessions.count(), 0);
    Restart();
    const size_t before = server->Received().size();
    EXPECT_EQ(answers("on"), on);
    EXPECT_EQ(server->Received().find("RETR", before), std::string::npos);
}

TEST_F(Kept, TwoAccountsWithTheSameUidlsAreNeverMixed)
{
    // Same UIDL, same size, another text: each account gets its own message.
    server->mailbox = {{Mail("For alice"), "same"}};
    const Check alice = RunCheck("alice", {1});
    server->mailbox = {{Mail("For bobby"), "same"}};
    Restart();
    const Check bob = RunCheck("bob", {1});
    EXPECT_NE(bob.server.find("RETR 1"), std::string::npos);
    EXPECT_NE(bob.client.find("For bobby"), std::string::npos);
    EXPECT_NE(alice.client.find("For alice"), std::string::npos);
}

TEST_F(Kept, AScanCutShortResumesWhereItStoppedAndABrokenOneKeepsNothing)
{
    server->mailbox = {{Mail("One"), "u1"}, {Mail("Two"), "u2"}, {Mail("Three"), "u3"}};
    // The server hangs up in the middle of message 3.
    server->hook = [](ServerConnection& c, const std::string& line) {
        if (line != "RETR 3")
            return false;
        c.Send("+OK 40 octets\r\nSubject: Th");
        c.Close();
        return true;
    };
    auto client = LoggedIn();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitClosed());
    EXPECT_EQ(hub->MessageStore().Count(), 2);

    server->hook = nullptr;
    Restart();
    const Check resumed = RunCheck("alice", {3});
    EXPECT_EQ(resumed.server.substr(resumed.server.find("UIDL\r\n")), "UIDL\r\nRETR 3\r\n");
    EXPECT_NE(resumed.client.find("Subject: Three"), std::string::npos);
    EXPECT_EQ(hub->MessageStore().Count(), 3);

    // Out of step at message 2 of a new mailbox: what this scan kept goes.
    server->mailbox = {{Mail("Four"), "u4"}, {Mail("Five"), "u5"}};
    server->hook = [](ServerConnection& c, const std::string& line) {
        if (line != "RETR 2")
            return false;
        c.Send("+OK 5 octets\r\nabc\r\n.\r\n+OK stray\r\n");
        return true;
    };
    Restart();
    client = LoggedIn();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitClosed());
    // The first mailbox's three stay as history only; nothing of this scan.
    const std::vector<SKeptMessage> kept = hub->History({});
    ASSERT_EQ(kept.size(), 3u);
    for (const SKeptMessage& message : kept)
        EXPECT_TRUE(message.gone) << message.uidl;
}

TEST_F(Kept, TextsPastTheBoundWaitInTheStoreAndALostOneIsRefused)
{
    hub->Proxy().m_nHeldTextBytes = 1; // every message is analysed as it arrives
    server->mailbox = {{Mail("One"), "u1"}, {Mail("Cheap viagra"), "u2"}};
    auto client = LoggedIn();
    client->received.clear();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n"));
    ASSERT_EQ(hub->Proxy().m_sessions.head()->m_messages.count(), 2);
    for (CMailRecord* record : hub->Proxy().m_sessions.head()->m_messages) {
        EXPECT_TRUE(record->m_bTextStored);
        EXPECT_LT(record->m_pszText.capacity(), 32u); // the memory itself went
    }
    client->received.clear();
    client->Send("RETR 2\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n.\r\n"));
    EXPECT_EQ(client->received.find("+OK "), 0u);
    EXPECT_NE(client->received.find("Subject: _SPAM_ Cheap viagra"), std::string::npos);

    hub->MessageStore().Remove(hub->Proxy().m_sessions.head()->Account(), {"u1"});
    client->received.clear();
    client->Send("TOP 1 0\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n"));
    EXPECT_EQ(client->received, "-ERR [SYS/TEMP] message text unavailable, try again later\r\n");
    EXPECT_NE(Log(*hub).find("Message n\xB0" "1 introuvable"), std::string::npos);
}

TEST_F(Kept, AStoreLockedByAnotherProgramIsLeftAloneAndTheCheckGoesOn)
{
    hub->Proxy().m_nHeldTextBytes = 1; // one write per message: each one finds the store held
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(hub->MessageStore().Path().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    server->mailbox = {{Mail("One"), "u1"}, {Mail("Cheap viagra"), "u2"}};
    const Check held = RunCheck("alice", {1, 2});
    EXPECT_NE(held.client.find("Subject: One"), std::string::npos) << held.client;
    EXPECT_NE(held.client.find("Subject: _SPAM_ Cheap viagra"), std::string::npos) << held.client;
    EXPECT_EQ(LogCount("Base des messages analys\xE9s indisponible (base verrouill\xE9" "e par un autre programme)"),
              1u)
        << Log(*hub);
    EXPECT_EQ(hub->MessageStore().Count(), 0);

    // Let go, the store takes the next check's mail.
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    server->mailbox.push_back({Mail("Three"), "u3"});
    RunCheck("alice", {3});
    EXPECT_EQ(hub->MessageStore().Count(), 1);
    EXPECT_EQ(LogCount("indisponible"), 1u);
}

TEST_F(Kept, AFullDiskIsSaidOncePerCheckAndTheMailStillServed)
{
    // A file system of its own that the test fills: root only.
    const std::string mount = m_dir.path().toStdString() + "/small";
    ASSERT_EQ(::mkdir(mount.c_str(), 0700), 0);
    if (::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=512k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mount};
    ASSERT_TRUE(hub->MessageStore().Open(mount + "/Orvelane.db", 16 << 20));
    {
        const int fd = ::open((mount + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        while (::write(fd, "f", 1) > 0) {
        }
        ::close(fd);
    }
    hub->Proxy().m_nHeldTextBytes = 1;
    const std::string body = std::string(6000, 'b') + "\r\n";
    for (const char* round : {"a", "b"}) {
        SCOPED_TRACE(round);
        server->mailbox = {{Mail(round + std::string("1"), body), round + std::string("1")},
                           {Mail(round + std::string("2"), body), round + std::string("2")}};
        const Check check = RunCheck("alice", {1, 2});
        EXPECT_NE(check.client.find("Subject: " + std::string(round) + "2\r\n\r\n" + body), std::string::npos);
    }
    EXPECT_EQ(LogCount("Base des messages analys\xE9s indisponible (disque plein) : les messages ne sont gard\xE9s "
                       "qu'en m\xE9moire\r\n"),
              2u)
        << Log(*hub);
    hub.reset();
}

// Past a bound of prepared text, the messages that came first are analysed
// and kept while the others still come; the check reads the same to the
// client and in the log as one that analyses everything at the end.
TEST_F(Kept, PreparedMessagesAreAnalysedDuringTheDownloadAndTheCheckReadsTheSame)
{
    for (int n = 1; n <= 6; ++n)
        server->mailbox.push_back({Mail(n % 3 == 2 ? "Cheap viagra" : "Note " + std::to_string(n)),
                                   "u" + std::to_string(n)});
    // Each retrieval waits until the message before it is prepared, so the
    // early runs find what they may take; the last one notes what was listed.
    int analysedBeforeLast = -1;
    server->hook = [&](ServerConnection&, const std::string& line) {
        int n = 0;
        if (std::sscanf(line.c_str(), "RETR %d", &n) != 1 || n < 2 || hub->Proxy().m_sessions.empty())
            return false;
        const CMailRecord* before = hub->Proxy().m_sessions.head()->m_messages.at(n - 1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!hub->Prepared(*before) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (n == 6)
            analysedBeforeLast = hub->Proxy().m_processedMails.count();
        return false;
    };
    // The analysis lines, and the reading of the rule file, once.
    auto analysisLines = [](const std::string& log) {
        std::string lines;
        for (size_t at = 0, end; at < log.size(); at = end + 1) {
            end = std::min(log.find('\n', at), log.size());
            const std::string line = log.substr(at, end - at);
            if (line.find("Msg N\xB0") != std::string::npos || line.find("Chargement") != std::string::npos)
                lines += line.substr(line.find(' ')) + "\n"; // without the time
        }
        return lines;
    };
    std::vector<std::string> clients, logs;
    for (const int64_t early : {INT64_MAX, int64_t(1)}) {
        SCOPED_TRACE(early);
        if (!logs.empty()) { // a new start, with nothing kept from the first check
            const std::string path = hub->MessageStore().Path();
            hub.reset();
            for (const char* suffix : {"", "-wal", "-shm"})
                std::remove((path + suffix).c_str());
            hub = MakeHub();
            OpenStore();
        }
        hub->Proxy().m_nEarlyBatchBytes = early;
        const size_t logFrom = Log(*hub).size();
        clients.push_back(RunCheck("alice", {1, 2, 3, 4, 5, 6}).client);
        logs.push_back(analysisLines(Log(*hub).substr(logFrom)));
        // Four at least: the fifth may have been prepared already when its
        // download ended.
        if (early == 1)
            EXPECT_GE(analysedBeforeLast, 4);
        else
            EXPECT_EQ(analysedBeforeLast, 0);
        EXPECT_EQ(hub->MessageStore().Count(), 6);
    }
    EXPECT_NE(clients[0].find("Subject: _SPAM_ Cheap viagra"), std::string::npos) << clients[0];
    EXPECT_EQ(clients[1], clients[0]);
    EXPECT_EQ(logs[1], logs[0]);
    EXPECT_EQ(std::count(logs[1].begin(), logs[1].end(), '\n'), 15) << logs[1];
}
