// The mailbox scan, the hand-off and the answers served from the stored copies.
#include "Pop3Harness.h"

#include "base/Format.h"

using namespace harness;

class Scan : public ProxyTest
{
protected:
    void TwoMessages()
    {
        server->mailbox = {{Mail("First"), "uid-1"}, {Mail("Second", "Body two.\r\n"), "uid-2"}};
    }
    int32_t Stored(size_t i) const { return static_cast<int32_t>(server->mailbox[i].text.size()) + 3; }
    std::string Retrieved(size_t i) const
    {
        return StrFormat("+OK %d octets\r\n", Stored(i)) + server->mailbox[i].text + ".\r\n";
    }
};

TEST_F(Scan, StatScansDownloadsAndServesTheStoredCopies)
{
    TwoMessages();
    auto client = LoggedIn();
    client->received.clear();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n"));
    EXPECT_EQ(client->received, StrFormat("+OK 2 %d\r\n", Stored(0) + Stored(1)));
    EXPECT_EQ(server->Received(), "USER alice\r\nPASS secret\r\nCAPA\r\nSTAT\r\nLIST\r\nUIDL\r\nRETR 1\r\nRETR 2\r\n");

    client->received.clear();
    client->Send("RETR 1\r\n");
    const std::string one = Retrieved(0);
    ASSERT_TRUE(client->WaitReceived(one.size()));
    EXPECT_EQ(client->received, one);
    client->received.clear();
    client->Send("RETR 2\r\n");
    ASSERT_TRUE(client->WaitReceived(Retrieved(1).size()));
    EXPECT_EQ(client->received, Retrieved(1));

    // Serving lasts: a lower number after the highest is still served here.
    client->received.clear();
    client->Send("RETR 1\r\n");
    ASSERT_TRUE(client->WaitReceived(one.size()));
    EXPECT_EQ(client->received, one);
    client->received.clear();
    client->Send("DELE 1\r\nQUIT\r\n");
    ASSERT_TRUE(client->WaitClosed());
    EXPECT_EQ(client->received, "+OK deleted\r\n+OK bye\r\n");
    EXPECT_TRUE(server->Received().ends_with("RETR 2\r\nDELE 1\r\nQUIT\r\n"));

    // The copies are remembered for this account, in order.
    ASSERT_EQ(hub->Proxy().m_processedMails.count(), 2);
    EXPECT_EQ(hub->Proxy().m_processedMails.head()->m_strUidl, "uid-1");
    EXPECT_TRUE(hub->Proxy().m_processedMails.head()->m_bAnalysed);
    EXPECT_EQ(hub->Proxy().m_processedMails.head()->m_nClientNumber, 1);

    const std::string log = Log(*hub);
    // The retrieved texts are not traced, the commands are.
    EXPECT_NE(log.find("N\xB0" "1 - C   O->P | RETR 2\r\n"), std::string::npos);
    EXPECT_NE(log.find(StrFormat("N\xB0" "1 - C<-O   P | +OK 2 %d\r\n", Stored(0) + Stored(1))), std::string::npos);
    EXPECT_EQ(log.find("Body two."), std::string::npos);
    EXPECT_EQ(log.find("Conversion"), std::string::npos);
    EXPECT_EQ(hub->Progress().m_nMailbox, 0);
    EXPECT_EQ(hub->Progress().m_strStatus, "");
}

TEST_F(Scan, SixLinesInOneWriteGetSixAnswersInOrder)
{
    TwoMessages();
    auto client = LoggedIn();
    client->received.clear();
    client->Send("STAT\r\nLIST\r\nRETR 2\r\nRETR 1\r\nDELE 1\r\nQUIT\r\n");
    ASSERT_TRUE(client->WaitClosed());
    EXPECT_EQ(client->received,
              StrFormat("+OK 2 %d\r\n+OK Mailbox scan listing follows\r\n1 %d\r\n2 %d\r\n.\r\n", Stored(0) + Stored(1),
                        Stored(0), Stored(1)) +
                  Retrieved(1) + Retrieved(0) + "+OK deleted\r\n+OK bye\r\n");
    EXPECT_EQ(server->Received(),
              "USER alice\r\nPASS secret\r\nCAPA\r\nSTAT\r\nLIST\r\nUIDL\r\nRETR 1\r\nRETR 2\r\nDELE 1\r\nQUIT\r\n");
}

TEST_F(Scan, ListFirstGetsTheListingAndLaterListsAreLocal)
{
    TwoMessages();
    auto client = LoggedIn();
    client->received.clear();
    client->Send("LIST\r\n");
    ASSERT_TRUE(client->WaitFor(".\r\n"));
    const std::string listing =
        StrFormat("+OK Mailbox scan listing follows\r\n1 %d\r\n2 %d\r\n.\r\n", Stored(0), Stored(1));
    EXPECT_EQ(client->received, listing);

    // LIST while the listing form is still wanted scans again, from the copies.
    client->received.clear();
    client->Send("LIST\r\n");
    ASSERT_TRUE(client->WaitFor(".\r\n"));
    EXPECT_EQ(client->received, listing);
    EXPECT_NE(Log(*hub).find("Messages n\xB0" "1, 2 sont d\xE9j\xE0 t\xE9l\xE9" "charg\xE9s et analys\xE9s\r\n"),
              std::string::npos);
    EXPECT_EQ(server->Received(), "USER alice\r\nPASS secret\r\nCAPA\r\nSTAT\r\nLIST\r\nUIDL\r\nRETR 1\r\nRETR 2\r\n"
                                  "STAT\r\nLIST\r\nUIDL\r\n");
}

TEST_F(Scan, StatThenListAndListWithNumbers)
{
    TwoMessages();
    auto client = LoggedIn();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("+OK 2 "));
    client->received.clear();
    client->Send("LIST\r\nLIST 2\r\nLIST 9\r\nlist 1\r\n");
    ASSERT_TRUE(client->WaitFor("+OK 1 "));
    EXPECT_EQ(client->received,
              StrFormat("+OK Mailbox scan listing follows\r\n1 %d\r\n2 %d\r\n.\r\n+OK 2 %d\r\n-ERR no such message\r\n+OK 1 %d\r\n",
                        Stored(0), Stored(1), Stored(1), Stored(0)));
    // No second scan: the server saw one STAT.
    EXPECT_EQ(server->Received().find("STAT", server->Received().find("STAT") + 1), std::string::npos);
}

TEST_F(Scan, EmptyMailboxAnswersAtOnceAndRelays)
{
    auto client = LoggedIn();
    client->received.clear();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n"));
    EXPECT_EQ(client->received, "+OK 0 0\r\n");
    EXPECT_EQ(server->Received(), "USER alice\r\nPASS secret\r\nCAPA\r\nSTAT\r\nLIST\r\n");
    EXPECT_EQ(hub->Proxy().m_sessions.head()->m_nState, kStateRelay);

    auto second = LoggedIn("bob");
    second->received.clear();
    second->Send("LIST\r\n");
    ASSERT_TRUE(second->WaitFor(".\r\n"));
    EXPECT_EQ(second->received, "+OK Mailbox scan listing follows\r\n.\r\n");
}

TEST_F(Scan, SecondStatReusesEverythingWithoutRetrieval)
{
    TwoMessages();
    auto client = LoggedIn();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("+OK 2 "));
    const size_t before = server->Received().size();
    client->received.clear();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n"));
    EXPECT_EQ(client->received, StrFormat("+OK 2 %d\r\n", Stored(0) + Stored(1)));
    EXPECT_EQ(server->Received().substr(before), "STAT\r\nLIST\r\nUIDL\r\n");
    EXPECT_EQ(hub->Proxy().m_processedMails.count(), 2);
}

TEST_F(Scan, CopiesOnlyForAUidlOfItsOwnAndAnUnchangedMessage)
{
    // A UIDL given to two messages identifies neither: both are downloaded
    // at every check and no copy is kept. A message listed with another size
    // under its UIDL has changed on the server: it is downloaded again and
    // its old copy dropped.
    server->mailbox = {{Mail("First"), "dup"}, {Mail("Second", "Body two.\r\n"), "dup"}, {Mail("Old"), "u"}};
    auto check = [&] {
        const size_t before = server->Received().size();
        auto client = LoggedIn();
        client->Send("STAT\r\n");
        EXPECT_TRUE(client->WaitFor("+OK 3 "));
        for (size_t n : {2u, 3u}) {
            client->received.clear();
            client->Send(StrFormat("RETR %d\r\n", static_cast<int>(n)));
            EXPECT_TRUE(client->WaitReceived(Retrieved(n - 1).size()));
            EXPECT_EQ(client->received, Retrieved(n - 1)) << n;
        }
        client->socket.disconnectFromHost();
        EXPECT_TRUE(WaitUntil([&] { return hub->Proxy().m_sessions.empty(); }));
        return server->Received().substr(before);
    };
    EXPECT_NE(check().find("RETR 1\r\nRETR 2\r\nRETR 3\r\n"), std::string::npos);
    server->mailbox[2].text = Mail("New", "A longer body than before.\r\n");
    EXPECT_NE(check().find("RETR 1\r\nRETR 2\r\nRETR 3\r\n"), std::string::npos);
    const std::string third = check();
    EXPECT_NE(third.find("RETR 2\r\n"), std::string::npos);
    EXPECT_EQ(third.find("RETR 3"), std::string::npos); // unchanged since: reused
    ASSERT_EQ(hub->Proxy().m_processedMails.count(), 1);
    EXPECT_EQ(hub->Proxy().m_processedMails.head()->m_strUidl, "u");
}

TEST_F(Scan, MessagesOneAndThreeKnownFromAnEarlierSession)
{
    server->mailbox = {{Mail("A"), "u1"}, {Mail("B"), "u2"}, {Mail("C"), "u3"}};
    {
        auto first = LoggedIn();
        first->Send("STAT\r\n");
        ASSERT_TRUE(first->WaitFor("+OK 3 "));
        first->socket.disconnectFromHost();
        ASSERT_TRUE(WaitUntil([&] { return hub->Proxy().m_sessions.empty(); }));
    }
    // Forget message 2's copy: only 1 and 3 remain known.
    for (CMailRecord* record : hub->Proxy().m_processedMails)
        if (record->m_strUidl == "u2") {
            hub->Proxy().m_processedMails.remove(record);
            break;
        }
    auto client = LoggedIn();
    const size_t before = server->Received().size();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("+OK 3 "));
    EXPECT_EQ(server->Received().substr(before), "CAPA\r\nSTAT\r\nLIST\r\nUIDL\r\nRETR 2\r\n");
    EXPECT_NE(Log(*hub).find("Messages n\xB0" "1, 3 sont d\xE9j\xE0"), std::string::npos);
    // Message 2's copy goes to the newest end; 1 and 3 keep their places.
    ASSERT_EQ(hub->Proxy().m_processedMails.count(), 3);
    EXPECT_EQ(hub->Proxy().m_processedMails.head()->m_strUidl, "u1");
    EXPECT_EQ(hub->Proxy().m_processedMails.tail()->m_strUidl, "u2");
}

TEST_F(Scan, SingleKnownMessageTakesTheSingularLine)
{
    server->mailbox = {{Mail("A"), "u1"}};
    auto client = LoggedIn();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("+OK 1 "));
    client->Send("STAT\r\n");
    ASSERT_TRUE(WaitUntil([&] { return Log(*hub).find("Message n\xB0" "1 est d\xE9j\xE0 t\xE9l\xE9" "charg\xE9 et analys\xE9\r\n") != std::string::npos; }));
}

TEST_F(Scan, OtherAccountsNeverReceiveOneAnothersCopies)
{
    server->mailbox = {{Mail("For alice"), "same-uid"}};
    auto alice = LoggedIn("alice");
    alice->Send("STAT\r\n");
    ASSERT_TRUE(alice->WaitFor("+OK 1 "));

    server->mailbox = {{Mail("For bob", "Bob's text.\r\n"), "same-uid"}};
    auto bob = LoggedIn("bob");
    bob->received.clear();
    bob->Send("STAT\r\nRETR 1\r\n");
    ASSERT_TRUE(bob->WaitFor("Bob's text.\r\n.\r\n"));
    EXPECT_EQ(bob->received.find("For alice"), std::string::npos);
    EXPECT_TRUE(server->Received().ends_with("STAT\r\nLIST\r\nUIDL\r\nRETR 1\r\n"));
    EXPECT_EQ(hub->Proxy().m_processedMails.count(), 2);
}

TEST_F(Scan, MessagesWithoutUidlAreNeverReused)
{
    server->uidl = false;
    server->mailbox = {{Mail("One"), ""}, {Mail("Two"), ""}};
    auto client = LoggedIn();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("+OK 2 "));
    EXPECT_TRUE(server->Received().ends_with("UIDL\r\nRETR 1\r\nRETR 2\r\n"));
    server->mailbox = {{Mail("Other one"), ""}, {Mail("Other two"), ""}};
    client->received.clear();
    client->Send("STAT\r\nRETR 2\r\n");
    ASSERT_TRUE(client->WaitFor("Hello.\r\n.\r\n"));
    EXPECT_NE(client->received.find("Subject: Other two"), std::string::npos);
    EXPECT_EQ(Log(*hub).find("d\xE9j\xE0"), std::string::npos);
}

TEST_F(Scan, UidlLinesOutOfRangeAreIgnored)
{
    server->mailbox = {{Mail("One"), "a"}, {Mail("Two"), "b"}};
    server->hook = [](ServerConnection& c, const std::string& line) {
        if (line != "UIDL")
            return false;
        c.Send("+OK\r\n0 zero\r\n2 b\r\n7 seven\r\n.\r\n");
        return true;
    };
    auto client = LoggedIn();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("+OK 2 "));
    CSession* session = hub->Proxy().m_sessions.head();
    EXPECT_EQ(hub->RecordAt(session, 1)->m_strUidl, "");
    EXPECT_EQ(hub->RecordAt(session, 2)->m_strUidl, "b");
}

TEST_F(Scan, ListAnswerInPieces)
{
    server->mailbox = {{Mail("One"), "a"}, {Mail("Two"), "b"}, {Mail("Three"), "c"}};
    server->hook = [this](ServerConnection& c, const std::string& line) {
        if (line != "LIST")
            return false;
        const auto& m = server->mailbox;
        c.Send(StrFormat("+OK 3 messages\r\n1 %d\r\n", int(m[0].text.size())));
        c.socket->flush();
        Spin(20);
        c.Send(StrFormat("2 %d\r\n", int(m[1].text.size())));
        c.socket->flush();
        Spin(20);
        c.Send(StrFormat("3 %d\r\n.\r\n", int(m[2].text.size())));
        return true;
    };
    auto client = LoggedIn();
    client->Send("LIST\r\n");
    ASSERT_TRUE(client->WaitFor(".\r\n"));
    EXPECT_NE(client->received.find(StrFormat("1 %d\r\n2 %d\r\n3 %d\r\n", Stored(0), Stored(1), Stored(2))),
              std::string::npos);
}

TEST_F(Scan, CurlStyleRetrFirstAfterLogin)
{
    TwoMessages();
    auto client = LoggedIn();
    client->received.clear();
    client->Send("RETR 2\r\n");
    ASSERT_TRUE(client->WaitReceived(Retrieved(1).size()));
    EXPECT_EQ(client->received, Retrieved(1));
    EXPECT_TRUE(server->Received().ends_with("STAT\r\nLIST\r\nUIDL\r\nRETR 1\r\nRETR 2\r\n"));
    EXPECT_EQ(hub->Proxy().m_sessions.head()->m_nState, kStateServing);
}

TEST_F(Scan, TopIsAnsweredFromTheStoredCopy)
{
    server->mailbox = {{Mail("Top", "line 1\r\nline 2\r\n..dotted\r\nline 4\r\n"), "t"}};
    auto client = LoggedIn();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("+OK 1 "));
    const size_t before = server->Received().size();
    client->received.clear();
    client->Send("TOP 1 2\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n.\r\n"));
    EXPECT_EQ(client->received, "+OK top of message follows\r\n" + Mail("Top", "line 1\r\nline 2\r\n") + ".\r\n");
    client->received.clear();
    client->Send("top 1 0\r\nTOP 1 9\r\nTOP 5 1\r\nTOP 1\r\nRETR 3\r\nRETR\r\n");
    ASSERT_TRUE(client->WaitFor("-ERR no such message\r\n-ERR invalid arguments\r\n-ERR no such message\r\n-ERR no such message\r\n"));
    EXPECT_EQ(client->received, "+OK top of message follows\r\n" + Mail("Top", "") + ".\r\n" +
                                    "+OK top of message follows\r\n" + server->mailbox[0].text + ".\r\n" +
                                    "-ERR no such message\r\n-ERR invalid arguments\r\n-ERR no such message\r\n"
                                    "-ERR no such message\r\n");
    EXPECT_EQ(server->Received().size(), before);
}

TEST_F(Scan, LowerCaseCommandsAreRecognised)
{
    TwoMessages();
    auto client = LoggedIn();
    client->received.clear();
    client->Send("stat\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n"));
    EXPECT_EQ(client->received, StrFormat("+OK 2 %d\r\n", Stored(0) + Stored(1)));
    client->received.clear();
    client->Send("retr 1\r\n");
    ASSERT_TRUE(client->WaitReceived(Retrieved(0).size()));
    EXPECT_EQ(client->received, Retrieved(0));
    EXPECT_TRUE(server->Received().ends_with("RETR 2\r\n"));
}

TEST_F(Scan, UidlPassesThroughInServing)
{
    TwoMessages();
    auto client = LoggedIn();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("+OK 2 "));
    client->received.clear();
    client->Send("UIDL\r\nRETR 1\r\n");
    ASSERT_TRUE(client->WaitReceived(std::string("+OK\r\n1 uid-1\r\n2 uid-2\r\n.\r\n").size() + Retrieved(0).size()));
    // The local RETR answer does not overtake the server's UIDL answer.
    EXPECT_EQ(client->received, "+OK\r\n1 uid-1\r\n2 uid-2\r\n.\r\n" + Retrieved(0));
}

TEST_F(Scan, MaxMemoMsgBoundsTheCopies)
{
    hub->Settings().m_nMaxMemoMsg = 0;
    TwoMessages();
    auto client = LoggedIn();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("+OK 2 "));
    EXPECT_EQ(hub->Proxy().m_processedMails.count(), 0);
    client->Send("STAT\r\n");
    ASSERT_TRUE(WaitUntil([&] { return server->Received().ends_with("UIDL\r\nRETR 1\r\nRETR 2\r\n"); }));
}

TEST_F(Scan, OldestCopiesAreEvicted)
{
    hub->Settings().m_nMaxMemoMsg = 3;
    server->mailbox = {{Mail("1"), "u1"}, {Mail("2"), "u2"}};
    auto client = LoggedIn();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("+OK 2 "));
    server->mailbox = {{Mail("3"), "u3"}, {Mail("4"), "u4"}};
    client->Send("STAT\r\n");
    ASSERT_TRUE(WaitUntil([&] { return hub->Proxy().m_processedMails.count() == 3 && hub->Proxy().m_processedMails.tail()->m_strUidl == "u4"; }));
    EXPECT_EQ(hub->Proxy().m_processedMails.head()->m_strUidl, "u2");
}

TEST_F(Scan, TopBeforeAnyStatStartsTheScanToo)
{
    server->mailbox = {{Mail("Top first", "b1\r\nb2\r\n"), "t1"}};
    auto client = LoggedIn();
    client->received.clear();
    client->Send("TOP 1 1\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n.\r\n"));
    EXPECT_EQ(client->received, "+OK top of message follows\r\n" + Mail("Top first", "b1\r\n") + ".\r\n");
    EXPECT_TRUE(server->Received().ends_with("STAT\r\nLIST\r\nUIDL\r\nRETR 1\r\n"));
}

TEST_F(Scan, RetrFirstOnAnEmptyMailboxGoesToTheServer)
{
    auto client = LoggedIn();
    client->received.clear();
    client->Send("RETR 1\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n"));
    EXPECT_EQ(client->received, "-ERR no such message\r\n");
    EXPECT_TRUE(server->Received().ends_with("STAT\r\nLIST\r\nRETR 1\r\n"));
}
