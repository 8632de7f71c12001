#include "DecoderFixture.h"

TEST(LookAlikeChar, MapsTheRowsAndLeavesTheRest)
{
    const std::string from = "0@\xE9\xC7\xD0\xF0\xDF\xFE\xB9\xB2\xB3\xAE\x80\xA9\xAA\xB5\xFF";
    const std::string to = "OAEYDOBB123RCCAUY";
    for (size_t i = 0; i < from.size(); ++i)
        EXPECT_EQ(CMailDecoder::LookAlikeChar(static_cast<unsigned char>(from[i])),
                  static_cast<unsigned char>(to[i]))
            << i;
    for (const char c : std::string("1az Z\xAB\xF7\xD7"))
        EXPECT_EQ(CMailDecoder::LookAlikeChar(static_cast<unsigned char>(c)), static_cast<unsigned char>(c));
}

TEST(ConvertLookAlikes, ConvertsOnlyAfterTheStatusLine)
{
    CMailDecoder decoder;
    std::string text = "Subject: @0\xE9\r\nStatus:0 RO\r\n\r\n@0\xE9\xC7 1 abc";
    const std::string result = decoder.ConvertLookAlikes(text);
    EXPECT_EQ(result, "Subject: @0\xE9\r\nStatus:O RO\r\n\r\nAOEY 1 abc");
    EXPECT_EQ(text, result);
}

TEST(ConvertLookAlikes, WithoutStatusConvertsEverything)
{
    CMailDecoder decoder;
    std::string text = "From: a@b0\r\n\r\n\xE9t\xE9";
    EXPECT_EQ(decoder.ConvertLookAlikes(text), "From: aAbO\r\n\r\nEtE");
    std::string lower = "status: @";
    EXPECT_EQ(decoder.ConvertLookAlikes(lower), "status: A");
}
