// The plug-ins of a mail check work on worker threads: other mail clients
// are served meanwhile, the client of the check gets its mailbox once they
// have answered, and a client that leaves meanwhile leaves nothing behind.
#include "Pop3Harness.h"

#include "base/Format.h"

using namespace harness;

class PlugIns : public ProxyTest
{
protected:
    void SetUp() override
    {
        ProxyTest::SetUp();
        hub->PlugIns().SetSearchFolders({std::string(ORVELANE_BINARY_DIR) + "/plugins"});
        hub->Settings().m_plugInNames = {"testengine"};
        // Spam is what holds the word; each check takes a while.
        hub->Settings().m_plugInOptions = {{"testengine.Verdict", "spam"},
                                           {"testengine.Word", "lottery"},
                                           {"testengine.SleepMs", "1500"}};
        server->mailbox = {{Mail("Hello"), "uid-1"}, {Mail("Win", "lottery win\r\n"), "uid-2"}};
    }
    bool Analysing() const { return Log(*hub).find("Analyse du Msg N\xB0" "1\r\n") != std::string::npos; }
};

TEST_F(PlugIns, AnEngineAtWorkHoldsNoOtherClientAndItsVerdictReachesTheChecker)
{
    auto checker = LoggedIn();
    checker->received.clear();
    checker->Send("STAT\r\n");
    ASSERT_TRUE(WaitUntil([this] { return Analysing(); }, 5000));
    // The analysis waits for the engine; the event loop does not.
    auto other = Connect();
    other->Send(UserLine("bob", server->Port()));
    ASSERT_TRUE(other->WaitFor("\r\n"));
    EXPECT_EQ(checker->received, "");

    const std::string tagged = "Subject: _SPAM_ Win";
    ASSERT_TRUE(checker->WaitFor("\r\n", 8000));
    const int32_t sizes = static_cast<int32_t>(server->mailbox[0].text.size() + server->mailbox[1].text.size()) + 6 +
                          static_cast<int32_t>(std::strlen("_SPAM_ "));
    EXPECT_EQ(checker->received, StrFormat("+OK 2 %d\r\n", sizes));
    checker->received.clear();
    checker->Send("RETR 2\r\n");
    ASSERT_TRUE(checker->WaitFor("\r\n.\r\n"));
    EXPECT_NE(checker->received.find(tagged), std::string::npos);
    EXPECT_NE(Log(*hub).find("Msg N\xB0" "2 est un Spam de type PlugIn (testengine)"), std::string::npos);
}

TEST_F(PlugIns, AClientThatLeavesWhileTheEngineWorksLeavesNothingBehind)
{
    auto leaver = LoggedIn();
    leaver->Send("STAT\r\n");
    ASSERT_TRUE(WaitUntil([this] { return Analysing(); }, 5000));
    leaver->socket.abort();
    ASSERT_TRUE(WaitUntil([this] { return hub->Proxy().m_sessions.empty(); }, 3000));
    Spin(2000); // the engine answers for a session that is gone
    EXPECT_EQ(hub->Proxy().m_processedMails.count(), 0);
    // The next check analyses the mailbox afresh.
    auto next = LoggedIn();
    next->received.clear();
    next->Send("STAT\r\n");
    ASSERT_TRUE(next->WaitFor("\r\n", 8000));
    EXPECT_TRUE(next->received.starts_with("+OK 2 ")) << next->received;
    EXPECT_EQ(hub->Proxy().m_processedMails.count(), 2);
}
