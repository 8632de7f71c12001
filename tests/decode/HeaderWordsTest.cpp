#include "DecoderFixture.h"

namespace {
const char kLine[] = "Message encod\xE9" "e en RFC2047\r\n";
} // namespace

TEST_F(DecoderTest, HeaderWordQuotedDropsTheLeadingBlank)
{
    EXPECT_EQ(Decoder().DecodeHeaderWords(" =?iso-8859-1?Q?caf=E9_noir?="), "caf\xE9 noir");
    EXPECT_EQ(Log(), Entry(kLine));
}

TEST_F(DecoderTest, HeaderWordsJoinedAcrossWhiteSpaceButNotAcrossText)
{
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?iso-8859-1?Q?a?= \t =?iso-8859-1?B?Yg==?="), "ab");
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?iso-8859-1?Q?a?= mot =?iso-8859-1?Q?b?="), "a mot b");
    EXPECT_EQ(Decoder().DecodeHeaderWords("Re: =?iso-8859-1?q?a?= x"), "Re: a x");
}

TEST_F(DecoderTest, HeaderWordOtherEncodingsAndCharsets)
{
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?iso-8859-1?X?abc?=!"), "<unknown>!");
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?n'importe quoi?q?x?="), "x"); // charset never read
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?a?qq?x?="), "<unknown>");
    // An empty encoded text is a word too.
    EXPECT_EQ(Decoder().DecodeHeaderWords("a=?x?q?" "?=b"), "ab");
}

TEST_F(DecoderTest, HeaderWordZeroByteEndsTheResult)
{
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?utf-8?B?QQBC?= suite"), "A");
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?utf-8?Q?A=00B?= suite"), "A");
}

TEST_F(DecoderTest, HeaderWordIncompleteValueComesBackAsItWas)
{
    const std::string value = "  =?iso-8859-1?Q?caf=E9 noir";
    EXPECT_EQ(Decoder().DecodeHeaderWords(value), value);
    EXPECT_EQ(Decoder().DecodeHeaderWords(" =?iso?Q?abc?"), " =?iso?Q?abc?");
    EXPECT_EQ(Log(), "");
}

TEST_F(DecoderTest, HeaderWordFieldLimits)
{
    const std::string charset128(128, 'c'), charset129(129, 'c');
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?" + charset128 + "?q?ok?="), "ok");
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?" + charset129 + "?q?ok?="), "=?" + charset129 + "?q?ok?=");
    const std::string name32(32, 'n'), name33(33, 'n');
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?c?" + name32 + "?ok?="), "<unknown>");
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?c?" + name33 + "?ok?="), "=?c?" + name33 + "?ok?=");
    // The "?=" must lie within the 128 characters after the second '?'.
    const std::string text126(126, 't'), text127(127, 't');
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?c?q?" + text126 + "?="), text126);
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?c?q?" + text127 + "?="), "=?c?q?" + text127 + "?=");
    // A blank ends the encoded text's field.
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?c?q?a b?="), "=?c?q?a b?=");
}

TEST_F(DecoderTest, HeaderWordQuotedEscapesAtTheEdges)
{
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?c?q?a=?="), "a=");
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?c?q?a=4?="), "a\x04");
    EXPECT_EQ(Decoder().DecodeHeaderWords("=?c?q?=zz?="), "=zz");
}
