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
    rules.Load();
    ASSERT_EQ(rules.List(kRuleFrom).count(), 1);
    std::filesystem::remove(m_folder + "/blacklist.txt");
    rules.Load();
    EXPECT_TRUE(rules.List(kRuleFrom).empty());
    EXPECT_EQ(rules.NbrTo(), -1);
    EXPECT_EQ(rules.FilePath(), m_folder + "/blacklist.txt");
    EXPECT_EQ(LogLines().back(), "Impossible de lire BlackList.txt");
}

TEST_F(RuleFileTest, EmptyFileLoadsAndLogsThePath)
{
    WriteRules("");
    rules.Load();
    EXPECT_EQ(LogLines(), Lines{"Chargement de " + m_folder + "/blacklist.txt"});
    for (const RuleList& list : rules.Lists().lists)
        EXPECT_TRUE(list.empty());
    EXPECT_EQ(rules.NbrTo(), -1);
    EXPECT_EQ(rules.NbrCc(), -1);
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
    rules.Load();
    EXPECT_EQ(Entries(rules.List(kRuleFrom)), (Lines{"SPAM@EXAMPLE.COM", "FROM: ", "SECOND@X"}));
    EXPECT_EQ(Entries(rules.List(kRuleSubject)), (Lines{"VIAGRA  ", "# NOT A COMMENT"}));
    EXPECT_TRUE(rules.List(kRuleTo).empty());
    EXPECT_TRUE(rules.List(kRuleBody).empty());
    EXPECT_EQ(Entries(rules.List(kRuleBodyHtml)), Lines{"<B>"});
    EXPECT_EQ(Entries(rules.List(kRuleRetPath)), Lines{"X"});
    EXPECT_EQ(Entries(rules.List(kRuleTrust)), Lines{"FRIEND"});
    EXPECT_EQ(Entries(rules.List(kRuleRelay)), Lines{"RELAY.EXAMPLE"});
    EXPECT_EQ(Entries(rules.List(kRuleCc)), Lines{"C"});
}

TEST_F(RuleFileTest, Thresholds)
{
    WriteRules("NBRTO:\r\n5\r\nNBRCC:\r\nTO:\r\na\r\n");
    rules.Load();
    EXPECT_EQ(rules.NbrTo(), 5);
    EXPECT_EQ(rules.NbrCc(), -1); // followed directly by a keyword
    WriteRules("NBRTO:\r\nletters\r\nNBRCC:\r\n 7x\r\n-2\r\n");
    rules.Load();
    EXPECT_EQ(rules.NbrTo(), 0);  // no leading digits
    EXPECT_EQ(rules.NbrCc(), -2); // the last line wins
}

TEST_F(RuleFileTest, ZeroByteEndsTheContentAndAccentsAreUpperCased)
{
    WriteRules(std::string("SUBJECT:\r\nr\xE9" "duction\r\n\0BODY:\r\nhidden\r\n", 34));
    rules.Load();
    EXPECT_EQ(Entries(rules.List(kRuleSubject)), Lines{"R\xC9" "DUCTION"});
    EXPECT_TRUE(rules.List(kRuleBody).empty());
}

TEST_F(RuleFileTest, WrittenFileReadsBackIntoTheSameSet)
{
    WriteRules("FROM:\r\na@b\r\nc@d\r\nTO:\r\nt\r\nNBRTO:\r\n5\r\nCC:\r\ncc\r\nSUBJECT:\r\ns*t\r\n"
               "BODY:\r\nbody one\r\nBODYHTML:\r\n<font\r\nRETPATH:\r\nr\r\nTRUST:\r\nfriend\r\n"
               "RELAY:\r\nrelay\r\n");
    rules.Load();
    ASSERT_TRUE(rules.Save());
    std::string written;
    ASSERT_TRUE(ReadBinaryFile(rules.FilePath(), written));
    EXPECT_EQ(written, "FROM:\r\nA@B\r\nC@D\r\nRETPATH:\r\nR\r\nTO:\r\nT\r\nNBRTO:\r\n5\r\nCC:\r\nCC\r\n"
                       "NBRCC:\r\nSUBJECT:\r\nS*T\r\nBODY:\r\nBODY ONE\r\nBODYHTML:\r\n<FONT\r\n"
                       "TRUST:\r\nFRIEND\r\nRELAY:\r\nRELAY\r\n");

    std::vector<Lines> before;
    for (const RuleList& list : rules.Lists().lists)
        before.push_back(Entries(list));
    rules.Load();
    std::vector<Lines> after;
    for (const RuleList& list : rules.Lists().lists)
        after.push_back(Entries(list));
    EXPECT_EQ(before, after);
    EXPECT_EQ(rules.NbrTo(), 5);
    EXPECT_EQ(rules.NbrCc(), -1);
}

TEST_F(RuleFileTest, EditorEntriesAreSavedAsTyped)
{
    WriteRules("");
    rules.Load();
    rules.List(kRuleBody).append(std::make_unique<std::string>("Mixed Case"));
    rules.NbrCc() = 3;
    ASSERT_TRUE(rules.Save());
    std::string written;
    ASSERT_TRUE(ReadBinaryFile(rules.FilePath(), written));
    EXPECT_NE(written.find("BODY:\r\nMixed Case\r\nBODYHTML:"), std::string::npos);
    EXPECT_NE(written.find("NBRCC:\r\n3\r\nSUBJECT:"), std::string::npos);
}

TEST(RuleFileEncoding, Utf8OnlyWhenWellFormedAndNotPlainAscii)
{
    struct Case {
        std::string content;
        ERuleFileEncoding encoding;
        std::string text;
    };
    using E = ERuleFileEncoding;
    const Case cases[] = {
        {"SUBJECT:\nabc\n", E::kWindows1252, "SUBJECT:\nabc\n"},
        {"r\xC3\xA9" "duction", E::kUtf8, "r\xE9" "duction"},
        {"\xEF\xBB\xBFr\xC3\xA9" "duction", E::kUtf8Bom, "r\xE9" "duction"},
        {"\xEF\xBB\xBF" "abc", E::kUtf8Bom, "abc"},
        {"\xE2\x82\xAC \xD0\x9F", E::kUtf8, "\x80 ?"},
        {"r\xE9" "duction \xC3\xA9", E::kWindows1252, "r\xE9" "duction \xC3\xA9"}, // not all UTF-8
        {"\xEF\xBB\xBFr\xE9" "duction", E::kWindows1252, "\xEF\xBB\xBFr\xE9" "duction"},
        {std::string("\xC3\xA9\0\xE9", 4), E::kUtf8, "\xE9"}, // a zero byte ends the content
    };
    for (const Case& c : cases) {
        ERuleFileEncoding encoding = E::kWindows1252;
        EXPECT_EQ(DecodeRuleFile(c.content, &encoding), c.text) << c.content;
        EXPECT_EQ(encoding, c.encoding) << c.content;
    }
}

TEST_F(RuleFileTest, SavedInTheEncodingItWasReadIn)
{
    struct Case {
        std::string file;
        ERuleFileEncoding encoding;
        std::string entry;       // as loaded, in the code page
        std::string subjectLine; // as written back
    };
    const Case cases[] = {
        {"SUBJECT:\r\nr\xE9" "duction\r\n", ERuleFileEncoding::kWindows1252, "R\xC9" "DUCTION",
         "R\xC9" "DUCTION"},
        {"SUBJECT:\r\nr\xC3\xA9" "duction \xE2\x82\xAC\r\n", ERuleFileEncoding::kUtf8, "R\xC9" "DUCTION \x80",
         "R\xC3\x89" "DUCTION \xE2\x82\xAC"},
        {"\xEF\xBB\xBFSUBJECT:\r\nr\xC3\xA9" "duction\r\n", ERuleFileEncoding::kUtf8Bom, "R\xC9" "DUCTION",
         "R\xC3\x89" "DUCTION"},
    };
    for (const Case& c : cases) {
        WriteRules(c.file);
        rules.Load();
        EXPECT_EQ(rules.Encoding(), c.encoding) << c.file;
        EXPECT_EQ(Entries(rules.List(kRuleSubject)), Lines{c.entry}) << c.file;
        ASSERT_TRUE(rules.Save());
        std::string written;
        ASSERT_TRUE(ReadBinaryFile(rules.FilePath(), written));
        const std::string bom = c.encoding == ERuleFileEncoding::kUtf8Bom ? "\xEF\xBB\xBF" : "";
        EXPECT_EQ(written.substr(0, bom.size() + 5), bom + "FROM:") << c.file;
        EXPECT_NE(written.find("SUBJECT:\r\n" + c.subjectLine + "\r\nBODY:"), std::string::npos) << c.file;
        rules.Load(); // and it reads back into the same set
        EXPECT_EQ(rules.Encoding(), c.encoding) << c.file;
        EXPECT_EQ(Entries(rules.List(kRuleSubject)), Lines{c.entry}) << c.file;
    }
    // A missing file is written as Windows-1252, as before.
    std::filesystem::remove(m_folder + "/blacklist.txt");
    rules.Load();
    EXPECT_EQ(rules.Encoding(), ERuleFileEncoding::kWindows1252);
}

TEST_F(RuleFileTest, FolderPathTooLongIsTreatedLikeAMissingFile)
{
    std::string deep = m_folder;
    while (deep.size() <= 254)
        deep += "/" + std::string(40, 'd');
    std::filesystem::create_directories(deep);
    std::ofstream(deep + "/blacklist.txt", std::ios::binary) << "FROM:\r\nx\r\n";
    ASSERT_TRUE(SetCurrentDirectory(deep));
    rules.Load();
    EXPECT_TRUE(rules.List(kRuleFrom).empty());
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
