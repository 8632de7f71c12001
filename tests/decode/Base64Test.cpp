#include "DecoderFixture.h"

#include "decode/Base64.h"

namespace {

std::string DecodeRun(const std::string& run, bool* ok = nullptr)
{
    int32_t length = -1;
    const auto bytes = CBase64().DecodeBase64Run(run.data(), static_cast<int32_t>(run.size()), &length);
    if (ok)
        *ok = bytes != nullptr;
    return bytes ? std::string(reinterpret_cast<const char*>(bytes.get()), length) : std::string();
}

const char kLogLine[] = "Message encod\xE9" "e en base64\r\n";

} // namespace

TEST(Base64Run, TableHoldsOffsetsOfTheAlphabet)
{
    EXPECT_EQ(CBase64::Base64DecodeTable['A'], 65);
    EXPECT_EQ(CBase64::Base64DecodeTable['z'], 71);
    EXPECT_EQ(CBase64::Base64DecodeTable['0'], -4);
    EXPECT_EQ(CBase64::Base64DecodeTable['+'], -19);
    EXPECT_EQ(CBase64::Base64DecodeTable['/'], -16);
    EXPECT_EQ(CBase64::Base64DecodeTable['='], 0);
    EXPECT_EQ(CBase64::Base64DecodeTable['\n'], -1);
    EXPECT_EQ(CBase64::Base64DecodeTable[0xE9], -1);
}

TEST(Base64Run, DecodesQuantaSkipsForeignBytesAndChecksPads)
{
    EXPECT_EQ(DecodeRun("SGVsbG8="), "Hello");
    EXPECT_EQ(DecodeRun("SGVs\r\nbG8h"), "Hello!");
    EXPECT_EQ(DecodeRun("YQ=="), "a");
    EXPECT_EQ(DecodeRun("YQ==YQ=="), "aa"); // decoding goes on after a pad
    EXPECT_EQ(DecodeRun("YWI"), "ab");     // a byte only started is not counted
    bool ok = true;
    EXPECT_EQ(DecodeRun("Y=", &ok), "");
    EXPECT_FALSE(ok);
    DecodeRun("=", &ok);
    EXPECT_FALSE(ok);
    DecodeRun("YQ=", &ok); // second '=' missing
    EXPECT_FALSE(ok);
    DecodeRun("YQ= =", &ok); // the two pads must touch
    EXPECT_FALSE(ok);
    EXPECT_EQ(DecodeRun("", &ok), "");
    EXPECT_TRUE(ok);
}

TEST_F(DecoderTest, Base64BlockBetweenBlankLinesIsDecodedInPlace)
{
    const std::string text = "Subject: x\r\nContent-Transfer-Encoding: base64\r\n\r\nSGVsbG8g\r\nd29ybGQ=\r\n\r\n"
                             "after\r\n";
    EXPECT_EQ(Decoder().DecodeBase64(text, true),
              "Subject: x\nContent-Transfer-Encoding\n\nHello world\nafter\n");
    EXPECT_EQ(Log(), Entry(kLogLine));
}

TEST_F(DecoderTest, Base64BlockEndingInPadAtTheEndOfTheText)
{
    // One '=' at the end is no end of block.
    EXPECT_EQ(Decoder().DecodeBase64("X: base64\n\nSGk=", false), "X: base64\n\nSGk=");
    EXPECT_EQ(Decoder().DecodeBase64("X: base64\n\nYQ==", false), "X\n\na");
    // The byte after "==" goes with the block.
    EXPECT_EQ(Decoder().DecodeBase64("X: base64\n\nYQ==!tail", false), "X\n\natail");
    EXPECT_EQ(Log(), "");
}

TEST_F(DecoderTest, Base64BlockEndingInALoneDotLine)
{
    EXPECT_EQ(Decoder().DecodeBase64("X: base64\r\n\r\nSGk=\r\n.\r\n", false), "X\n\nHi.\n");
}

TEST_F(DecoderTest, Base64MisplacedPadGivesNothingButStillLogs)
{
    EXPECT_EQ(Decoder().DecodeBase64("X: base64\n\nS=Gk\n\nrest", true), "X\n\n\nrest");
    EXPECT_EQ(Log(), Entry(kLogLine));
}

TEST_F(DecoderTest, Base64BytesAfterAZeroAreLost)
{
    // "A\0B" encoded.
    EXPECT_EQ(Decoder().DecodeBase64("X: base64\n\nQQBC\n\nend", false), "X\n\nA\nend");
}

TEST_F(DecoderTest, Base64OnlyTheFirstBlockIsDecoded)
{
    const std::string text = "A: base64\n\nSGk=\n\nB: base64\n\nSGk=\n\n";
    const std::string once = Decoder().DecodeBase64(text, false);
    EXPECT_EQ(once, "A\n\nHi\nB\n\nSGk=\n\n");
    EXPECT_EQ(Decoder().DecodeBase64(once, false), once); // markers are gone
}

TEST_F(DecoderTest, Base64WithoutMarkerOrBlockKeepsWhatItCan)
{
    const std::string plain = "Subject: x\r\n\r\nSGk=\r\n";
    EXPECT_EQ(Decoder().DecodeBase64(plain, true), plain);
    EXPECT_EQ(Log(), "");
    // A marker spelt in capitals does not count.
    EXPECT_EQ(Decoder().DecodeBase64("X: BASE64\r\n\r\nSGk=", false), "X: BASE64\r\n\r\nSGk=");
    // Marker but no blank line after it: carriage returns go, nothing else.
    EXPECT_EQ(Decoder().DecodeBase64("X: base64\r\nSGk=\r\n", true), "X: base64\nSGk=\n");
    // Blank line but no end of block: the same.
    EXPECT_EQ(Decoder().DecodeBase64("X: base64\r\n\r\nSGk\r\n", true), "X: base64\n\nSGk\n");
    EXPECT_EQ(Log(), "");
}

TEST_F(DecoderTest, Base64BlockStartsAfterEveryLineFeedAndSearchesEndOneFurther)
{
    // Extra blank lines before the block are passed over.
    EXPECT_EQ(Decoder().DecodeBase64("X: base64\n\n\n\nSGk=\n\nz", false), "X\n\n\n\nHi\nz");
    // The end is searched from one character after the start: a block made of
    // one character before "\n\n" is still a block.
    EXPECT_EQ(Decoder().DecodeBase64("X: base64\n\nS\n\nz", false), "X\n\n\nz");
    // Text ending right after the blank line: nothing to decode.
    EXPECT_EQ(Decoder().DecodeBase64("X: base64\n\n", false), "X: base64\n\n");
}
