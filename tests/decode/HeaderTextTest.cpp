// Encoded words decoded by their charsets into the code page, as the header
// reading takes the Subject and the mail list shows the From.
#include "DecoderFixture.h"

namespace {
const char kLine[] = "Message encod\xE9" "e en RFC2047\r\n";
} // namespace

TEST_F(DecoderTest, HeaderTextCharsetsAndForms)
{
    struct Case {
        const char* value;
        const char* expected;
    };
    const Case cases[] = {
        // Without an ISO word.
        {"=?UTF-8?B?dmlhZ3Jh?=", "viagra"},
        {" =?UTF-8?Q?Sp=C3=A9cial_=76iagra?=", "Sp\xE9" "cial viagra"},
        {"=?utf-8?b?U3DDqWNpYWwg4oKsIHZpYWdyYQ==?=", "Sp\xE9" "cial \x80 viagra"},
        {"=?utf-8?q?=D0=9F=D1=80=D0=B8_viagra?=", "??? viagra"},         // Cyrillic
        {"=?UTF-8?Q?=F0=9F=92=8A_viagra?=", "? viagra"},                 // a pill, beyond the first plane
        {"=?Windows-1252?Q?=80_viagra?=", "\x80 viagra"},
        {"=?us-ascii?Q?viagra?=", "viagra"},
        {"=?KOI8-R?B?8NLJ18XU?= viagra", "?????? viagra"},               // Привет
        {"=?windows-1251?Q?=CF=F0=E8?= viagra", "??? viagra"},
        {"=?UTF-16BE?B?AHYAaQBhAGcAcgBh?=", "viagra"},
        {"=?utf-8*fr?Q?caf=C3=A9?=", "caf\xE9"},                       // language suffix
        {"=?x-unknown?Q?caf=E9?=", "caf\xE9"},                          // unknown charset: bytes as they are
        {"=?utf-8?Q?caf=E9?=", "caf\xE9"},                              // Latin-1 labelled UTF-8: kept
        // With an ISO word: ISO bytes exact, the others converted.
        {"=?ISO-8859-1?B?U3DpY2lhbCB2aWFncmEgb2ZmcmU=?=", "Sp\xE9" "cial viagra offre"},
        {"=?iso-8859-15?Q?=A4?= =?utf-8?Q?=E2=82=AC?= viagra", "\xA4\x80 viagra"},
        {"=?ISO-8859-1?Q?=80?= =?x?Q?=80?=", "\x80\x80"},
        {"Re: =?iso-8859-1?Q?a?= =?UTF-8?Q?=C3=A9?= x =?utf-8?B?dmlhZ3Jh?=", "Re: a\xE9 x viagra"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Decoder().DecodeHeaderText(c.value, true), c.expected) << c.value;
}

TEST_F(DecoderTest, HeaderTextAdjacentAndFoldedWords)
{
    // The header reading joins folded lines with nothing between them; the
    // blank that began the continuation separates the words.
    EXPECT_EQ(Decoder().DecodeHeaderText(" =?UTF-8?Q?vi?= =?UTF-8?Q?agra?=", true), "viagra");
    EXPECT_EQ(Decoder().DecodeHeaderText("=?UTF-8?Q?vi?=\t=?utf-8?B?YWdyYQ==?=", true), "viagra");
    // A character split between two words comes out whole.
    EXPECT_EQ(Decoder().DecodeHeaderText("=?UTF-8?Q?caf=C3?= =?UTF-8?Q?=A9?=", true), "caf\xE9");
    // Words of two charsets still join; around plain text the blanks stay.
    EXPECT_EQ(Decoder().DecodeHeaderText("=?UTF-8?Q?a?= =?KOI8-R?Q?b?=", true), "ab");
    EXPECT_EQ(Decoder().DecodeHeaderText("=?UTF-8?Q?a?= et =?UTF-8?Q?b?=", true), "a et b");
    EXPECT_EQ(Log(), Entry(kLine) + Entry(kLine) + Entry(kLine) + Entry(kLine) + Entry(kLine));
}

TEST_F(DecoderTest, HeaderTextLeavesMalformedWordsAsTheyStand)
{
    const char* const unchanged[] = {
        " =?UTF-8?B?d=mlhZ3Jh?=",      // misplaced pad
        "=?UTF-8?X?viagra?=",         // unknown encoding name
        "=?UTF-8?Q?viagra",           // no end
        "=?UTF-8?Q?via gra?=",        // blank inside
        "plain subject",
    };
    for (const char* value : unchanged)
        EXPECT_EQ(Decoder().DecodeHeaderText(value, true), value) << value;
    EXPECT_EQ(Log(), "");
    // A malformed word beside a good one keeps its place and its blanks.
    EXPECT_EQ(Decoder().DecodeHeaderText("=?UTF-8?Q?a?= =?UTF-8?X?b?= =?UTF-8?Q?c?=", true), "a =?UTF-8?X?b?= c");
    // Beside an ISO word, every word is decoded as it always was.
    EXPECT_EQ(Decoder().DecodeHeaderText("=?ISO-8859-1?Q?a?= =?UTF-8?X?b?=", true), "a<unknown>");
    // No log line when the caller does not want one.
    m_log.Clear();
    EXPECT_EQ(Decoder().DecodeHeaderText("=?UTF-8?Q?Jos=C3=A9?= <j@x>", false), "Jos\xE9 <j@x>");
    EXPECT_EQ(Log(), "");
}
