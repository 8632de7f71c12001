// The whole analysis of a connection's messages, one filter step at a time:
// verdict, labels, mail-list row, log lines, rewritten bytes and size.
#include "FilterFixture.h"

#include <memory>

namespace {

std::string Message(const std::string& header, const std::string& body = "hello\r\n")
{
    return header + "\r\n" + body;
}

} // namespace

class PipelineTest : public FilterFixture
{
protected:
    OwnedList<CMailRecord> records;
    std::string m_server, m_user;

    CMailRecord* Add(const std::string& text)
    {
        auto record = std::make_unique<CMailRecord>();
        record->m_pszText = text;
        record->m_nSize = static_cast<int32_t>(text.size());
        record->m_nClientNumber = 7;
        record->m_strUidl = "uid" + std::to_string(records.count() + 1);
        return records.append(std::move(record));
    }

    // The log after the rule file line.
    std::vector<std::string> Run()
    {
        analysis.AnalyseMessages(records, m_server, m_user);
        std::vector<std::string> lines = LogLines();
        if (!lines.empty() && lines.front().rfind("Chargement de ", 0) == 0)
            lines.erase(lines.begin());
        return lines;
    }

    static std::string Spam(int n, const std::string& type, const std::string& label)
    {
        return "Msg N\xB0" + std::to_string(n) + " est un Spam de type " + type + " (" + label + ")";
    }
    static std::string Start(int n) { return "Analyse du Msg N\xB0" + std::to_string(n); }
    static std::string End(int n) { return "Find d'analyse du Msg N\xB0" + std::to_string(n); }
};

using Lines = std::vector<std::string>;

TEST_F(PipelineTest, TrustedSenderStopsEverythingEvenATag)
{
    WriteRules("TRUST:\r\nfriend@home\r\nNBRTO:\r\n1\r\n");
    const std::string text = Message("From: Friend@Home\r\nSubject: _SPAM_ joke\r\n");
    CMailRecord* r = Add(text);
    EXPECT_EQ(Run(), (Lines{Start(1), "Msg N\xB0" "1 vient d'un utilisateur connu"}));
    EXPECT_TRUE(r->m_bTrusted);
    EXPECT_FALSE(r->m_bSpam);
    EXPECT_EQ(r->m_pszText, text);
    ASSERT_EQ(mailList.RowCount(), 1);
    EXPECT_EQ(mailList.RowAt(0),
              (CMailListModel::Row{" Friend@Home", " _SPAM_ joke", "", "uid1", "7", ""}));
}

TEST_F(PipelineTest, EarlierTagInAnyCase)
{
    WriteRules("");
    CMailRecord* tagged = Add(Message("Subject: _SPAM_ again\r\n"));
    CMailRecord* lower = Add(Message("Subject:_spam_ lower\r\n"));
    EXPECT_EQ(Run(), (Lines{Start(1), Spam(1, "_SPAM_", ""), End(1), Start(2), Spam(2, "_SPAM_", ""), End(2)}));
    EXPECT_EQ(tagged->m_nSize, static_cast<int32_t>(tagged->m_pszText.size()));
    EXPECT_EQ(tagged->m_pszText, Message("Subject: _SPAM_ again\r\n")); // not tagged twice
    EXPECT_EQ(lower->m_pszText, Message("Subject:_SPAM_ _spam_ lower\r\n"));
    EXPECT_EQ(mailList.Cell(0, CMailListModel::kSpam), "_SPAM_ ()");
}

TEST_F(PipelineTest, RecipientCounts)
{
    WriteRules("NBRTO:\r\n1\r\n");
    CMailRecord* r = Add(Message("Subject: no To at all\r\n"));
    EXPECT_EQ(Run(), (Lines{Start(1), Spam(1, "Nbr To", ""), End(1)}));
    EXPECT_EQ(r->m_pszText, Message("Subject: _SPAM_ no To at all\r\n"));
    EXPECT_EQ(r->m_nSize, static_cast<int32_t>(Message("Subject: no To at all\r\n").size()) + 7);
    EXPECT_EQ(mailList.Cell(0, CMailListModel::kSpam), "Nbr To ()");

    WriteRules("NBRTO:\r\n3\r\nNBRCC:\r\n2\r\n");
    records.clear();
    CMailRecord* cc = Add(Message("To: a, b\r\nCc: c,\r\n\td\r\nSubject: s\r\n"));
    log.Clear();
    Run();
    EXPECT_EQ(cc->m_nToCount, 2);
    EXPECT_EQ(cc->m_nCcCount, 2);
    EXPECT_EQ(cc->m_strSpamType, "Nbr CC");
}

TEST_F(PipelineTest, HeaderListsInTheirOrder)
{
    WriteRules("RELAY:\r\nevil.relay\r\nFROM:\r\nbad@\r\nRETPATH:\r\nbounce@\r\nTO:\r\nvictim\r\n"
               "CC:\r\nlist@\r\nSUBJECT:\r\nlottery\r\n");
    Add(Message("Received: from evil.relay\r\nFrom: bad@x\r\nSubject: s1\r\n"));
    Add(Message("From: bad@x\r\nReturn-Path: <bounce@x>\r\nSubject: s2\r\n"));
    Add(Message("Return-Path: <bounce@x>\r\nTo: victim@y\r\nSubject: s3\r\n"));
    Add(Message("To: victim@y\r\nCc: list@z\r\nSubject: s4\r\n"));
    Add(Message("Cc: list@z\r\nSubject: Lottery win\r\n"));
    Add(Message("Subject: You won the LOTTERY\r\n"));
    const Lines log = Run();
    const char* types[] = {"Relay server", "From", "RetPath", "To", "CC", "Subject"};
    const char* ruleTexts[] = {"evil.relay", "bad@", "bounce@", "victim", "list@", "lottery"};
    int n = 0;
    for (CMailRecord* r : records) {
        EXPECT_TRUE(r->m_bSpam);
        EXPECT_EQ(r->m_strSpamType, types[n]);
        EXPECT_EQ(r->m_strFilterLabel, "String search");
        EXPECT_EQ(mailList.Cell(n, CMailListModel::kSpam), std::string(types[n]) + " (" + ruleTexts[n] + ")");
        EXPECT_EQ(log[static_cast<size_t>(3 * n + 1)], Spam(n + 1, types[n], "String search"));
        ++n;
    }
}

TEST_F(PipelineTest, MarkingLineNumbersTheFirstRowWithTheSameSubject)
{
    WriteRules("FROM:\r\nbad@\r\n");
    Add(Message("From: good@x\r\nSubject: same\r\n"));
    Add(Message("From: bad@x\r\nSubject: same\r\n"));
    EXPECT_EQ(Run(), (Lines{Start(1), End(1), Start(2), Spam(1, "From", "String search"), End(2)}));
    EXPECT_EQ(mailList.Cell(0, CMailListModel::kSpam), "From (bad@)");
    EXPECT_EQ(mailList.Cell(1, CMailListModel::kSpam), "");
}

TEST_F(PipelineTest, SubjectPassesKeepTheirOwnLabels)
{
    WriteRules("SUBJECT:\r\nfree money\r\nviagra\r\n");
    CMailRecord* converted = Add(Message("Subject: Fr.e.e M0ney\r\n"));
    CMailRecord* repeats = Add(Message("Subject: Viiiagra\r\n"));
    const Lines log = Run();
    EXPECT_EQ(converted->m_strSpamType, "Subject");
    EXPECT_EQ(converted->m_strFilterLabel,
              "Subject search string with no separate char and with converstion ( '`.,;^!%?*$)");
    EXPECT_EQ(converted->m_strRuleText, "FREE MONEY");
    EXPECT_EQ(repeats->m_strFilterLabel, "Subject search string with repeat car truncate");
    // The log line is written during the header test, before the label changes.
    EXPECT_EQ(log[1], Spam(1, "Subject", "String search"));
    EXPECT_EQ(log[4], Spam(2, "Subject", "String search"));
}

TEST_F(PipelineTest, SizeLimitSkipsBodyAndPlugInsAndIsLoggedAfterAHeaderMatch)
{
    WriteRules("FROM:\r\nbad@\r\nBODY:\r\nhello\r\n");
    const std::string text = Message("From: bad@x\r\nSubject: s\r\n");
    Add(text);
    CMailRecord* big = Add(Message("Subject: t\r\n"));
    settings.m_nMaxMsgSize = static_cast<int32_t>(text.size());
    big->m_nSize = settings.m_nMaxMsgSize;
    EXPECT_EQ(Run(), (Lines{Start(1), Spam(1, "From", "String search"),
                            "La taille du message est sup\xE9" "rieur \xE0 la taille max d'un mail contenant des spams",
                            End(1), Start(2),
                            "La taille du message est sup\xE9" "rieur \xE0 la taille max d'un mail contenant des spams",
                            End(2)}));
    EXPECT_FALSE(big->m_bSpam);
}

TEST_F(PipelineTest, BodyPassesInTurn)
{
    WriteRules("BODYHTML:\r\n<b>cheap\r\nBODY:\r\ncheap pills\r\nc*heap\r\nwatches\r\n");
    CMailRecord* html = Add(Message("Subject: a\r\n", "<b>cheap</b> pills\r\n"));
    CMailRecord* noHtml = Add(Message("Subject: b\r\n", "<i>cheap</i>\r\n  pills\r\n"));
    CMailRecord* noSeparators = Add(Message("Subject: c\r\n", "c-h-e-a-p!\r\n"));
    CMailRecord* repeats = Add(Message("Subject: d\r\n", "w a t c c h h e s\r\n"));
    CMailRecord* clean = Add(Message("Subject: e\r\n", "nothing to see\r\n"));
    Run();
    EXPECT_EQ(html->m_strSpamType, "Body");
    EXPECT_EQ(html->m_strFilterLabel, "HTML");
    EXPECT_EQ(html->m_strRuleText, "<B>CHEAP");
    EXPECT_EQ(noHtml->m_strFilterLabel, "no HTML");
    EXPECT_EQ(noHtml->m_strRuleText, "CHEAP PILLS");
    EXPECT_EQ(noSeparators->m_strFilterLabel,
              "no HTML and no separate char and convertion char ( '`.,;^!%?*$) @0\xE9\xE8\xE0");
    EXPECT_EQ(noSeparators->m_strRuleText, "CHEAP"); // the stripped entry
    EXPECT_EQ(repeats->m_strFilterLabel, "no HTML, no separate char, convertion charand squeeze repeat char");
    EXPECT_EQ(repeats->m_strRuleText, "WATCHES");
    EXPECT_FALSE(clean->m_bSpam);
    EXPECT_EQ(mailList.Cell(0, CMailListModel::kSpam), "Body (<b>cheap)");
}

TEST_F(PipelineTest, BodyRulesDoNotMatchTheHeaderOfAMessageWithoutStatus)
{
    WriteRules("BODY:\r\nwinner\r\n");
    CMailRecord* r = Add(Message("From: Winner@x\r\nSubject: Winner\r\n", "plain text\r\n"));
    const std::string before = r->m_pszText;
    Run();
    EXPECT_FALSE(r->m_bSpam);
    EXPECT_EQ(r->m_strSubject, " WINNER"); // the body did not join the Subject
    EXPECT_EQ(r->m_pszText, before);       // the stored text keeps no Status line
}

TEST_F(PipelineTest, DebugLinesOfTheBodyPasses)
{
    WriteRules("BODY:\r\nnever\r\n");
    analysis.SetDebug(true);
    Add(Message("Subject: a\r\n"));
    EXPECT_EQ(Run(), (Lines{Start(1), "Recherche avant d'enlever le HTML",
                            "Recherche apr\xE8" "s avoir enlev\xE9" " le HTML",
                            "Suppression de tous les carat\xE8" "res de s\xE9" "paration",
                            "Recherche apr\xE8" "s avoir enlev\xE9" " tous les carat\xE8" "res de s\xE9"
                            "paration et converti en caract\xE8" "res classiques",
                            "Suppression de tous les carat\xE8" "res r\xE9" "p\xE9" "t\xE9" "s",
                            "Recherche apr\xE8" "s avoir enlev\xE9" " tous les carat\xE8" "res r\xE9" "p\xE9"
                            "t\xE9" "s",
                            End(1)}));
}

TEST_F(PipelineTest, AnalysedRecordsAreCountedButNotTouched)
{
    WriteRules("FROM:\r\n*\r\n");
    CMailRecord* done = Add(Message("Subject: old\r\n"));
    done->m_bAnalysed = true;
    CMailRecord* fresh = Add(Message("Subject: new\r\n"));
    EXPECT_EQ(Run(), (Lines{Start(2), Spam(1, "From", "String search"), End(2)}));
    EXPECT_FALSE(done->m_bSpam);
    EXPECT_TRUE(fresh->m_bSpam);
    EXPECT_EQ(mailList.RowCount(), 1); // inserted at 1, appended as row 0
}

TEST_F(PipelineTest, MailListIsTrimmedToMaxMemoMsg)
{
    WriteRules("");
    settings.m_nMaxMemoMsg = 2;
    for (int i = 0; i < 4; ++i)
        Add(Message("Subject: m" + std::to_string(i) + "\r\n"));
    Run();
    ASSERT_EQ(mailList.RowCount(), 2);
    EXPECT_EQ(mailList.Cell(0, CMailListModel::kSubject), " m2");
    EXPECT_EQ(mailList.Cell(1, CMailListModel::kSubject), " m3");
}

TEST_F(PipelineTest, RulesAreReloadedAtEveryRun)
{
    WriteRules("FROM:\r\nfirst\r\n");
    CMailRecord* a = Add(Message("From: second\r\nSubject: a\r\n"));
    Run();
    EXPECT_FALSE(a->m_bSpam);
    WriteRules("FROM:\r\nsecond\r\n");
    a->m_bAnalysed = false;
    Run();
    EXPECT_TRUE(a->m_bSpam);
}

// What a new user tries first: an ASCII rule against a Subject that hides it
// in encoded words, and a rule file with accents against mail in either
// encoding.
TEST_F(PipelineTest, RulesSeeEncodedWordsOfEveryCharset)
{
    WriteRules("SUBJECT:\r\nviagra\r\n");
    const char* const subjects[] = {
        "=?ISO-8859-1?B?U3DpY2lhbCB2aWFncmEgb2ZmcmU=?=",
        "=?UTF-8?B?dmlhZ3Jh?=",
        "=?UTF-8?Q?Sp=C3=A9cial_=76iagra?=",
        "Offre =?utf-8?b?dmlh?=\r\n =?utf-8?b?Z3Jh?= sp\xE9" "ciale", // folded, adjacent
        "=?Windows-1252?Q?=80_?= =?ISO-8859-15?Q?=A4?= via=?utf-8?q?gra?=",
        "=?KOI8-R?B?8NLJ18XU?= =?utf-8?Q?=F0=9F=92=8A_v?=iagra",
    };
    for (const char* subject : subjects)
        Add(Message("From: a@x\r\nSubject: " + std::string(subject) + "\r\n"));
    Run();
    int n = 0;
    for (CMailRecord* r : records)
        EXPECT_TRUE(r->m_bSpam) << subjects[n++];
}

// Header fields written in raw UTF-8, without encoded words, reach the
// rules in the code page; other bytes are taken as they are, and the text
// served keeps its own bytes.
TEST_F(PipelineTest, RawUtf8HeadersMatchLikeEncodedWords)
{
    WriteRules("FROM:\r\njos\xC3\xA9@\r\nTO:\r\nzo\xC3\xAB@\r\nSUBJECT:\r\nr\xC3\xA9" "duction\r\n");
    const struct {
        std::string header;
        bool spam;
    } cases[] = {
        {"Subject: R\xC3\xA9" "duction 5 \xE2\x82\xAC\r\n", true},
        {"From: Jos\xC3\xA9@example.org\r\nSubject: hi\r\n", true},
        {"To: zo\xC3\xAB@example.org, b@x\r\nSubject: hi\r\n", true},
        {"Subject: R\xE9" "duction\r\n", true},                 // Latin-1, as it is
        {"Subject: R\xC3\xA9" "duction \xE9t\xE9\r\n", false},   // not UTF-8 throughout
        {"Subject: R\xD0\xB5" "duction\r\n", false},             // a Cyrillic e becomes '?'
        {"Subject: R\xC3\xA9" "duction =?utf-8?Q?x?=\r\n", false}, // beside an encoded word
    };
    for (const auto& c : cases)
        Add(Message(c.header));
    Run();
    size_t n = 0;
    for (CMailRecord* r : records) {
        EXPECT_EQ(r->m_bSpam, cases[n].spam) << cases[n].header;
        ++n;
    }
    EXPECT_EQ(records.first()->m_pszText, Message("Subject: _SPAM_ R\xC3\xA9" "duction 5 \xE2\x82\xAC\r\n"));
    EXPECT_EQ(mailList.Cell(0, CMailListModel::kSubject), " R\xE9" "duction 5 \x80");
}

TEST_F(PipelineTest, Utf8RuleFileMatchesLatin1AndUtf8Mail)
{
    WriteRules("SUBJECT:\r\nr\xC3\xA9" "duction\r\nBODY:\r\nd\xC3\xA9j\xC3\xA0 vu\r\n");
    const std::string mails[] = {
        Message("Subject: =?iso-8859-1?Q?R=E9duction?=\r\n"),
        Message("Subject: =?utf-8?Q?R=C3=A9duction?=\r\n"),
        Message("Subject: x\r\nContent-Type: text/plain; charset=iso-8859-1\r\n", "d\xE9j\xE0 vu\r\n"),
        Message("Subject: x\r\nContent-Type: text/plain; charset=utf-8\r\n"
                "Content-Transfer-Encoding: quoted-printable\r\n",
                "d=C3=A9j=C3=A0 vu\r\n"),
        Message("Subject: x\r\nContent-Type: text/plain; charset=\"UTF-8\"\r\n"
                "Content-Transfer-Encoding: base64\r\n",
                "ZMOpasOgIHZ1\r\n\r\n"),
    };
    for (const std::string& mail : mails)
        Add(mail);
    Run();
    int n = 0;
    for (CMailRecord* r : records)
        EXPECT_TRUE(r->m_bSpam) << mails[n++];
    // Mail that declares nothing keeps its bytes: UTF-8 there is not read.
    records.clear();
    Add(Message("Subject: x\r\n", "d\xC3\xA9j\xC3\xA0 vu\r\n"));
    Run();
    EXPECT_FALSE(records.first()->m_bSpam);
}
