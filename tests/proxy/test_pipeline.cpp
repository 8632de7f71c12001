// Retrievals kept outstanding together with a server that advertises
// PIPELINING: answers merged into one chunk or cut anywhere, a refusal or a
// close inside the window, the wait after an early closing line, and the
// same bytes for the client as one retrieval at a time.
#include "Pop3Harness.h"

#include "base/Format.h"

#include <QElapsedTimer>

using namespace harness;

namespace {

int Count(const std::string& text, const std::string& needle)
{
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

} // namespace

class Pipeline : public ProxyTest
{
protected:
    void SetUp() override
    {
        ProxyTest::SetUp();
        server->pipelining = true;
    }
    // Holds every RETR answer until all `count` RETR lines have arrived,
    // then sends them as `pieces` cut at the given offsets.
    void AnswerAllAtOnce(int count, std::vector<size_t> cuts = {})
    {
        server->hook = [this, count, cuts](ServerConnection& c, const std::string& line) {
            if (!line.starts_with("RETR ") || std::stoi(line.substr(5)) > count)
                return false;
            if (line != "RETR " + std::to_string(count))
                return true; // held
            std::string all;
            for (int i = 1; i <= count; ++i)
                all += server->DefaultAnswer("RETR " + std::to_string(i));
            size_t from = 0;
            for (size_t cut : cuts) {
                c.Send(all.substr(from, cut - from));
                c.socket->flush();
                c.socket->waitForBytesWritten(10);
                Spin(2);
                from = cut;
            }
            c.Send(all.substr(from));
            return true;
        };
    }
    std::vector<std::string> Stored() const
    {
        std::vector<std::string> texts;
        for (CMailRecord* record : hub->Proxy().m_processedMails)
            texts.push_back(record->m_strUidl + "=" + record->m_pszText + "|" + std::to_string(record->m_nSize));
        return texts;
    }
};

TEST_F(Pipeline, CapaDecidesAndAllAnswersInOneChunkAreCut)
{
    server->mailbox = {{Mail("One"), "u1"}, {"", "u2"}, {Mail("Three", "..dot\r\n"), "u3"}};
    AnswerAllAtOnce(3);
    auto client = LoggedIn();
    client->received.clear();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n"));
    const int32_t s1 = int(server->mailbox[0].text.size()) + 3;
    const int32_t s3 = int(server->mailbox[2].text.size()) + 3;
    EXPECT_EQ(client->received, StrFormat("+OK 3 %d\r\n", s1 + 3 + s3));
    EXPECT_TRUE(server->Received().ends_with("CAPA\r\nSTAT\r\nLIST\r\nUIDL\r\nRETR 1\r\nRETR 2\r\nRETR 3\r\n"));
    const std::vector<std::string> expected = {"u1=" + server->mailbox[0].text + ".\r\n|" + std::to_string(s1),
                                               "u2=.\r\n|3",
                                               "u3=" + server->mailbox[2].text + ".\r\n|" + std::to_string(s3)};
    EXPECT_EQ(Stored(), expected);
    // Every RETR is traced, in order.
    const std::string log = Log(*hub);
    const size_t r1 = log.find("RETR 1"), r2 = log.find("RETR 2"), r3 = log.find("RETR 3");
    ASSERT_NE(r3, std::string::npos);
    EXPECT_LT(r1, r2);
    EXPECT_LT(r2, r3);
}

TEST_F(Pipeline, ScanQuestionsGoTogetherAndAreJudgedInTurn)
{
    // STAT refused: the answers to the LIST and UIDL asked with it stay
    // with the proxy, and the next line is relayed as usual.
    server->mailbox = {{Mail("One"), "u1"}};
    server->hook = [](ServerConnection& c, const std::string& line) {
        if (line != "STAT")
            return false;
        c.Send("-ERR locked\r\n");
        return true;
    };
    auto client = LoggedIn();
    client->received.clear();
    client->Send("STAT\r\nNOOP\r\n");
    ASSERT_TRUE(client->WaitFor("+OK\r\n"));
    EXPECT_EQ(client->received, "-ERR locked\r\n+OK\r\n");
    EXPECT_TRUE(server->Received().ends_with("CAPA\r\nSTAT\r\nLIST\r\nUIDL\r\nNOOP\r\n"));

    server->hook = nullptr;
    server->mailbox.clear();
    client->received.clear();
    client->Send("STAT\r\nNOOP\r\n");
    ASSERT_TRUE(client->WaitFor("+OK\r\n"));
    EXPECT_EQ(client->received, "+OK 0 0\r\n+OK\r\n");
}

TEST_F(Pipeline, AnswersCutAtEveryOffset)
{
    server->mailbox = {{"A: b\r\n\r\nx\r\n", "u1"}, {"", "u2"}, {"..\r\n", "u3"}};
    std::string all;
    for (int i = 1; i <= 3; ++i)
        all += server->DefaultAnswer("RETR " + std::to_string(i));
    for (size_t cut = 1; cut < all.size(); ++cut) {
        SCOPED_TRACE(cut);
        hub->Proxy().m_processedMails.clear();
        AnswerAllAtOnce(3, {cut});
        auto client = LoggedIn();
        client->received.clear();
        client->Send("STAT\r\n");
        ASSERT_TRUE(client->WaitFor("\r\n"));
        // Message 3 holds a dot-stuffed "." line, kept as it came.
        const std::vector<std::string> expected = {"u1=A: b\r\n\r\nx\r\n.\r\n|14", "u2=.\r\n|3",
                                                   "u3=..\r\n.\r\n|7"};
        EXPECT_EQ(client->received, "+OK 3 24\r\n");
        EXPECT_EQ(Stored(), expected);
        client->Send("QUIT\r\n");
        ASSERT_TRUE(client->WaitClosed());
    }
}

TEST_F(Pipeline, WindowIsBoundedAndRefilled)
{
    for (int i = 0; i < 40; ++i)
        server->mailbox.push_back({Mail("M" + std::to_string(i)), "u" + std::to_string(i)});
    // The window holds the listed bytes of three of these messages.
    hub->Proxy().m_nPipelineBytes = 3 * static_cast<int64_t>(server->mailbox.back().text.size()) + 2;
    int most = 0;
    server->hook = [&](ServerConnection& c, const std::string& line) {
        if (line.starts_with("RETR "))
            most = std::max(most, Count(c.received, "RETR ") - std::stoi(line.substr(5)) + 1);
        return false;
    };
    auto client = LoggedIn();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("+OK 40 "));
    EXPECT_EQ(most, 3);
    EXPECT_EQ(hub->Proxy().m_processedMails.count(), 40);
    EXPECT_EQ(Count(server->Received(), "RETR "), 40);
}

TEST_F(Pipeline, WithoutPipeliningOneRetrievalAtATime)
{
    for (bool capaRefused : {false, true}) {
        SCOPED_TRACE(capaRefused);
        hub->Proxy().m_processedMails.clear();
        server->pipelining = false;
        server->mailbox = {{Mail("One"), "a1"}, {Mail("Two"), "a2"}, {Mail("Three"), "a3"}};
        bool overlapped = false;
        server->hook = [&](ServerConnection& c, const std::string& line) {
            if (capaRefused && line == "CAPA") {
                c.Send("-ERR what\r\n");
                return true;
            }
            if (line.starts_with("RETR ") && Count(c.received, "RETR ") > std::stoi(line.substr(5)))
                overlapped = true;
            return false;
        };
        auto client = LoggedIn();
        client->Send("STAT\r\n");
        ASSERT_TRUE(client->WaitFor("+OK 3 "));
        EXPECT_FALSE(overlapped);
        EXPECT_EQ(hub->Proxy().m_processedMails.count(), 3);
        client->Send("QUIT\r\n");
        ASSERT_TRUE(client->WaitClosed());
    }
}

TEST_F(Pipeline, RefusalInsideTheWindowLeavesThatMessageToTheServer)
{
    server->mailbox = {{Mail("One"), "u1"}, {Mail("Two"), "u2"}, {Mail("Three"), "u3"}};
    server->hook = [this](ServerConnection& c, const std::string& line) {
        if (line == "RETR 1" || line == "RETR 2")
            return true; // held
        if (line != "RETR 3")
            return false;
        // All three answers together, the middle one refused.
        c.Send(server->DefaultAnswer("RETR 1") + "-ERR message locked\r\n" + server->DefaultAnswer("RETR 3"));
        return true;
    };
    auto client = LoggedIn();
    client->received.clear();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n"));
    const int32_t s1 = int(server->mailbox[0].text.size()) + 3;
    const int32_t s2 = int(server->mailbox[1].text.size());
    const int32_t s3 = int(server->mailbox[2].text.size()) + 3;
    EXPECT_EQ(client->received, StrFormat("+OK 3 %d\r\n", s1 + s2 + s3));
    EXPECT_NE(Log(*hub).find("N\xB0" "1 - Message n\xB0" "2 refus\xE9 par le serveur"), std::string::npos);
    EXPECT_EQ(hub->Proxy().m_processedMails.count(), 2);
    server->hook = nullptr;
    client->received.clear();
    client->Send("RETR 2\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n.\r\n"));
    EXPECT_EQ(client->received, StrFormat("+OK %d octets\r\n", s2) + server->mailbox[1].text + ".\r\n");
}

TEST_F(Pipeline, ServerClosingInsideTheWindowEndsTheSession)
{
    server->mailbox = {{Mail("One"), "u1"}, {Mail("Two"), "u2"}, {Mail("Three"), "u3"}};
    server->hook = [this](ServerConnection& c, const std::string& line) {
        if (!line.starts_with("RETR "))
            return false;
        if (line == "RETR 3") {
            c.Send(server->DefaultAnswer("RETR 1") + "+OK 500 octets\r\nReturn-Path: <x@y>\r\n");
            c.Close();
        }
        return true;
    };
    auto client = LoggedIn();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitClosed());
    EXPECT_EQ(hub->Proxy().m_processedMails.count(), 0);
    EXPECT_TRUE(hub->Proxy().m_sessions.empty());
    EXPECT_NE(Log(*hub).find("N\xB0" "1 D\xE9" "connect\xE9\r\n"), std::string::npos);
}

TEST_F(Pipeline, EarlyClosingLineWaitsOnlyWhenNothingElseIsOutstanding)
{
    // Message 1 is shorter than announced but answer 2 follows: no wait.
    server->mailbox = {{"short\r\n", "u1", 900}, {Mail("Two"), "u2"}};
    AnswerAllAtOnce(2);
    auto client = LoggedIn();
    client->received.clear();
    QElapsedTimer timer;
    timer.start();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n"));
    EXPECT_LT(timer.elapsed(), hub->Proxy().m_nGraceMs);
    const int32_t s2 = int(server->mailbox[1].text.size()) + 3;
    EXPECT_EQ(client->received, StrFormat("+OK 2 %d\r\n", 10 + s2));
    client->Send("QUIT\r\n");
    ASSERT_TRUE(client->WaitClosed());

    // The last one outstanding waits, and bytes in the wait belong to it.
    hub->Proxy().m_processedMails.clear();
    server->mailbox = {{Mail("One"), "v1"}, {"early\r\n.\r\n", "v2", 900}};
    server->hook = [](ServerConnection& c, const std::string& line) {
        if (line != "RETR 2")
            return false;
        c.Send("+OK 900 octets\r\nearly\r\n.\r\n");
        c.socket->flush();
        Spin(30);
        c.Send("late\r\n.\r\n");
        return true;
    };
    client = LoggedIn();
    client->received.clear();
    timer.start();
    client->Send("STAT\r\n");
    ASSERT_TRUE(client->WaitFor("\r\n"));
    EXPECT_GE(timer.elapsed(), hub->Proxy().m_nGraceMs);
    CMailRecord* record = hub->Proxy().m_processedMails.count() == 2 ? hub->Proxy().m_processedMails.tail() : nullptr;
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->m_pszText, "early\r\n.\r\nlate\r\n.\r\n");
}

TEST_F(Pipeline, ClientSeesTheSameBytesAsOneAtATime)
{
    const std::vector<Message> mailbox = {{Mail("One"), "u1"},
                                          {Mail("Two", std::string(300000, 'y') + "\r\n"), "u2"},
                                          {"unix\r\n", "u3", 2, 2},
                                          {"", "u4"}};
    std::string transcript[2];
    for (int pipelined = 0; pipelined < 2; ++pipelined) {
        hub->Proxy().m_processedMails.clear();
        server->pipelining = pipelined == 1;
        server->mailbox = mailbox;
        auto client = LoggedIn();
        client->received.clear();
        client->Send("STAT\r\n");
        ASSERT_TRUE(client->WaitFor("\r\n"));
        client->Send("LIST\r\nRETR 1\r\nRETR 2\r\nRETR 3\r\nRETR 4\r\nTOP 1 0\r\nQUIT\r\n");
        ASSERT_TRUE(client->WaitClosed(5000));
        transcript[pipelined] = client->received;
    }
    EXPECT_GT(transcript[0].size(), 300000u);
    EXPECT_EQ(transcript[0], transcript[1]);
}
