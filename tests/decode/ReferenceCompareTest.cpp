// The fast operations against the plain versions of Reference.cpp, on
// generated texts made of the characters and markers each operation reacts to.
#include "Reference.h"
#include "support/ByteLoops.h"

#include "decode/Base64.h"
#include "decode/MailDecoder.h"
#include "decode/TextTools.h"

#include <gtest/gtest.h>

#include <random>

namespace {

constexpr int kRounds = 4000;

class CGenerator
{
public:
    explicit CGenerator(uint32_t seed) : m_random(seed) {}

    // A text of up to `pieces` pieces drawn from `alphabet`.
    std::string Text(const std::vector<std::string>& alphabet, int pieces)
    {
        std::string out;
        const int count = Below(pieces + 1);
        for (int i = 0; i < count; ++i)
            out += alphabet[Below(static_cast<int>(alphabet.size()))];
        return out;
    }
    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }

private:
    std::mt19937 m_random;
};

std::string Show(const std::string& text)
{
    std::string out;
    for (const unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

} // namespace

TEST(ReferenceCompare, Base64RunAndBody)
{
    CGenerator gen(11);
    const std::vector<std::string> alphabet = {": base64", "\r\n", "\n", "\n\n", "\n.\n", "==", "=", "QUJD",
                                               "YQ", "AA", "+/", "x", ".", std::string(1, '\0'), " ", "Status:",
                                               "Zm9v", "\r"};
    CMailDecoder decoder;
    const CBase64 base64;
    for (int round = 0; round < kRounds; ++round) {
        const std::string text = gen.Text(alphabet, 24);
        bool logged = false;
        ASSERT_EQ(decoder.DecodeBase64(text, true), ref::DecodeBase64(text, &logged)) << Show(text);

        std::string expected;
        const bool ok = ref::Base64Run(text, &expected);
        int32_t length = -1;
        const auto bytes = base64.DecodeBase64Run(text.data(), static_cast<int32_t>(text.size()), &length);
        ASSERT_EQ(bytes != nullptr, ok) << Show(text);
        if (ok)
            ASSERT_EQ(std::string(reinterpret_cast<const char*>(bytes.get()), length), expected) << Show(text);
        else
            ASSERT_EQ(length, 0);
    }
}

TEST(ReferenceCompare, Decode8Bit)
{
    CGenerator gen(12);
    // The marker pieces also come apart (":", " 8", "bit") so that markers
    // form across pieces, overlap other colons and stand at the very end.
    const std::vector<std::string> alphabet = {": 8bit", ": 7bit", "&#", "&#", ";", "1", "6", "5", "0", "256",
                                               " ", "-", "+", "x", "&", "#", "\n", std::string(1, '\0'), "a",
                                               ":", " 8", " 7", "bit", "bi"};
    CCapturedLog lines;
    CMailDecoder decoder;
    decoder.SetLog(&lines);
    for (int round = 0; round < kRounds; ++round) {
        const std::string text = gen.Text(alphabet, 30);
        int logs = 0;
        lines.Clear();
        ASSERT_EQ(decoder.Decode8Bit(text, true), ref::Decode8Bit(text, &logs)) << Show(text);
        ASSERT_EQ(lines.Entries().size(), static_cast<size_t>((logs & 1) + (logs >> 1))) << Show(text);
    }
}

TEST(ReferenceCompare, DecodeQuotedPrintable)
{
    CGenerator gen(13);
    const std::vector<std::string> alphabet = {
        "charset=iso-8859-1", ": quoted-printable", "Status:", "=", "=", "%", "%", "E", "9", "0", "x", "X", "f",
        " ", "\t", "\r", "\n", "\r\n", "-", "+", "g", std::string(1, '\0'), "a", "=\r\n", "%2",
        "plain stretch longer than sixteen bytes "};
    CMailDecoder decoder;
    for (int round = 0; round < kRounds; ++round) {
        const std::string text = gen.Text(alphabet, 30);
        bool logged = false;
        ASSERT_EQ(decoder.DecodeQuotedPrintable(text, false), ref::DecodeQuotedPrintable(text, &logged))
            << Show(text);
    }
}

TEST(ReferenceCompare, DecodeHeaderWords)
{
    CGenerator gen(14);
    const std::vector<std::string> alphabet = {
        "=?", "=?", "?=", "?", "?", "iso-8859-1", "q", "Q", "b", "B", "X", " ", "\t", "\n", "_", "=", "E9", "0",
        "x", "QUJD", "YQ==", "AA", "-", std::string(1, '\0'), "\xE9", std::string(40, 'c'), std::string(127, 'd')};
    CMailDecoder decoder;
    for (int round = 0; round < kRounds; ++round) {
        const std::string value = gen.Text(alphabet, 24);
        bool logged = false;
        ASSERT_EQ(decoder.DecodeHeaderWords(value), ref::DecodeHeaderWords(value, &logged)) << Show(value);
    }
}

TEST(ReferenceCompare, DecodeEntities)
{
    CGenerator gen(15);
    std::vector<std::string> alphabet = {"&", "&", ";", " ", "  ", "amp", "lt", "semi", "nbsp", "sup3", "a", "e",
                                         "x", "cl", "l", "t", "&amp;", "&lt;", "&semi;", "&nbsp;", "& amp;",
                                         "&l t;", "&ex", "&e&times;cl;", "&l&nbsp;t;", "&lt&semi;", "&amp;lt;"};
    for (int i = 0; i < 10; ++i)
        alphabet.emplace_back(CMailDecoder::EntityTable[gen.Below(CMailDecoder::kEntityRows)].name);
    CMailDecoder decoder;
    for (int round = 0; round < kRounds * 2; ++round) {
        const std::string text = gen.Text(alphabet, 30);
        bool logged = false;
        ASSERT_EQ(decoder.DecodeEntities(text, false), ref::DecodeEntities(text, &logged)) << Show(text);
    }
}

TEST(ReferenceCompare, FontSpansAndStripHtml)
{
    CGenerator gen(16);
    const std::vector<std::string> alphabet = {
        "<", ">", "<", ">", "<font style=\"font-size:1px\">", "<FONT STYLE='FONT-SIZE:12PX'>",
        "<font style=\"font-size:8px\">", "</font>", "</FONT>", "font-size", "<font", "/font>", "Status:", "1",
        "9", "x", " ", "\r\n", "<p>", "<b>"};
    const CTextTools tools;
    for (int round = 0; round < kRounds; ++round) {
        const std::string text = gen.Text(alphabet, 30);
        ASSERT_EQ(tools.StripHtml(text), ref::StripHtml(text)) << Show(text);
        for (const int limit : {0, 7, 3, -1}) {
            ASSERT_EQ(tools.RemoveFontSpans(text, {"<font", "font-size"}, {"/font>"}, limit),
                      ref::RemoveFontSpans(text, {"<font", "font-size"}, {"/font>"}, limit))
                << Show(text) << " limit " << limit;
        }
        ASSERT_EQ(tools.RemoveFontSpans(text, {"<"}, {}, 0), ref::RemoveFontSpans(text, {"<"}, {}, 0))
            << Show(text);
    }
}

TEST(ReferenceCompare, SqueezeLookAlikesAndFind)
{
    WithEachByteLoop([&] {
        CGenerator gen(17);
        const std::vector<std::string> alphabet = {"a", "a", "A", " ", " ", "\n", "0", "@", "\xE9", "\xC7",
                                                   "Status:", "\x80", "\xFF", "b"};
        const CTextTools tools;
        for (int round = 0; round < kRounds; ++round) {
            std::string text = gen.Text(alphabet, 20);
            ASSERT_EQ(tools.SqueezeChar(text, ' '), ref::SqueezeChar(text, ' ')) << Show(text);
            ASSERT_EQ(tools.SqueezeChar(text, 'a'), ref::SqueezeChar(text, 'a')) << Show(text);
            ASSERT_EQ(tools.SqueezeRepeats(text), ref::SqueezeRepeats(text)) << Show(text);
            const std::string pattern = gen.Text(alphabet, 3);
            ASSERT_EQ(tools.FindNoCase(text, pattern), ref::FindNoCase(text, pattern)) << Show(text);
            const std::string expected = ref::ConvertLookAlikes(text);
            CMailDecoder decoder;
            ASSERT_EQ(decoder.ConvertLookAlikes(text), expected);
            ASSERT_EQ(text, expected); // converted in place too
        }
        for (int c = 0; c < 256; ++c)
            ASSERT_EQ(CMailDecoder::LookAlikeChar(static_cast<unsigned char>(c)),
                      ref::LookAlikeChar(static_cast<unsigned char>(c)))
                << c;
    });
}

// The block-wise flattening against its definition: breaks to blanks, then
// blank runs squeezed. Texts are long enough to cross many 16-byte blocks,
// with runs that start, end or sit exactly on a block edge.
TEST(ReferenceCompare, FlattenBlanks)
{
    WithEachByteLoop([&] {
        CGenerator gen(19);
        const std::vector<std::string> alphabet = {"word", "a", " ", " ", "\r\n", "\t", "\n", "  ", "\r",
                                                   "0123456789abcde", "0123456789abcdef", "\xA0", std::string(1, '\0')};
        const CTextTools tools;
        auto expected = [&](std::string text) {
            for (char& c : text)
                if (c == '\r' || c == '\n' || c == '\t')
                    c = ' ';
            return ref::SqueezeChar(std::move(text), ' ');
        };
        for (int round = 0; round < kRounds; ++round) {
            const std::string text = gen.Text(alphabet, 60);
            ASSERT_EQ(tools.FlattenBlanks(text), expected(text)) << Show(text);
        }
        for (size_t length = 0; length <= 48; ++length) {
            for (size_t at = 0; at < length; ++at) {
                std::string text(length, 'x');
                text[at] = ' ';
                if (at + 1 < length)
                    text[at + 1] = '\n';
                ASSERT_EQ(tools.FlattenBlanks(text), expected(text)) << Show(text);
                const std::string blanks(length, '\r');
                ASSERT_EQ(tools.FlattenBlanks(blanks), expected(blanks)) << length;
            }
        }
    });
}
