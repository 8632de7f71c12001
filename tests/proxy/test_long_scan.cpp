// A scan that outlasts ScanAnswerSeconds: the client is answered with the
// messages finished by then, sees nothing else for the rest of the session,
// and the next check has the rest.
#include "Pop3Harness.h"

#include "base/Format.h"

#include <QTimer>

using namespace harness;

class LongScan : public ProxyTest, public ::testing::WithParamInterface<bool>
{
protected:
    int32_t Stored(size_t i) const { return static_cast<int32_t>(server->mailbox[i].text.size()) + 3; }
    std::string Ask(Client& client, const std::string& line, const std::string& end = "\r\n")
    {
        client.received.clear();
        client.Send(line);
        EXPECT_TRUE(client.WaitFor(end, 5000)) << line;
        return client.received;
    }
    // The server answers `slow` `ms` after it is asked.
    void Slow(const std::string& slow, int ms)
    {
        server->hook = [this, slow, ms](ServerConnection& c, const std::string& line) {
            if (line != slow)
                return false;
            QTimer::singleShot(ms, &c, [this, &c, slow] { c.Send(server->DefaultAnswer(slow)); });
            return true;
        };
    }
};

// Without and with PIPELINING (all three RETRs outstanding at once).
TEST_P(LongScan, TheClientGetsTheFinishedMessagesAndTheNextCheckTheRest)
{
    server->pipelining = GetParam();
    hub->Settings().m_nScanAnswerSeconds = 1;
    hub->Proxy().m_nSilenceMs = 5000;
    server->mailbox = {{Mail("One"), "u1"}, {Mail("Two"), "u2"}, {Mail("Three"), "u3"}};
    // Message 3 comes slowly: the client's second runs out before it is in.
    Slow("RETR 3", 1600);
    auto client = LoggedIn();
    const int32_t both = Stored(0) + Stored(1);
    EXPECT_EQ(Ask(*client, "STAT\r\n"), StrFormat("+OK 2 %d\r\n", both));
    EXPECT_NE(Log(*hub).find("le client re\xE7oit les messages 1 \xE0 2 sur 3"), std::string::npos);

    // STAT, LIST, UIDL and RETR agree on messages 1 and 2; 3 does not exist.
    EXPECT_EQ(Ask(*client, "LIST\r\n", ".\r\n"),
              StrFormat("+OK Mailbox scan listing follows\r\n1 %d\r\n2 %d\r\n.\r\n", Stored(0), Stored(1)));
    EXPECT_EQ(Ask(*client, "UIDL\r\n", ".\r\n"), "+OK\r\n1 u1\r\n2 u2\r\n.\r\n");
    EXPECT_EQ(Ask(*client, "UIDL 2\r\n"), "+OK 2 u2\r\n");
    for (const char* line : {"RETR 3\r\n", "TOP 3 0\r\n", "LIST 3\r\n", "UIDL 3\r\n", "DELE 3\r\n"})
        EXPECT_EQ(Ask(*client, line), "-ERR no such message\r\n") << line;
    EXPECT_EQ(Ask(*client, "RETR 2\r\n", "\r\n.\r\n"),
              StrFormat("+OK %d octets\r\n", Stored(1)) + server->mailbox[1].text + ".\r\n");
    EXPECT_EQ(Ask(*client, "NOOP\r\n"), "+OK\r\n");
    EXPECT_EQ(server->Received().find("NOOP"), std::string::npos);

    // A deletion needs the server: it waits for message 3 to be in.
    EXPECT_EQ(Ask(*client, "DELE 1\r\n"), "+OK deleted\r\n");
    EXPECT_TRUE(server->Received().ends_with("RETR 3\r\nDELE 1\r\n"));
    EXPECT_EQ(Ask(*client, "STAT\r\n"), StrFormat("+OK 1 %d\r\n", Stored(1)));
    EXPECT_EQ(Ask(*client, "QUIT\r\n"), "+OK bye\r\n");
    ASSERT_TRUE(WaitUntil([&] { return hub->Proxy().m_sessions.empty(); }));

    // The next check: message 3 was finished in the background.
    server->hook = nullptr;
    const size_t before = server->Received().size();
    client = LoggedIn();
    EXPECT_EQ(Ask(*client, "STAT\r\n"), StrFormat("+OK 3 %d\r\n", both + Stored(2)));
    EXPECT_EQ(server->Received().find("RETR", before), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Pipelining, LongScan, ::testing::Bool());

TEST_F(LongScan, TimeRunningOutBeforeTheListingIsInAnswersAnEmptyMailbox)
{
    hub->Settings().m_nScanAnswerSeconds = 1;
    hub->Proxy().m_nSilenceMs = 5000;
    server->mailbox = {{Mail("One"), "u1"}, {Mail("Two"), "u2"}};
    Slow("UIDL", 1300);
    auto client = LoggedIn();
    EXPECT_EQ(Ask(*client, "STAT\r\n"), "+OK 0 0\r\n");
    EXPECT_NE(Log(*hub).find("messages 1 \xE0 0 sur 2"), std::string::npos);
    EXPECT_EQ(Ask(*client, "RETR 1\r\n"), "-ERR no such message\r\n");
    // QUIT waits for the retrievals under way, then ends the session.
    EXPECT_EQ(Ask(*client, "QUIT\r\n"), "+OK bye\r\n");
    const std::string received = server->Received();
    EXPECT_TRUE(received.ends_with("RETR 1\r\nQUIT\r\n") || received.ends_with("RETR 2\r\nQUIT\r\n")) << received;
}
