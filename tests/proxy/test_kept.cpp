// The store of analysed messages seen from the mail client and the server:
// a restart that downloads nothing again, a scan cut short that resumes,
// accounts kept apart, and a scan that broke the protocol keeping nothing.
#include "Pop3Harness.h"

#include "base/Format.h"

#include <QTimer>

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

    // A message that vanished from the server leaves the store; one that
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
    EXPECT_EQ(hub->MessageStore().Count(), 0);
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
