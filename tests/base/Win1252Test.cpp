#include "base/Win1252.h"

#include <QString>
#include <gtest/gtest.h>

TEST(Win1252, CasingFollowsTheCodePage)
{
    EXPECT_EQ(w1252::Upper("abc xyz"), "ABC XYZ");
    EXPECT_EQ(w1252::Upper("\xE0\xE9\xFE"), "\xC0\xC9\xDE"); // àéþ -> ÀÉÞ
    EXPECT_EQ(w1252::Upper("\xF7"), "\xF7");                 // ÷ has no capital
    EXPECT_EQ(w1252::Upper("\xDF\xB5"), "\xDF\xB5");         // ß and µ stay
    EXPECT_EQ(w1252::Upper("\x9A\x9C\x9E\xFF"), "\x8A\x8C\x8E\x9F"); // š œ ž ÿ
    EXPECT_EQ(w1252::Lower("\x8A\x8C\x8E\x9F\xC0\xDE"), "\x9A\x9C\x9E\xFF\xE0\xFE");
    EXPECT_EQ(w1252::Lower("\xD7"), "\xD7"); // × has no small letter

    // Long texts are upper-cased 16 bytes at a time: every byte, in blocks of
    // plain ASCII and in blocks with high bytes, byte for byte as ToUpper.
    std::string all;
    for (int c = 0; c < 128; ++c)
        all.push_back(static_cast<char>(c));
    for (int c = 0; c < 256; ++c)
        all.push_back(static_cast<char>(255 - c));
    std::string expected = all;
    for (char& c : expected)
        c = static_cast<char>(w1252::ToUpper(static_cast<unsigned char>(c)));
    EXPECT_EQ(w1252::Upper(all), expected);
}

TEST(Win1252, CaseInsensitiveCompare)
{
    EXPECT_TRUE(w1252::EqualsNoCase("\xC9t\xE9", "\xE9T\xC9"));
    EXPECT_FALSE(w1252::EqualsNoCase("abc", "abcd"));
    EXPECT_LT(w1252::CompareNoCase("abc", "ABD"), 0);
    EXPECT_GT(w1252::CompareNoCase("b", "A"), 0);
    EXPECT_LT(w1252::CompareNoCase("ab", "AB c"), 0);
    EXPECT_EQ(w1252::CompareNoCase("", ""), 0);
}

TEST(Win1252, ConversionToUtf8)
{
    EXPECT_EQ(w1252::ToUtf8("D\xE9" "connect\xE9"), "D\xC3\xA9" "connect\xC3\xA9");
    EXPECT_EQ(w1252::ToUtf8("\x80"), "\xE2\x82\xAC");  // €
    EXPECT_EQ(w1252::ToUtf8("\x9C"), "\xC5\x93");      // œ
    EXPECT_EQ(w1252::ToUtf8("\x81"), "\xEF\xBF\xBD");  // undefined position
    EXPECT_EQ(w1252::ToUtf8("N\xB0"), "N\xC2\xB0");    // N°
    EXPECT_EQ(w1252::ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Win1252, QStringRoundTrip)
{
    std::string all;
    for (int c = 1; c < 256; ++c)
        if (c != 0x81 && c != 0x8D && c != 0x8F && c != 0x90 && c != 0x9D)
            all.push_back(static_cast<char>(c));
    EXPECT_EQ(w1252::FromQString(w1252::ToQString(all)), all);
    EXPECT_EQ(w1252::ToQString("\x80").at(0).unicode(), 0x20AC);
    EXPECT_EQ(w1252::FromQString(QString::fromUtf8("\xE2\x98\x83")), "?"); // not in the code page
}

TEST(Win1252, FromUtf8KeepsWhatIsNotUtf8)
{
    struct Case {
        const char* utf8;
        const char* expected;
        bool wellFormed;
    };
    const Case cases[] = {
        {"caf\xC3\xA9", "caf\xE9", true},
        {"\xE2\x82\xAC \xC5\x93 \xC5\xB8", "\x80 \x9C \x9F", true}, // € œ Ÿ: the code page's 0x80-0x9F
        {"\xD0\x9F\xD1\x80", "??", true},                           // Cyrillic: one '?' per character
        {"a\xF0\x9F\x98\x80" "b", "a?b", true},                     // beyond the first plane
        {"\xC2\x85", "?", true},                                    // a C1 control
        {"caf\xE9", "caf\xE9", false},                              // Latin-1 mixed in: kept
        {"\xC3", "\xC3", false},                                    // cut short
        {"\xC0\xAF", "\xC0\xAF", false},                            // overlong
        {"\xED\xA0\x80", "\xED\xA0\x80", false},                    // a surrogate
        {"\xF4\x90\x80\x80", "\xF4\x90\x80\x80", false},            // beyond U+10FFFF
        {"\x80" "abc", "\x80" "abc", false},                        // stray continuation byte
    };
    for (const Case& c : cases) {
        EXPECT_EQ(w1252::FromUtf8(c.utf8), c.expected) << c.utf8;
        EXPECT_EQ(w1252::IsUtf8(c.utf8), c.wellFormed) << c.utf8;
    }
    EXPECT_TRUE(w1252::IsUtf8(""));
    EXPECT_EQ(w1252::FromQString(QString::fromUtf8("\xF0\x9F\x98\x80")), "?"); // a surrogate pair: one '?'
}
