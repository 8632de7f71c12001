// The hub's filtering operations reach the components with what only the hub
// knows: the analysis-off state, the debug flag and the session's server and
// USER line.
#include "support/HubFixture.h"

#include "base/Paths.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

class HubFilterTest : public HubTest
{
protected:
    void SetUp() override
    {
        m_previous = CurrentDirectory();
        char pattern[] = "/tmp/orvelane-hubfilter-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_folder = pattern;
        ASSERT_TRUE(SetCurrentDirectory(m_folder));
        std::ofstream(m_folder + "/blacklist.txt", std::ios::binary) << "BODY:\r\nother\r\n";
    }
    void TearDown() override
    {
        ::unsetenv("RULECHECK_DUMP");
        ::unsetenv("RULECHECK_LEVEL");
        SetCurrentDirectory(m_previous);
        std::filesystem::remove_all(m_folder);
    }
    std::string m_folder, m_previous;
};

TEST_F(HubFilterTest, NothingIsPreparedWhileTheAnalysisIsOffAndDebugReachesTheAnalysis)
{
    CMailRecord record;
    record.m_pszText = "Subject: a\r\n\r\nb\r\n";
    record.m_nSize = static_cast<int32_t>(record.m_pszText.size());
    hub.SetAnalysisOff(true);
    hub.PrepareAnalysis(&record);
    EXPECT_EQ(record.m_pPrepareJob, nullptr);
    hub.SetAnalysisOff(false);
    hub.PrepareAnalysis(&record);
    EXPECT_NE(record.m_pPrepareJob, nullptr);

    hub.ToggleDebug(true);
    EXPECT_TRUE(hub.Analysis().Debug());
    hub.ToggleDebug(false);
    EXPECT_FALSE(hub.Analysis().Debug());
}

TEST_F(HubFilterTest, AnalysingASessionHandsItsServerAndUserLineToThePlugIns)
{
    const std::string dump = m_folder + "/dump.txt";
    ::setenv("RULECHECK_DUMP", dump.c_str(), 1);
    ::setenv("RULECHECK_LEVEL", "0", 1);
    hub.Settings().m_plugInNames = {std::string(ORVELANE_BINARY_DIR) + "/plugins/rulecheck.so"};
    CSession session{hub.Proxy()};
    session.m_strServerHost = "pop.example.org";
    session.m_strUserCommand = "USER joe\r\n";
    auto record = std::make_unique<CMailRecord>();
    record->m_pszText = "Subject: a\r\n\r\nspecial\r\n";
    record->m_nSize = static_cast<int32_t>(record->m_pszText.size());
    session.m_messages.append(std::move(record));
    hub.AnalyseMessages(&session);
    std::string bytes;
    ASSERT_TRUE(ReadBinaryFile(dump, bytes));
    EXPECT_EQ(bytes.rfind("server=pop.example.org\nuser=USER joe\r\n\n", 0), 0u) << bytes;
}
