// Header extraction: the six fields and the recipient counts.
#include "decode/HeaderExtraction.h"
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
