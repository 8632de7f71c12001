// The header extraction of the analysis: the record's fields and counts, and
// the message's mail-list row.
#include "FilterFixture.h"

#include "base/Win1252.h"

class ExtractHeadersTest : public FilterFixture
{
};

TEST_F(ExtractHeadersTest, FillsTheRecordAndTheRow)
{
    CMailRecord r;
    r.m_pszText = "Return-Path: <b@x>\r\nReceived: from relay\r\nFrom: Jo\xEB <jo@x>\r\nTo: a, b\r\n"
                  "Subject: Caf\xE9\r\nStatus: \r\n\r\nbody\r\n";
    r.m_strUidl = "U1";
    r.m_nClientNumber = 12;
    EXPECT_EQ(analysis.ExtractHeaders(&r, 5), 0); // past the end: appended
    EXPECT_EQ(mailList.RowAt(0),
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
    analysis.ExtractHeaders(&r, 0);
    // The row shows the decoded value as it is, the record keeps it upper case.
    const std::string shown = mailList.Cell(0, CMailListModel::kSubject);
    EXPECT_EQ(shown.substr(shown.size() - 4), "caf\xE9");
    EXPECT_EQ(shown.find("=?"), std::string::npos);
    EXPECT_EQ(r.m_strSubject, w1252::Upper(shown));
    CMailRecord other;
    other.m_pszText = "Subject: =?utf-8?Q?caf=C3=A9?=\r\nStatus: \r\n"; // no ISO word: UTF-8 decoded too
    analysis.ExtractHeaders(&other, 0);
    EXPECT_EQ(other.m_strSubject, "CAF\xC9");
}

TEST_F(ExtractHeadersTest, TheListShowsTheFromDecodedTheRulesSeeItAsItCame)
{
    CMailRecord r;
    r.m_pszText = "From: =?UTF-8?Q?Jos=C3=A9?= <j@x>\r\nSubject: =?UTF-8?B?dmlhZ3Jh?=\r\nStatus: \r\n";
    analysis.ExtractHeaders(&r, 0);
    EXPECT_EQ(mailList.Cell(0, CMailListModel::kFrom), "Jos\xE9 j@x");
    EXPECT_EQ(mailList.Cell(0, CMailListModel::kSubject), "viagra");
    EXPECT_EQ(r.m_strFrom, " =?UTF-8?Q?JOS=C3=A9?= J@X");
    EXPECT_EQ(r.m_strSubject, "VIAGRA");
    // One log line, for the Subject.
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Message encod\xE9" "e en RFC2047"});
}

TEST_F(ExtractHeadersTest, RowsBeyondMaxMemoMsgAreDeletedFromTheTop)
{
    settings.m_nMaxMemoMsg = 2;
    for (int i = 0; i < 3; ++i) {
        CMailRecord r;
        r.m_pszText = "Subject: " + std::to_string(i) + "\r\n";
        EXPECT_EQ(analysis.ExtractHeaders(&r, i), std::min(i, 2));
    }
    ASSERT_EQ(mailList.RowCount(), 2);
    EXPECT_EQ(mailList.Cell(0, CMailListModel::kSubject), " 1");
    settings.m_nMaxMemoMsg = 0;
    CMailRecord r;
    r.m_pszText = "Subject: gone\r\n";
    analysis.ExtractHeaders(&r, 0);
    EXPECT_EQ(mailList.RowCount(), 0);
    EXPECT_EQ(r.m_strSubject, " GONE");
}
