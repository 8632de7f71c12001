// Second-version plug-ins and the calls on worker threads: the verdict with
// its score and reason in the mail list and the log, unsure and unjudged
// messages, options, a failed opening, a call past its time-out, and a
// first-version plug-in after an engine that could not judge.
#include "FilterFixture.h"

namespace {

std::string Library(const std::string& name)
{
    return std::string(ORVELANE_BINARY_DIR) + "/plugins/" + name + ".so";
}

const char kMail[] = "From: a@b\r\nSubject: offer\r\n\r\nspecial body\r\n";

} // namespace

class PlugInEngineTest : public FilterFixture
{
protected:
    OwnedList<CMailRecord> records;

    void SetUp() override
    {
        FilterFixture::SetUp();
        WriteRules("");
        plugIns.SetSearchFolders({std::string(ORVELANE_BINARY_DIR) + "/plugins"});
    }
    CMailRecord* Add(const std::string& text)
    {
        auto record = std::make_unique<CMailRecord>();
        record->m_pszText = text;
        record->m_nSize = static_cast<int32_t>(text.size());
        return records.append(std::move(record));
    }
    void Options(std::vector<std::pair<std::string, std::string>> options)
    {
        settings.m_plugInOptions.clear();
        for (auto& [key, value] : options)
            settings.m_plugInOptions.emplace_back("testengine." + key, value);
    }
    // The log from the first line about the plug-in to the end of the analysis.
    std::vector<std::string> PlugInLines()
    {
        std::vector<std::string> lines = LogLines(), out;
        bool in = false;
        for (const std::string& line : lines) {
            in = in || line.starts_with("Analyse via plugin");
            if (in && !line.starts_with("Find d'analyse"))
                out.push_back(line);
        }
        return out;
    }
};

TEST_F(PlugInEngineTest, TheVerdictDecidesAndIsShownWithScoreAndReason)
{
    struct Row {
        std::vector<std::pair<std::string, std::string>> options;
        bool spam;
        std::string cell;
        std::vector<std::string> lines;
    } rows[] = {
        {{{"Verdict", "spam"}, {"Score", "7.3"}, {"Threshold", "5"}, {"Reason", "BAYES_99,HTML_MESSAGE"}, {"Log", "looked"}},
         true,
         "PlugIn (testengine 7.3/5.0: bayes_99,html_message)",
         {"Analyse via plugin testengine", "looked",
          "Msg N\xB0" "1 est un Spam de type PlugIn (testengine 7.3/5.0: BAYES_99,HTML_MESSAGE)"}},
        {{{"Verdict", "unsure"}, {"Score", "4.2"}, {"Threshold", "5"}},
         false,
         "Incertain (testengine 4.2/5.0)",
         {"Analyse via plugin testengine", "Plugin testengine : incertain (4.2/5.0), message non marqu\xE9"}},
        {{{"Verdict", "ham"}, {"Score", "-1"}, {"Threshold", "5"}, {"Reason", "ALL_TRUSTED"}},
         false,
         "",
         {"Analyse via plugin testengine", "Plugin testengine : pas un spam (-1.0/5.0: ALL_TRUSTED)"}},
        {{{"Verdict", "none"}, {"Reason", "engine refused the connection"}},
         false,
         "",
         {"Analyse via plugin testengine",
          "Plugin testengine : message non jug\xE9" " (engine refused the connection)"}},
        {{{"Verdict", "spam"}, {"Word", "nowhere"}}, false, "", {"Analyse via plugin testengine",
                                                                 "Plugin testengine : pas un spam ()"}},
    };
    settings.m_plugInNames = {"testengine"};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.cell + (row.spam ? " spam" : " not spam"));
        records.clear();
        mailList.DeleteAllRows();
        log.Clear();
        Options(row.options);
        CMailRecord* record = Add(kMail);
        analysis.AnalyseMessages(records, "pop.example.org", "USER joe\r\n");
        EXPECT_EQ(record->m_bSpam, row.spam);
        EXPECT_EQ(mailList.Cell(0, CMailListModel::kSpam), row.cell);
        EXPECT_EQ(PlugInLines(), row.lines);
        // The spam tag goes into the delivered text only for spam.
        EXPECT_EQ(record->m_pszText.find("_SPAM_") != std::string::npos, row.spam);
    }
}

TEST_F(PlugInEngineTest, AFailedOpeningLeavesThePlugInOutAndTheNextOneDecides)
{
    ::setenv("RULECHECK_LEVEL", "0", 1);
    WriteRules("BODY:\r\nspecial-sender\r\n");
    settings.m_plugInNames = {"testengine", Library("rulecheck")};
    Options({{"OpenError", "no such socket"}});
    CMailRecord* record = Add("From: special-sender@x\r\nSubject: offer\r\n\r\nbody\r\n");
    analysis.AnalyseMessages(records, "", "");
    ::unsetenv("RULECHECK_LEVEL");
    EXPECT_TRUE(record->m_bSpam);
    EXPECT_EQ(record->m_strFilterLabel, "rulecheck.so");
    const std::vector<std::string> lines = LogLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Plugin testengine non charg\xE9" " : no such socket"), lines.end());
    EXPECT_EQ(PlugInLines().front(), "Analyse via plugin rulecheck.so");
}

TEST_F(PlugInEngineTest, ACallPastItsTimeOutCountsAsNotJudgedAndTheEngineIsLeftOutForTheCheck)
{
    settings.m_plugInNames = {"testengine"};
    settings.m_nPlugInSeconds = 1;
    Options({{"Verdict", "spam"}, {"SleepMs", "4000"}, {"Log", "late line"}});
    CMailRecord* first = Add(kMail);
    CMailRecord* second = Add(kMail);
    analysis.AnalyseMessages(records, "", "");
    EXPECT_FALSE(first->m_bSpam);
    EXPECT_FALSE(second->m_bSpam);
    EXPECT_EQ(plugIns.Runner().TimedOut(), 1);
    // One line for the check; the second message does not ask again.
    const std::vector<std::string> lines = PlugInLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Analyse via plugin testengine"), 1) << ::testing::PrintToString(lines);
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "Plugin testengine : pas de r\xE9" "ponse en 1 s, plus interrog\xE9" " jusqu'\xE0"
                         " la prochaine rel\xE8" "ve"),
              1);
    // A new check asks it again.
    plugIns.Runner().NewCheck();
    Options({{"Verdict", "spam"}});
    records.clear();
    CMailRecord* third = Add(kMail);
    analysis.AnalyseMessages(records, "", "");
    EXPECT_TRUE(third->m_bSpam);
}

TEST_F(PlugInEngineTest, ABareNameIsFoundBesideTheProgramAndItsOptionsReachIt)
{
    EXPECT_EQ(plugIns.Resolve("testengine"), Library("testengine"));
    EXPECT_EQ(plugIns.Resolve("testengine.so"), Library("testengine"));
    EXPECT_EQ(plugIns.Resolve("/x/testengine"), "/x/testengine");
    EXPECT_EQ(plugIns.Resolve("not-built-here.so"), "not-built-here.so");
    // Options of another plug-in are not handed over.
    settings.m_plugInNames = {"testengine"};
    settings.m_plugInOptions = {{"other.Verdict", "spam"}, {"TESTENGINE.Verdict", "spam"}};
    CMailRecord* record = Add(kMail);
    analysis.AnalyseMessages(records, "", "");
    EXPECT_TRUE(record->m_bSpam);
    ASSERT_EQ(plugIns.Loaded().count(), 1);
    EXPECT_TRUE(plugIns.Loaded().head()->Learns());
    const SPlugInLearning learned = plugIns.Loaded().head()->Learn("abc", true);
    EXPECT_EQ(learned.result, ORVELANE_LEARNED);
    EXPECT_EQ(learned.text, "spam 3 bytes");
}
