// Header extraction: the six fields, the recipient counts, the mail-list row.
#include "decode/HeaderExtraction.h"
#include "shell/MainDialog.h"
#include "base/Win1252.h"

#include <gtest/gtest.h>

TEST(ScanHeaderFields, KeywordsAnyCaseCutAndAngleBracketsAndCrsDropped)
{
    const CHeaderFields f = ScanHeaderFields("return-path: <bounce@x>\r\nFROM: Joe <joe@x>\r\nto: a@x, b@x\r\n"
                                             "CC:c@x\r\nSubject: Hi Subject: again\r\nStatus: RO\r\n\r\nbody");
    EXPECT_EQ(f.m_strReturnPath, " bounce@x");
    EXPECT_EQ(f.m_strFrom, " Joe joe@x");
    EXPECT_EQ(f.m_strTo, " a@x, b@x");
    EXPECT_EQ(f.m_strCc, "c@x");
    EXPECT_EQ(f.m_strSubject, " Hi Subject: again"); // only the first keyword is cut
    EXPECT_EQ(f.m_strRelays, "");
}

TEST(ScanHeaderFields, WithoutStatusBodyLinesJoinTheLastField)
{
    const CHeaderFields f = ScanHeaderFields("From: a\r\nSubject: Hello\r\n\r\nfirst line\r\nsecond: colon\r\n"
                                             "more\r\nFrom: forwarded\r\n");
    EXPECT_EQ(f.m_strSubject, " Hellofirst line");
    EXPECT_EQ(f.m_strFrom, " a forwarded");
}

TEST(ScanHeaderFields, TabLedLinesStayInTheFieldBlankLedLinesWithAColonEndIt)
{
    const CHeaderFields f =
        ScanHeaderFields("Received: from a.example\r\n\tby b; Mon, 7 Dec 2026 04:00:00\r\n"
                         "Received: from c.example\r\nSubject: one\r\n two\r\n three: four\r\nStatus: \r\n");
    EXPECT_EQ(f.m_strRelays, " from a.example\tby b; Mon, 7 Dec 2026 04:00:00 from c.example");
    EXPECT_EQ(f.m_strSubject, " one two");
}

TEST(ScanHeaderFields, StatusIsCaseSensitiveAndOnlyTheFirstCounts)
{
    const CHeaderFields f = ScanHeaderFields("Subject: a\r\nSTATUS: x\r\nTo: t\r\nStatus: y\r\nCc: c\r\n");
    EXPECT_EQ(f.m_strTo, " t");
    EXPECT_EQ(f.m_strCc, "");
}

TEST(RecipientCount, CommasPlusOne)
{
    EXPECT_EQ(RecipientCount(""), 1);
    EXPECT_EQ(RecipientCount("a"), 1);
    EXPECT_EQ(RecipientCount("a, b,c"), 3);
}

class ExtractHeadersTest : public ::testing::Test
{
protected:
    void SetUp() override { hub.m_bEchoLog = false; }
    CMainDialog hub;
};

TEST_F(ExtractHeadersTest, FillsTheRecordAndTheRow)
{
    CMailRecord r;
    r.m_pszText = "Return-Path: <b@x>\r\nReceived: from relay\r\nFrom: Jo\xEB <jo@x>\r\nTo: a, b\r\n"
                  "Subject: Caf\xE9\r\nStatus: \r\n\r\nbody\r\n";
    r.m_strUidl = "U1";
    r.m_nClientNumber = 12;
    EXPECT_EQ(hub.ExtractHeaders(&r, 5), 0); // past the end: appended
    EXPECT_EQ(hub.m_mailList.RowAt(0),
              (CMailListModel::Row{" Jo\xEB jo@x", " Caf\xE9", "", "U1", "12", " a, b"}));
    EXPECT_EQ(r.m_strFrom, " JO\xCB JO@X");
    EXPECT_EQ(r.m_strSubject, " CAF\xC9");
    EXPECT_EQ(r.m_strReturnPath, " B@X");
    EXPECT_EQ(r.m_strRelays, " FROM RELAY");
    EXPECT_EQ(r.m_strCc, "");
    EXPECT_EQ(r.m_nToCount, 2);
    EXPECT_EQ(r.m_nCcCount, 1);
}

TEST_F(ExtractHeadersTest, IsoEncodedWordsInTheSubjectAreDecoded)
{
    CMailRecord r;
    r.m_pszText = "Subject: =?iso-8859-1?Q?caf=E9?=\r\nStatus: \r\n";
    hub.ExtractHeaders(&r, 0);
    // The row shows the decoded value as it is, the record keeps it upper case.
    const std::string shown = hub.m_mailList.Cell(0, CMailListModel::kSubject);
    EXPECT_EQ(shown.substr(shown.size() - 4), "caf\xE9");
    EXPECT_EQ(shown.find("=?"), std::string::npos);
    EXPECT_EQ(r.m_strSubject, w1252::Upper(shown));
    CMailRecord other;
    other.m_pszText = "Subject: =?utf-8?Q?caf=C3=A9?=\r\nStatus: \r\n"; // no ISO word: left as it is
    hub.ExtractHeaders(&other, 0);
    EXPECT_EQ(other.m_strSubject, " =?UTF-8?Q?CAF=C3=A9?=");
}

TEST_F(ExtractHeadersTest, RowsBeyondMaxMemoMsgAreDeletedFromTheTop)
{
    hub.m_nMaxMemoMsg = 2;
    for (int i = 0; i < 3; ++i) {
        CMailRecord r;
        r.m_pszText = "Subject: " + std::to_string(i) + "\r\n";
        EXPECT_EQ(hub.ExtractHeaders(&r, i), std::min(i, 2));
    }
    ASSERT_EQ(hub.m_mailList.RowCount(), 2);
    EXPECT_EQ(hub.m_mailList.Cell(0, CMailListModel::kSubject), " 1");
    hub.m_nMaxMemoMsg = 0;
    CMailRecord r;
    r.m_pszText = "Subject: gone\r\n";
    hub.ExtractHeaders(&r, 0);
    EXPECT_EQ(hub.m_mailList.RowCount(), 0);
    EXPECT_EQ(r.m_strSubject, " GONE");
}
