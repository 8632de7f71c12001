// Spam marking: the tag in the header, the size, the mail-list row, the log.
#include "FilterFixture.h"

class MarkingTest : public FilterFixture
{
protected:
    CMailRecord Record(const std::string& text)
    {
        CMailRecord r;
        r.m_pszText = text;
        r.m_nSize = static_cast<int32_t>(text.size());
        return r;
    }
    void AddRow(const std::string& subject)
    {
        CMailListModel::Row row;
        row[CMailListModel::kSubject] = subject;
        mailList.InsertRow(mailList.RowCount(), row);
    }
};

TEST_F(MarkingTest, TagGoesBeforeTheSubjectValue)
{
    CMailRecord r = Record("From: a@b\r\nSubject: Hello\r\n\r\nbody\r\n");
    r.m_strRuleText = "A@B";
    r.m_strFilterLabel = "String search";
    r.m_strSubject = " HELLO";
    AddRow(" Hello");
    analysis.MarkAsSpam(&r, 0, "From");
    EXPECT_EQ(r.m_pszText, "From: a@b\r\nSubject: _SPAM_ Hello\r\n\r\nbody\r\n");
    EXPECT_EQ(r.m_nSize, 42);
    EXPECT_TRUE(r.m_bSpam);
    EXPECT_EQ(r.m_strSpamType, "From");
    EXPECT_EQ(mailList.Cell(0, CMailListModel::kSpam), "From (a@b)");
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Msg N\xB0" "1 est un Spam de type From (String search)"});
}

TEST_F(MarkingTest, NoSubjectFieldGetsOneBeforeFrom)
{
    CMailRecord r = Record("Received: x\r\nFrom: a@b\r\n\r\nSubject: in the body\r\n");
    analysis.MarkAsSpam(&r, 0, "Nbr To");
    EXPECT_EQ(r.m_pszText, "Received: x\r\nSubject: _SPAM_ \r\nFrom: a@b\r\n\r\nSubject: in the body\r\n");
    EXPECT_EQ(r.m_nSize, 48 + 18);
    EXPECT_TRUE(r.m_bSpam);
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Msg N\xB0" "1 est un Spam de type Nbr To ()"});
}

TEST_F(MarkingTest, FieldNamesInAnyCaseWithOrWithoutBlank)
{
    CMailRecord r = Record("SUBJECT:offer\nfrom: a@b\n\nbody\n");
    analysis.MarkAsSpam(&r, 0, "Subject");
    EXPECT_EQ(r.m_pszText, "SUBJECT:_SPAM_ offer\nfrom: a@b\n\nbody\n");
    EXPECT_EQ(r.m_nSize, 30 + 7);
}

TEST_F(MarkingTest, BodyMentionDoesNotStopTheTag)
{
    CMailRecord r = Record("Subject: Hi\r\n\r\nwe filter _SPAM_ here\r\n");
    analysis.MarkAsSpam(&r, 0, "Body");
    EXPECT_EQ(r.m_pszText, "Subject: _SPAM_ Hi\r\n\r\nwe filter _SPAM_ here\r\n");
    EXPECT_TRUE(r.m_bSpam);
}

TEST_F(MarkingTest, AlreadyTaggedSubjectIsFlaggedWithoutANewTag)
{
    CMailRecord r = Record("Subject: Re: _SPAM_ old\r\n\r\nx\r\n");
    analysis.MarkAsSpam(&r, 0, "_SPAM_");
    EXPECT_EQ(r.m_pszText, "Subject: Re: _SPAM_ old\r\n\r\nx\r\n");
    EXPECT_EQ(r.m_nSize, 30);
    EXPECT_TRUE(r.m_bSpam);
    EXPECT_EQ(LogLines().size(), 1u);
}

TEST_F(MarkingTest, FoldedSubjectValueCountsForTheTagTest)
{
    CMailRecord r = Record("Subject: Re:\r\n _SPAM_ old\r\nTo: x\r\n\r\nx\r\n");
    analysis.MarkAsSpam(&r, 0, "_SPAM_");
    EXPECT_EQ(r.m_nSize, static_cast<int32_t>(r.m_pszText.size()));
    EXPECT_EQ(r.m_pszText.find("_SPAM_"), r.m_pszText.rfind("_SPAM_"));
}

TEST_F(MarkingTest, NeitherSubjectNorFromPutsTheLineFirst)
{
    CMailRecord r = Record("To: x\r\n\r\nFrom: in body\r\n");
    analysis.MarkAsSpam(&r, 0, "To");
    EXPECT_EQ(r.m_pszText, "Subject: _SPAM_ \r\nTo: x\r\n\r\nFrom: in body\r\n");
    EXPECT_EQ(r.m_nSize, 24 + 18);
    EXPECT_TRUE(r.m_bSpam);
}

TEST_F(MarkingTest, TextWithoutBlankLineIsAllHeader)
{
    CMailRecord r = Record("From: a\r\nSubject: b");
    analysis.MarkAsSpam(&r, 0, "From");
    EXPECT_EQ(r.m_pszText, "From: a\r\nSubject: _SPAM_ b");
}

TEST_F(MarkingTest, RowFoundBySubjectTheUpperOneWins)
{
    AddRow("other");
    AddRow("Same");
    AddRow("same");
    CMailRecord r = Record("Subject: same\r\n\r\n");
    r.m_strSubject = "SAME";
    r.m_strRuleText = "RULE";
    analysis.MarkAsSpam(&r, 2, "Subject");
    EXPECT_EQ(mailList.Cell(1, CMailListModel::kSpam), "Subject (rule)");
    EXPECT_EQ(mailList.Cell(2, CMailListModel::kSpam), "");
    EXPECT_EQ(LogLines().back(), "Msg N\xB0" "2 est un Spam de type Subject ()");
}

TEST_F(MarkingTest, CallersRowWhenNoSubjectMatchesAndOnlyTheRuleIsLowerCased)
{
    AddRow("a");
    AddRow("b");
    CMailRecord r = Record("Subject: zzz\r\n\r\n");
    r.m_strSubject = "ZZZ";
    r.m_strRuleText = "\xC9T\xC9";
    analysis.MarkAsSpam(&r, 1, "RetPath");
    EXPECT_EQ(mailList.Cell(1, CMailListModel::kSpam), "RetPath (\xE9t\xE9)");
}

TEST_F(MarkingTest, SecondCallChangesNothing)
{
    CMailRecord r = Record("Subject: x\r\n\r\n");
    analysis.MarkAsSpam(&r, 0, "From");
    const std::string once = r.m_pszText;
    analysis.MarkAsSpam(&r, 0, "Body");
    EXPECT_EQ(r.m_pszText, once);
    EXPECT_EQ(r.m_strSpamType, "From");
    EXPECT_EQ(LogLines().size(), 1u);
}
