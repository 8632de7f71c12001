// Plug-ins: loading, the six arguments, Level, Set Log, the answer rule and
// the reload at every run. The rulecheck libraries are built with the tests.
#include "FilterFixture.h"

#include "filter/PlugIn.h"
#include "base/Paths.h"

#include <cstdlib>

namespace {

std::string PlugInPath(const std::string& name)
{
    return std::string(ORVELANE_BINARY_DIR) + "/plugins/" + name + ".so";
}

// Sets an environment variable for the length of a test.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) { ::setenv(name, value.c_str(), 1); }
    ~ScopedEnv() { ::unsetenv(m_name); }

private:
    const char* m_name;
};

} // namespace

class PlugInTest : public FilterFixture
{
protected:
    OwnedList<CMailRecord> records;
    std::string m_server, m_user;
    std::string m_dump;

    void SetUp() override
    {
        FilterFixture::SetUp();
        m_dump = m_folder + "/dump.txt";
        ::setenv("RULECHECK_DUMP", m_dump.c_str(), 1);
        m_server = "pop.example.org";
        m_user = "USER joe\r\n";
    }
    void TearDown() override
    {
        ::unsetenv("RULECHECK_DUMP");
        FilterFixture::TearDown();
    }
    CMailRecord* Add(const std::string& text)
    {
        auto record = std::make_unique<CMailRecord>();
        record->m_pszText = text;
        record->m_nSize = static_cast<int32_t>(text.size());
        return records.append(std::move(record));
    }
    std::string Dump()
    {
        std::string bytes;
        ReadBinaryFile(m_dump, bytes);
        return bytes;
    }
};

TEST_F(PlugInTest, LoadsOnlyLibrariesWithAnalyseAndNamesThemByFileName)
{
    settings.m_plugInNames = {PlugInPath("rulecheck"), "/no/such/library.so", PlugInPath("rulecheck_inert"),
                         PlugInPath("rulecheck_nolevel")};
    plugIns.Load();
    ASSERT_EQ(plugIns.Loaded().count(), 2);
    EXPECT_EQ(plugIns.Loaded().at(1)->GetName(), "rulecheck.so");
    EXPECT_EQ(plugIns.Loaded().at(2)->GetName(), "rulecheck_nolevel.so");
    EXPECT_EQ(plugIns.Loaded().at(2)->GetLevel(), -1);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"Chargement de rulecheck.so r\xE9" "ussi",
                                                    "Chargement de rulecheck_nolevel.so r\xE9" "ussi"}));
    CPlugIn plain;
    EXPECT_TRUE(plain.Load(PlugInPath("rulecheck")));
    EXPECT_EQ(plain.GetName(), "rulecheck.so");
    CPlugIn bare;
    EXPECT_FALSE(bare.Load("rulecheck-not-on-any-path.so"));
    EXPECT_FALSE(bare.CallAnalyse("", "", "", "", nullptr, 0));
}

TEST_F(PlugInTest, NameAfterABackslashToo)
{
    // The name is what follows the last slash or backslash.
    const std::string link = m_folder + "/a\\b.so";
    std::filesystem::create_symlink(PlugInPath("rulecheck"), link);
    CPlugIn plugIn;
    ASSERT_TRUE(plugIn.Load(link));
    EXPECT_EQ(plugIn.GetName(), "b.so");
}

// A BODY rule that stands only in the header: the built-in body search,
// which starts after the end of the header, misses it; the plug-in, given the
// raw text, finds it.
static const char kHeaderOnly[] = "From: special-sender@x\r\nSubject: offer\r\n\r\nbody\ttext\r\n";

TEST_F(PlugInTest, SpamAnswerMarksAndPassesTheSixArguments)
{
    WriteRules("BODY:\r\nspecial-sender\r\nother\r\n");
    ScopedEnv level("RULECHECK_LEVEL", "0");
    settings.m_plugInNames = {PlugInPath("rulecheck")};
    CMailRecord* r = Add(kHeaderOnly);
    analysis.AnalyseMessages(records, m_server, m_user);
    EXPECT_TRUE(r->m_bSpam);
    EXPECT_EQ(r->m_strSpamType, "PlugIn");
    EXPECT_EQ(r->m_strRuleText, "rulecheck.so");
    EXPECT_EQ(r->m_strFilterLabel, "rulecheck.so");
    EXPECT_EQ(mailList.Cell(0, CMailListModel::kSpam), "PlugIn (rulecheck.so)");
    const std::vector<std::string> log = LogLines();
    const std::vector<std::string> tail(log.end() - 5, log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Analyse du Msg N\xB0" "1", "Analyse via plugin rulecheck.so",
                                              "rulecheck: SPECIAL-SENDER",
                                              "Msg N\xB0" "1 est un Spam de type PlugIn (rulecheck.so)",
                                              "Find d'analyse du Msg N\xB0" "1"}));
    // Level 0: the raw stored text, without the analysis's Status line.
    EXPECT_EQ(Dump(), std::string("server=pop.example.org\nuser=USER joe\r\n\nrules=SPECIAL-SENDER|OTHER\ntext=") +
                          kHeaderOnly);
}

TEST_F(PlugInTest, NotSpamLetsTheNextOneRunAndOnlyTheFirstSpamCounts)
{
    WriteRules("BODY:\r\nspecial-sender\r\n");
    ScopedEnv level("RULECHECK_LEVEL", "0x40"); // line ends removed, separators kept
    // Without Level every step applies: the separators go, the rule is not found.
    settings.m_plugInNames = {PlugInPath("rulecheck_nolevel"), PlugInPath("rulecheck"), PlugInPath("rulecheck")};
    CMailRecord* r = Add(kHeaderOnly);
    analysis.AnalyseMessages(records, m_server, m_user);
    EXPECT_TRUE(r->m_bSpam);
    const std::vector<std::string> log = LogLines();
    const std::vector<std::string> tail(log.end() - 7, log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Analyse du Msg N\xB0" "1", "Analyse via plugin rulecheck_nolevel.so",
                                              "rulecheck: clean", "Analyse via plugin rulecheck.so",
                                              "rulecheck: SPECIAL-SENDER",
                                              "Msg N\xB0" "1 est un Spam de type PlugIn (rulecheck.so)",
                                              "Find d'analyse du Msg N\xB0" "1"}));
    EXPECT_EQ(Dump(), "server=pop.example.org\nuser=USER joe\r\n\nrules=SPECIAL-SENDER\n"
                      "text=From: special-sender@xSubject: offerbodytext");
}

TEST_F(PlugInTest, WithoutLevelEveryPreparationStepApplies)
{
    WriteRules("");
    settings.m_plugInNames = {PlugInPath("rulecheck_nolevel")};
    CMailRecord* r = Add("Subject: a-b  c\r\n\r\nx.y\tz\r\n");
    analysis.AnalyseMessages(records, m_server, m_user);
    EXPECT_FALSE(r->m_bSpam);
    // Breaks to blanks, then separators and blanks gone; nothing upper-cased.
    EXPECT_EQ(Dump(), "server=pop.example.org\nuser=USER joe\r\n\nrules=\ntext=Subject:abcxyz");
}

TEST_F(PlugInTest, OnlyTheLowEightBitsDecide)
{
    WriteRules("");
    ScopedEnv level("RULECHECK_LEVEL", "0");
    settings.m_plugInNames = {PlugInPath("rulecheck")};
    {
        ScopedEnv clean("RULECHECK_CLEAN", "256");
        CMailRecord* r = Add("Subject: a\r\n\r\nb\r\n");
        analysis.AnalyseMessages(records, m_server, m_user);
        EXPECT_FALSE(r->m_bSpam);
    }
    {
        ScopedEnv clean("RULECHECK_CLEAN", "257");
        records.clear();
        CMailRecord* r = Add("Subject: a\r\n\r\nb\r\n");
        analysis.AnalyseMessages(records, m_server, m_user);
        EXPECT_TRUE(r->m_bSpam);
    }
}

namespace {

bool Mapped(const std::string& fileName)
{
    std::string maps;
    ReadBinaryFile("/proc/self/maps", maps);
    return maps.find("/" + fileName + "\n") != std::string::npos;
}

} // namespace

TEST_F(PlugInTest, EveryRunUnloadsAndLoadsAgain)
{
    WriteRules("");
    settings.m_plugInNames = {PlugInPath("rulecheck_nolevel")};
    analysis.AnalyseMessages(records, m_server, m_user);
    analysis.AnalyseMessages(records, m_server, m_user);
    EXPECT_EQ(plugIns.Loaded().count(), 1);
    EXPECT_TRUE(Mapped("rulecheck_nolevel.so"));
    settings.m_plugInNames.clear();
    analysis.AnalyseMessages(records, m_server, m_user);
    EXPECT_TRUE(plugIns.Loaded().empty());
    EXPECT_FALSE(Mapped("rulecheck_nolevel.so"));
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "Chargement de " + m_folder + "/blacklist.txt",
                              "Chargement de rulecheck_nolevel.so r\xE9" "ussi",
                              "Chargement de " + m_folder + "/blacklist.txt",
                              "Chargement de rulecheck_nolevel.so r\xE9" "ussi",
                              "Chargement de " + m_folder + "/blacklist.txt"}));
}

TEST_F(PlugInTest, NoPlugInsMeansNoVerdict)
{
    CMailRecord r;
    r.m_pszText = "x";
    EXPECT_FALSE(plugIns.Run(&r, rules.List(kRuleBody), m_server, m_user));
}
