#include "DecoderFixture.h"

namespace {
const char kLine[] = "Message encod\xE9" "e en ISO8859(A)\r\n";
} // namespace

TEST(EntityTable, HasItsRowsInOrderWithTheOddReplacements)
{
    EXPECT_EQ(CMailDecoder::EntityTable[0].name, "&nsp;");
    EXPECT_EQ(CMailDecoder::EntityTable[124].name, "&yuml;");
    auto replacementOf = [](std::string_view name) {
        for (const SEntityRow& row : CMailDecoder::EntityTable)
            if (row.name == name)
                return std::string(row.replacement);
        return std::string("missing");
    };
    EXPECT_EQ(replacementOf("&apos;"), "`");
    EXPECT_EQ(replacementOf("&nbsp;"), " ");
    EXPECT_EQ(replacementOf("&trade;"), "\x99");
    EXPECT_EQ(replacementOf("&brvbar;"), "|");
    EXPECT_EQ(replacementOf("&shy;"), "-");
    EXPECT_EQ(replacementOf("&sup3;"), "\xA0\xA0");
    EXPECT_EQ(replacementOf("&cedil;"), "\xFC");
    EXPECT_EQ(replacementOf("&raquo;"), "\"");
    EXPECT_EQ(replacementOf("&laquo;"), "\xAB");
    EXPECT_EQ(replacementOf("&times;"), "x");
    EXPECT_EQ(replacementOf("&Dstrok;"), "\xD0");
}

TEST_F(DecoderTest, EntitiesAreCaseSensitive)
{
    EXPECT_EQ(Decoder().DecodeEntities("caf&eacute; &Eacute;t&Eacute; &EACUTE; &euro;", true),
              "caf\xE9 \xC9t\xC9 &EACUTE; &euro;");
    EXPECT_EQ(Log(), Entry(kLine));
}

TEST_F(DecoderTest, EntitiesWithOddReplacements)
{
    EXPECT_EQ(Decoder().DecodeEntities("a&sup3;b&apos;c&nbsp;d", false), "a\xA0\xA0" "b`c d");
}

TEST_F(DecoderTest, EntitySpacedFormReplacedWithEveryIdenticalCopy)
{
    EXPECT_EQ(Decoder().DecodeEntities("a &eacute ; b &eacute ; c &eacute  ; d", false),
              "a \xE9 b \xE9 c \xE9 d");
    EXPECT_EQ(Decoder().DecodeEntities("& l t ;", false), "<");
}

TEST_F(DecoderTest, EntityWithoutSemicolonLeavesTextAndLogAlone)
{
    EXPECT_EQ(Decoder().DecodeEntities("fish & chips &amp", true), "fish & chips &amp");
    // The walk stops at the first '&' with no ';' after it.
    EXPECT_EQ(Decoder().DecodeEntities("x; &lt; &", false), "x; < &");
    EXPECT_EQ(Log(), "");
}

TEST_F(DecoderTest, EntitiesLogOncePerCall)
{
    Decoder().DecodeEntities("&lt;&gt;&amp;", true);
    EXPECT_EQ(Log(), Entry(kLine));
}

TEST_F(DecoderTest, EntityDecodedAmpersandIsReadOnlyFurtherOn)
{
    EXPECT_EQ(Decoder().DecodeEntities("&amp;lt;", false), "&lt;");
    // The copy further on turns into "&lt;" too; when the walk reaches it,
    // both are replaced, the one behind the walk included.
    EXPECT_EQ(Decoder().DecodeEntities("&amp;lt; x &amp;lt;", false), "< x <");
    // A replacement behind the walk shortens the text there, so the walk
    // resumes further on: the "&gt;" right after the second "&lt;" is passed.
    EXPECT_EQ(Decoder().DecodeEntities("&amp;lt;&amp;lt;&gt;", false), "<<&gt;");
}
