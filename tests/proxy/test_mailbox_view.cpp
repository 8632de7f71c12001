// The mailbox as the client sees it: message numbers are the server's for the
// whole session, a deleted message is gone, and LIST n answers for one
// message.
#include "Pop3Harness.h"

#include "base/Format.h"

using namespace harness;

class MailboxView : public ProxyTest
{
protected:
    void SetUp() override
    {
        ProxyTest::SetUp();
        server->mailbox = {{Mail("One"), "u1"}, {Mail("Two", "Body two.\r\n"), "u2"},
                           {Mail("Three", "Body three, longer.\r\n"), "u3"}};
    }
    int32_t Stored(int n) const { return static_cast<int32_t>(server->mailbox[n - 1].text.size()) + 3; }
    std::string Retrieved(int n) const
    {
        return StrFormat("+OK %d octets\r\n", Stored(n)) + server->mailbox[n - 1].text + ".\r\n";
    }
    // Sends `line` and returns the answer, which ends with `end`.
    std::string Ask(Client& client, const std::string& line, const std::string& end = "\r\n")
    {
        client.received.clear();
        client.Send(line);
        EXPECT_TRUE(client.WaitFor(end)) << line;
        return std::exchange(client.received, std::string());
    }
};

TEST_F(MailboxView, NumbersStayTheServersAfterDeleAndRescan)
{
    auto client = LoggedIn();
    EXPECT_EQ(Ask(*client, "STAT\r\n"), StrFormat("+OK 3 %d\r\n", Stored(1) + Stored(2) + Stored(3)));
    EXPECT_EQ(Ask(*client, "RETR 1\r\n", "\r\n.\r\n"), Retrieved(1));
    EXPECT_EQ(Ask(*client, "DELE 1\r\n"), "+OK deleted\r\n");

    // Gone for the client at once, as on the server.
    EXPECT_EQ(Ask(*client, "LIST 1\r\n"), "-ERR no such message\r\n");
    EXPECT_EQ(Ask(*client, "RETR 1\r\n"), "-ERR no such message\r\n");
    EXPECT_EQ(Ask(*client, "TOP 1 0\r\n"), "-ERR no such message\r\n");
    EXPECT_EQ(Ask(*client, "LIST\r\n", "\r\n.\r\n"),
              StrFormat("+OK Mailbox scan listing follows\r\n2 %d\r\n3 %d\r\n.\r\n", Stored(2), Stored(3)));

    // A new STAT scans again: the server lists 2 and 3, and they keep their numbers.
    EXPECT_EQ(Ask(*client, "STAT\r\n"), StrFormat("+OK 2 %d\r\n", Stored(2) + Stored(3)));
    EXPECT_EQ(Ask(*client, "LIST 3\r\n"), StrFormat("+OK 3 %d\r\n", Stored(3)));
    EXPECT_EQ(Ask(*client, "RETR 3\r\n", "\r\n.\r\n"), Retrieved(3));
    EXPECT_EQ(Ask(*client, "DELE 3\r\n"), "+OK deleted\r\n");
    EXPECT_EQ(Ask(*client, "QUIT\r\n"), "+OK bye\r\n");
    // Exactly the two messages the client deleted are gone from the server.
    ASSERT_TRUE(WaitUntil([&] { return !server->expunged.empty(); }));
    EXPECT_EQ(server->expunged, (std::vector<std::string>{"u1", "u3"}));
}

TEST_F(MailboxView, RsetBringsDeletedMessagesBack)
{
    auto client = LoggedIn();
    Ask(*client, "STAT\r\n");
    EXPECT_EQ(Ask(*client, "DELE 2\r\n"), "+OK deleted\r\n");
    EXPECT_EQ(Ask(*client, "DELE 2\r\n"), "-ERR no such message\r\n");
    EXPECT_EQ(Ask(*client, "LIST 2\r\n"), "-ERR no such message\r\n");
    EXPECT_EQ(Ask(*client, "RSET\r\n"), "+OK\r\n");
    EXPECT_EQ(Ask(*client, "LIST 2\r\n"), StrFormat("+OK 2 %d\r\n", Stored(2)));
    EXPECT_EQ(Ask(*client, "RETR 2\r\n", "\r\n.\r\n"), Retrieved(2));
}

TEST_F(MailboxView, ListWithANumberAnswersForThatMessageAlone)
{
    const std::string one = StrFormat("+OK 2 %d\r\n", Stored(2));
    const std::string none = "-ERR no such message\r\n";
    // The first LIST n scans the mailbox and still gets the one-line answer.
    auto first = LoggedIn();
    EXPECT_EQ(Ask(*first, "LIST 2\r\n"), one);
    auto missing = LoggedIn();
    EXPECT_EQ(Ask(*missing, "LIST 9\r\n"), none);

    // After a scan started by RETR, and for every form of a bad number.
    auto client = LoggedIn();
    EXPECT_EQ(Ask(*client, "RETR 1\r\n", "\r\n.\r\n"), Retrieved(1));
    const std::pair<const char*, std::string> asked[] = {
        {"LIST 2\r\n", one}, {"LIST  2 \r\n", one}, {"LIST 0\r\n", none},
        {"LIST -1\r\n", none}, {"LIST 4\r\n", none}, {"LIST x\r\n", none},
    };
    for (const auto& [line, answer] : asked)
        EXPECT_EQ(Ask(*client, line), answer) << line;
}
