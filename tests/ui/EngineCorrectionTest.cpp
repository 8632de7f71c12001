// The window's "Spam" button in front of a real engine: a message the engine
// judges good, corrected from the list, is spam at the next check. The engine
// is started by tests/e2e/test_correct_engines.py, which names it and its
// options in the environment; without them the test is skipped.
#include "base/Format.h"
#include "base/Texts.h"
#include "ui/MainWindow.h"
#include "UiFixture.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

class EngineCorrectionTest : public HubTest
{
protected:
    // One mail check of `text` as message `number`, analysed to the end;
    // the record then sits in the window's list as the proxy leaves it.
    const CMailRecord& Check(const std::string& text, int32_t number)
    {
        CSession session(hub.Proxy()); // not a live session: analysed at once
        session.m_nNumber = number;
        session.m_nMessageCount = 1;
        auto record = std::make_unique<CMailRecord>();
        record->m_nNumber = 1;
        record->m_pszText = text;
        record->m_nSize = static_cast<int32_t>(text.size());
        record->m_strUidl = "uidl-" + std::to_string(number);
        record->m_nClientNumber = number;
        record->m_strAccount = "pop:110 alice";
        session.m_messages.append(std::move(record));
        hub.AnalyseMessages(&session);
        auto copy = std::make_unique<CMailRecord>();
        copy->assignFrom(*session.m_messages.head());
        copy->m_nClientNumber = number;
        return *hub.Proxy().m_processedMails.append(std::move(copy));
    }

    CWorkFolder folder;
};

TEST_F(EngineCorrectionTest, AMessageTaughtAsSpamFromTheWindowIsSpamAtTheNextCheck)
{
    const std::string engine = Environment("ORVELANE_ENGINE");
    if (engine.empty())
        GTEST_SKIP() << "run by tests/e2e/test_correct_engines.py with a real engine";
    const bool refuses = Environment("ORVELANE_ENGINE_EXPECT") == "refused";
    std::ifstream in(Environment("ORVELANE_ENGINE_MESSAGE"), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    ASSERT_FALSE(text.empty());

    folder.Write("blacklist.txt", ""); // only the engine judges
    hub.Settings().m_plugInNames = {engine};
    hub.Settings().m_nPlugInSeconds = 60;
    std::istringstream options(Environment("ORVELANE_ENGINE_OPTIONS"));
    for (std::string line; std::getline(options, line);)
        if (const size_t equal = line.find('='); equal != std::string::npos)
            hub.Settings().m_plugInOptions.emplace_back(engine + "." + line.substr(0, equal),
                                                        line.substr(equal + 1));
    hub.PlugIns().SetSearchFolders({std::string(ORVELANE_BINARY_DIR) + "/plugins"});
    ASSERT_TRUE(hub.MessageStore().Open(folder.Path() + "/Orvelane.db", 1 << 20));
    CMainWindow window(hub, true);
    window.m_ask = [](const std::string&) { return true; };

    const CMailRecord& first = Check(text, 1);
    ASSERT_FALSE(first.m_bSpam) << Log();
    hub.MessageStore().Put(first.m_strAccount, first);
    hub.MailList().m_selection = {hub.MailList().RowCount() - 1};
    window.OnCorrect(true);
    WaitForLearning(hub);
    ASSERT_EQ(hub.LearningUnderWay(), 0) << Log();

    const std::string answer = StrFormat(txt::kPlugInLearned, engine.c_str(), txt::kLearnSpam, "");
    const size_t at = Log().find(answer.substr(0, answer.size() - 2));
    ASSERT_NE(at, std::string::npos) << Log();
    const std::string said = Log().substr(at + answer.size() - 2, Log().find("\r\n", at) - at - answer.size() + 2);
    if (refuses) {
        // The engine's own words for its refusal reach the log.
        EXPECT_EQ(said.rfind(txt::kLearnFailed, 0), 0u) << said;
        EXPECT_GT(said.size(), std::string(txt::kLearnFailed).size() + 3) << said;
        return;
    }
    EXPECT_EQ(said.find(txt::kLearnFailed), std::string::npos) << said;
    EXPECT_TRUE(Check(text, 2).m_bSpam) << Log();
}

} // namespace
