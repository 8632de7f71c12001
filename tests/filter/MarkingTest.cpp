// Spam marking: the tag in the header, the size, the mail-list row, the log.
#include "FilterFixture.h"

#include <optional>

using namespace std::string_literals;

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

// Whatever the marking inserted, with SpamHeaders off and on, is taken out
// again byte for byte: the text as received, for the engines to learn from.
TEST_F(MarkingTest, ReceivedTextIsTheTextBeforeTheMarking)
{
    const std::string texts[] = {
        "From: a@b\r\nSubject: Hello\r\n\r\nbody\r\n.\r\n",           // Subject present
        "Received: x\r\nFrom: a@b\r\n\r\nSubject: in body\r\n.\r\n",  // absent: a line before From
        "To: x\r\n\r\nb\r\n.\r\n",                                     // neither: the line first
        "Subject: Re: _SPAM_ old\r\n\r\nx\r\n.\r\n",                   // already tagged
        "Subject: Re:\r\n _SPAM_ old\r\nTo: x\r\n\r\nx\r\n.\r\n",      // folded, tagged in the fold
        "Subject:\r\n folded\r\nFrom: a\r\n\r\nx\r\n.\r\n",            // folded, tag after the colon
        "From: a\r\nSubject: b",                                       // no empty line
    };
    for (const bool headers : {false, true})
        for (const std::string& text : texts) {
            settings.m_bSpamHeaders = headers;
            CMailRecord r = Record(text);
            analysis.MarkAsSpam(&r, 0, "Body");
            analysis.AddSpamHeaders(&r);
            EXPECT_EQ(r.m_nSize, static_cast<int32_t>(r.m_pszText.size())) << text;
            EXPECT_EQ(ReceivedText(r), text) << headers << " " << text;
            CMailRecord copy;
            copy.assignFrom(r);
            EXPECT_EQ(ReceivedText(copy), text) << text;
        }
}

TEST_F(MarkingTest, InsertionsThatDoNotFitTheTextGiveNoReceivedText)
{
    CMailRecord r = Record("Subject: _SPAM_ x\r\n");
    r.m_insertions = {{9, 7}};
    EXPECT_EQ(ReceivedText(r), "Subject: x\r\n");
    for (const std::vector<STextInsertion>& bad :
         {std::vector<STextInsertion>{{15, 7}}, {{-1, 2}}, {{0, 20}}, {{0, 10}, {0, 10}}}) {
        r.m_insertions = bad;
        EXPECT_EQ(ReceivedText(r), std::nullopt);
    }
    // A text that waits in the store is not held here.
    r.m_insertions.clear();
    r.m_bTextStored = true;
    EXPECT_EQ(ReceivedText(r), std::nullopt);
}

// SpamHeaders: the two fields first in the header, the size grown by them,
// nothing for ham, and no value that could end the field or run past a line.
TEST_F(MarkingTest, SpamHeadersGoFirstWithTheReasonMadeSafe)
{
    settings.m_bSpamHeaders = true;
    CMailRecord ham = Record("Subject: hi\r\n\r\nx\r\n");
    analysis.AddSpamHeaders(&ham);
    EXPECT_EQ(ham.m_pszText, "Subject: hi\r\n\r\nx\r\n");
    EXPECT_TRUE(ham.m_insertions.empty());

    struct Case {
        std::string type, label, rule, reason;
    };
    const Case cases[] = {
        {"Subject", "String search", "VIAGRA", "Subject (String search): VIAGRA"},
        {"Body", "casino", "casino", "Body: casino"},
        {"Nbr To", "", "", "Nbr To"},
        {"PlugIn", "x 9\r\nBcc: y\0z"s, "x 9\r\nBcc: y\0z"s, "PlugIn: x 9  Bcc: y z"},
        {"Body", "\xE9t\xE9\t", "\xE9t\xE9\t", "Body: \xE9t\xE9"},
        {"Body", std::string(5000, 'r'), std::string(5000, 'r'), "Body: " + std::string(194, 'r')},
    };
    for (const Case& c : cases) {
        CMailRecord r = Record("Subject: hi\r\n\r\nx\r\n");
        r.m_strFilterLabel = c.label;
        r.m_strRuleText = c.rule;
        analysis.MarkAsSpam(&r, 0, c.type);
        analysis.AddSpamHeaders(&r);
        EXPECT_EQ(r.m_pszText, "X-Spam-Flag: YES\r\nX-Orvelane-Reason: " + c.reason +
                                   "\r\nSubject: _SPAM_ hi\r\n\r\nx\r\n");
        EXPECT_EQ(r.m_nSize, static_cast<int32_t>(r.m_pszText.size()));
    }
}
