#include "FilterFixture.h"

#include "filter/RuleSet.h"
#include "base/Paths.h"

using Lines = std::vector<std::string>;

class RuleFileTest : public FilterFixture
{
};

TEST_F(RuleFileTest, MissingFileEmptiesTheSetAndSaysSo)
{
    WriteRules("FROM:\r\nspam@x\r\nNBRTO:\r\n3\r\n");
    hub.LoadRuleFile();
    ASSERT_EQ(hub.Rules().List(kRuleFrom).count(), 1);
    std::filesystem::remove(m_folder + "/blacklist.txt");
    hub.LoadRuleFile();
    EXPECT_TRUE(hub.Rules().List(kRuleFrom).empty());
    EXPECT_EQ(hub.Rules().NbrTo(), -1);
    EXPECT_EQ(hub.Rules().FilePath(), m_folder + "/blacklist.txt");
    EXPECT_EQ(LogLines().back(), "Impossible de lire BlackList.txt");
}

TEST_F(RuleFileTest, EmptyFileLoadsAndLogsThePath)
{
    WriteRules("");
    hub.LoadRuleFile();
    EXPECT_EQ(LogLines(), Lines{"Chargement de " + m_folder + "/blacklist.txt"});
    for (const RuleList& list : hub.Rules().Lists().lists)
        EXPECT_TRUE(list.empty());
    EXPECT_EQ(hub.Rules().NbrTo(), -1);
    EXPECT_EQ(hub.Rules().NbrCc(), -1);
}

TEST_F(RuleFileTest, KeywordsSectionsAndEntries)
{
    WriteRules("early entry\r\n"          // before any keyword: dropped
               "from:\r\n"                // lower-case keyword opens FROM
               "Spam@Example.com\r\n"
               "SPAM@example.COM\r\n"     // same entry in another case: once
               "FROM: \r\n"               // a blank after it: an entry
               "\r\n"
               "sub\rject:\r\n"            // CR inside a line vanishes: SUBJECT
               "Viagra  \r\n"             // trailing blanks stay
               "# not a comment\r\n"
               "to:\r\nbody:\r\nbodyhtml:\r\n<b>\r\nretpath:\r\nx\r\ntrust:\r\nfriend\r\n"
               "relay:\r\nrelay.example\r\ncc:\r\nc\r\n"
               "FROM:\r\n"                 // a keyword again adds to the same list
               "second@x");                // no final line end: still read
    hub.LoadRuleFile();
    EXPECT_EQ(Entries(hub.Rules().List(kRuleFrom)), (Lines{"SPAM@EXAMPLE.COM", "FROM: ", "SECOND@X"}));
    EXPECT_EQ(Entries(hub.Rules().List(kRuleSubject)), (Lines{"VIAGRA  ", "# NOT A COMMENT"}));
    EXPECT_TRUE(hub.Rules().List(kRuleTo).empty());
    EXPECT_TRUE(hub.Rules().List(kRuleBody).empty());
    EXPECT_EQ(Entries(hub.Rules().List(kRuleBodyHtml)), Lines{"<B>"});
    EXPECT_EQ(Entries(hub.Rules().List(kRuleRetPath)), Lines{"X"});
    EXPECT_EQ(Entries(hub.Rules().List(kRuleTrust)), Lines{"FRIEND"});
    EXPECT_EQ(Entries(hub.Rules().List(kRuleRelay)), Lines{"RELAY.EXAMPLE"});
    EXPECT_EQ(Entries(hub.Rules().List(kRuleCc)), Lines{"C"});
}

TEST_F(RuleFileTest, Thresholds)
{
    WriteRules("NBRTO:\r\n5\r\nNBRCC:\r\nTO:\r\na\r\n");
    hub.LoadRuleFile();
    EXPECT_EQ(hub.Rules().NbrTo(), 5);
    EXPECT_EQ(hub.Rules().NbrCc(), -1); // followed directly by a keyword
    WriteRules("NBRTO:\r\nletters\r\nNBRCC:\r\n 7x\r\n-2\r\n");
    hub.LoadRuleFile();
    EXPECT_EQ(hub.Rules().NbrTo(), 0);  // no leading digits
    EXPECT_EQ(hub.Rules().NbrCc(), -2); // the last line wins
}

TEST_F(RuleFileTest, ZeroByteEndsTheContentAndAccentsAreUpperCased)
{
    WriteRules(std::string("SUBJECT:\r\nr\xE9" "duction\r\n\0BODY:\r\nhidden\r\n", 34));
    hub.LoadRuleFile();
    EXPECT_EQ(Entries(hub.Rules().List(kRuleSubject)), Lines{"R\xC9" "DUCTION"});
    EXPECT_TRUE(hub.Rules().List(kRuleBody).empty());
}

TEST_F(RuleFileTest, WrittenFileReadsBackIntoTheSameSet)
{
    WriteRules("FROM:\r\na@b\r\nc@d\r\nTO:\r\nt\r\nNBRTO:\r\n5\r\nCC:\r\ncc\r\nSUBJECT:\r\ns*t\r\n"
               "BODY:\r\nbody one\r\nBODYHTML:\r\n<font\r\nRETPATH:\r\nr\r\nTRUST:\r\nfriend\r\n"
               "RELAY:\r\nrelay\r\n");
    hub.LoadRuleFile();
    ASSERT_TRUE(hub.SaveRuleFile());
    std::string written;
    ASSERT_TRUE(ReadBinaryFile(hub.Rules().FilePath(), written));
    EXPECT_EQ(written, "FROM:\r\nA@B\r\nC@D\r\nRETPATH:\r\nR\r\nTO:\r\nT\r\nNBRTO:\r\n5\r\nCC:\r\nCC\r\n"
                       "NBRCC:\r\nSUBJECT:\r\nS*T\r\nBODY:\r\nBODY ONE\r\nBODYHTML:\r\n<FONT\r\n"
                       "TRUST:\r\nFRIEND\r\nRELAY:\r\nRELAY\r\n");

    std::vector<Lines> before;
    for (const RuleList& list : hub.Rules().Lists().lists)
        before.push_back(Entries(list));
    hub.LoadRuleFile();
    std::vector<Lines> after;
    for (const RuleList& list : hub.Rules().Lists().lists)
        after.push_back(Entries(list));
    EXPECT_EQ(before, after);
    EXPECT_EQ(hub.Rules().NbrTo(), 5);
    EXPECT_EQ(hub.Rules().NbrCc(), -1);
}

TEST_F(RuleFileTest, EditorEntriesAreSavedAsTyped)
{
    WriteRules("");
    hub.LoadRuleFile();
    hub.Rules().List(kRuleBody).append(std::make_unique<std::string>("Mixed Case"));
    hub.Rules().NbrCc() = 3;
    ASSERT_TRUE(hub.SaveRuleFile());
    std::string written;
    ASSERT_TRUE(ReadBinaryFile(hub.Rules().FilePath(), written));
    EXPECT_NE(written.find("BODY:\r\nMixed Case\r\nBODYHTML:"), std::string::npos);
    EXPECT_NE(written.find("NBRCC:\r\n3\r\nSUBJECT:"), std::string::npos);
}

TEST_F(RuleFileTest, FolderPathTooLongIsTreatedLikeAMissingFile)
{
    std::string deep = m_folder;
    while (deep.size() <= 254)
        deep += "/" + std::string(40, 'd');
    std::filesystem::create_directories(deep);
    std::ofstream(deep + "/blacklist.txt", std::ios::binary) << "FROM:\r\nx\r\n";
    ASSERT_TRUE(SetCurrentDirectory(deep));
    hub.LoadRuleFile();
    EXPECT_TRUE(hub.Rules().List(kRuleFrom).empty());
    EXPECT_EQ(LogLines().back(), "Impossible de lire BlackList.txt");
}

TEST(RuleListContains, ComparesWithoutRegardToCase)
{
    RuleList list;
    list.append(std::make_unique<std::string>("\xC9T\xC9"));
    EXPECT_TRUE(RuleListContains("\xE9t\xE9", list));
    EXPECT_FALSE(RuleListContains("ete", list));
    EXPECT_FALSE(RuleListContains("", list));
}
