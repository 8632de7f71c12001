// Numeric references and quoted-printable.
#include "DecoderFixture.h"

namespace {
const char k8BitLine[] = "Message encod\xE9" "e en 8 Bit\r\n";
const char k7BitLine[] = "Message encod\xE9" "e en 7 Bit\r\n";
const char kQLine[] = "Message encod\xE9" "e en ISO8859(Q)\r\n";
} // namespace

TEST_F(DecoderTest, EightBitDecodesShortDecimalReferences)
{
    const std::string text = "Content-Transfer-Encoding: 8bit\r\n\r\n&#65;&#8364;&#x41;&#1234567;&#1234;";
    EXPECT_EQ(Decoder().Decode8Bit(text, true),
              "Content-Transfer-Encoding\r\n\r\nA\xAC&#x41;&#1234567;\xD2");
    EXPECT_EQ(Log(), Entry(k8BitLine));
}

TEST_F(DecoderTest, EightBitWithoutMarkerChangesNothing)
{
    const std::string text = "Content-Transfer-Encoding: 8BIT\r\n\r\n&#65;";
    EXPECT_EQ(Decoder().Decode8Bit(text, true), text);
    EXPECT_EQ(Log(), "");
}

TEST_F(DecoderTest, EightBitWithBothMarkersLogsBothAndKeepsThe8BitOnes)
{
    EXPECT_EQ(Decoder().Decode8Bit("a: 8bit b: 7bit c: 7bit &#66;", true), "a: 8bit b c B");
    EXPECT_EQ(Log(), Entry(k8BitLine) + Entry(k7BitLine));
}

TEST_F(DecoderTest, EightBitZeroReferenceVanishesAndTheSearchMovesOn)
{
    // Removing "&#0;" brings the next reference to the same position, which
    // the search, resuming one further, passes over.
    EXPECT_EQ(Decoder().Decode8Bit(": 7bit&#0;&#65;&#66;", false), "&#65;B");
    EXPECT_EQ(Decoder().Decode8Bit(": 7bit&#256;x&#65;", false), "xA");
    // A decoded '&' is not read again as the start of a reference.
    EXPECT_EQ(Decoder().Decode8Bit(": 7bit&#38;#65;", false), "&#65;");
    // Sign and leading white space are read as the number's.
    EXPECT_EQ(Decoder().Decode8Bit(": 7bit&#-1;&# 66;", false), "\xFF" "B");
    // ';' exactly six characters after '&' still counts; seven does not.
    EXPECT_EQ(Decoder().Decode8Bit(": 7bit&#0065;&#00065;", false), "A&#00065;");
    // A lone "&#" at the end.
    EXPECT_EQ(Decoder().Decode8Bit(": 7bit x&#", false), " x&#");
}

TEST_F(DecoderTest, QuotedPrintableDecodesFromTheStatusLineOn)
{
    const std::string text = "Subject: caf=E9 100%25\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
                             "Status: RO\r\n\r\nd=E9j=E0 100%25 50% off=\r\nsuite";
    EXPECT_EQ(Decoder().DecodeQuotedPrintable(text, true),
              "Subject: caf=E9 100%25\r\nContent-Type: text/plain; \r\n"
              "Status: RO\r\n\r\nd\xE9j\xE0 100% 50% offsuite");
    EXPECT_EQ(Log(), Entry(kQLine));
}

TEST_F(DecoderTest, QuotedPrintableWithoutStatusDecodesEverything)
{
    EXPECT_EQ(Decoder().DecodeQuotedPrintable("X: quoted-printable\r\n\r\n=41%42", false), "X\r\n\r\nAB");
    // The boundary is the first "Status:", spelt exactly so.
    EXPECT_EQ(Decoder().DecodeQuotedPrintable(": quoted-printable =41status:=41", false), " Astatus:A");
    EXPECT_EQ(Decoder().DecodeQuotedPrintable(": quoted-printable =41Status:=41", false), " =41Status:A");
}

TEST_F(DecoderTest, QuotedPrintableSoftBreaksSwallowEveryLineEnd)
{
    EXPECT_EQ(Decoder().DecodeQuotedPrintable("charset=iso-8859-1 ab=\r\ncd", false), " abcd");
    EXPECT_EQ(Decoder().DecodeQuotedPrintable("charset=iso-8859-1 ab=\r\n\r\ncd", false), " abcd");
    EXPECT_EQ(Decoder().DecodeQuotedPrintable("charset=iso-8859-1 ab=\ncd", false), " abcd");
}

TEST_F(DecoderTest, QuotedPrintableEscapesThatStay)
{
    // Value 0, no hexadecimal digit, a percent before a blank, a trailing '='.
    EXPECT_EQ(Decoder().DecodeQuotedPrintable("charset=iso-8859-1 =00 %00 =zz %zz 5% x=", false),
              " =00 %00 =zz %zz 5% x=");
    // One digit at the very end is a value of its own.
    EXPECT_EQ(Decoder().DecodeQuotedPrintable("charset=iso-8859-1 =4", false), " \x04");
    // One digit followed by something else: the value, and the next two
    // characters go with the escape.
    EXPECT_EQ(Decoder().DecodeQuotedPrintable("charset=iso-8859-1 =4zq", false), " \x04q");
}

TEST_F(DecoderTest, QuotedPrintableWithoutMarkerChangesNothing)
{
    const std::string text = "Status: RO\r\n\r\nd=E9j=E0";
    EXPECT_EQ(Decoder().DecodeQuotedPrintable(text, true), text);
    EXPECT_EQ(Log(), "");
}

TEST_F(DecoderTest, DecodersWriteNoLogLineWhenAskedNotToOrWithoutTarget)
{
    Decoder().DecodeQuotedPrintable("charset=iso-8859-1", false);
    Decoder().Decode8Bit(": 8bit", false);
    CMailDecoder detached;
    detached.DecodeQuotedPrintable("charset=iso-8859-1", true);
    detached.DecodeHeaderWords("=?a?q?b?=");
    EXPECT_EQ(Log(), "");
}
