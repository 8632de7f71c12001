#include "decode/ByteSearch.h"

#include <gtest/gtest.h>

#include <string>

// Every needle at every offset of texts around the 16-byte steps, from every
// start, against the standard search; near misses (first or last byte alone,
// both without the middle) sit before each real occurrence.
TEST(ByteSearch, FindTextAgreesWithTheStandardSearch)
{
    const std::string needles[] = {"ab", "a.b", "Status:", ": quoted-printable", "\n\n", "=="};
    for (const std::string& needle : needles)
        for (size_t length : {0, 1, 15, 16, 17, 31, 33, 64, 70}) {
            for (size_t at = 0; at + needle.size() <= length; at += 5) {
                std::string text(length, 'x');
                if (at >= 2)
                    text[at - 2] = needle.front();
                if (at + 2 * needle.size() <= length) {
                    text[at + needle.size()] = needle.front();
                    text[at + needle.size() + needle.size() - 1] = needle.back();
                }
                text.replace(at, needle.size(), needle);
                for (size_t from = 0; from <= length + 1; ++from)
                    ASSERT_EQ(decode::FindText(text, needle, from), std::string_view(text).find(needle, from))
                        << needle << " at " << at << " in " << length << " from " << from;
            }
            ASSERT_EQ(decode::FindText(std::string(length, 'x'), needle), std::string::npos);
        }
    EXPECT_EQ(decode::FindText("abc", "", 2), 2u);
    EXPECT_EQ(decode::FindText("abc", "c"), 2u);
}

TEST(ByteSearch, FindPairFoldsTheFirstByteAndStaysInside)
{
    const std::string text = std::string(20, '.') + "T=" + std::string(20, '.') + "t=";
    EXPECT_EQ(decode::FindPair(text.data(), 0, text.size(), 't', 1, '=', 0x20), 20u);
    EXPECT_EQ(decode::FindPair(text.data(), 21, text.size(), 't', 1, '=', 0x20), 42u);
    EXPECT_EQ(decode::FindPair(text.data(), 0, text.size(), 't', 1, '='), 42u);
    // The second byte must lie inside the text as well.
    EXPECT_EQ(decode::FindPair(text.data(), 0, text.size() - 1, 't', 1, '=', 0x20), 20u);
    EXPECT_EQ(decode::FindPair(text.data(), 21, text.size() - 1, 't', 1, '=', 0x20), std::string::npos);
    EXPECT_EQ(decode::FindPair(text.data(), 0, 1, 't', 1, '='), std::string::npos);
}
