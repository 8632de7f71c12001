// The shapes hostile messages use against the decoders (long runs of markers,
// fragments and tags), at a size the plain versions can still walk, compared
// with them byte for byte.
#include "Reference.h"

#include "decode/MailDecoder.h"
#include "decode/TextTools.h"

#include <gtest/gtest.h>

namespace {

constexpr size_t kSize = 6000;

std::string Repeat(const std::string& head, const std::string& unit, const std::string& tail = "")
{
    std::string out = head;
    while (out.size() + unit.size() + tail.size() <= kSize)
        out += unit;
    return out + tail;
}

std::string SpacedForms()
{
    std::string out;
    for (int i = 0; out.size() < kSize; ++i)
        for (int j = 0; j <= i && out.size() < kSize; ++j)
            out.append("&").append(j, ' ').append("a").append(i - j, ' ').append("mp; ");
    return out;
}

} // namespace

TEST(HostileShapes, BodyDecodersMatchThePlainVersions)
{
    CMailDecoder decoder;
    bool logged = false;
    int logs = 0;
    for (const std::string& text :
         {Repeat("X: base64\r\n\r\n", "QUJD\r\n", "=="), Repeat(": base64\r\n\r\n", "\r\r\nQ"),
          Repeat("", ": base64\n\n")}) {
        EXPECT_EQ(decoder.DecodeBase64(text, false), ref::DecodeBase64(text, &logged));
    }
    for (const std::string& text : {Repeat(": 8bit", "&#"), Repeat(": 7bit", "&#65;&#0;"), Repeat(": 8bit", "&#1", ";"),
                                     Repeat(": 8bit", "&#&#1;")}) {
        EXPECT_EQ(decoder.Decode8Bit(text, false), ref::Decode8Bit(text, &logs));
    }
    for (const std::string& text :
         {Repeat("charset=iso-8859-1", "=41%42=\r\n"), Repeat("charset=iso-8859-1=", " ", "41"),
          Repeat("charset=iso-8859-1", "= %"), Repeat("Status:: quoted-printable", "=\r\n\r\n=")}) {
        EXPECT_EQ(decoder.DecodeQuotedPrintable(text, false), ref::DecodeQuotedPrintable(text, &logged));
    }
}

TEST(HostileShapes, HeaderWordsMatchThePlainVersion)
{
    CMailDecoder decoder;
    bool logged = false;
    for (const std::string& value :
         {Repeat("", "=?"), Repeat("", "=?x=?x"), Repeat(" ", "=?a?q?b?= "), Repeat("", "=?a?b?c"),
          Repeat("", "=?" + std::string(127, 'c') + "?" + std::string(31, 'q') + "?" + std::string(120, 't')),
          Repeat("", "=?utf-8?B?" + std::string(100, 'Q') + "?=\t"), Repeat("", "=?a?q?" + std::string(130, 'x'), "?=")}) {
        EXPECT_EQ(decoder.DecodeHeaderWords(value), ref::DecodeHeaderWords(value, &logged));
    }
}

TEST(HostileShapes, EntitiesMatchThePlainVersion)
{
    CMailDecoder decoder;
    bool logged = false;
    for (const std::string& text :
         {SpacedForms(), Repeat("", "&", ";"), Repeat("", "& ", ";"), Repeat("", "&amp;lt;"),
          Repeat("", "&l&nbsp;t;&lt&semi;"), Repeat("&amp;", "&amp;amp;"), Repeat("", "&semi;"), Repeat("", "&&;;")}) {
        EXPECT_EQ(decoder.DecodeEntities(text, false), ref::DecodeEntities(text, &logged));
    }
}

TEST(HostileShapes, TagOperationsMatchThePlainVersions)
{
    const CTextTools tools;
    for (const std::string& text :
         {Repeat("Status:", "<font style=\"font-size:1px\">x"), Repeat("Status:", "<font style=\"font-size:1px\">x</font>y"),
          Repeat("Status:", "<font font-size=1></font>"), Repeat("Status:", "<b>x</b>"), Repeat("Status:", "<", ">"),
          Repeat("Status:", ">", "<"), Repeat("", "<font font-size=1>", "</font>")}) {
        EXPECT_EQ(tools.StripHtml(text), ref::StripHtml(text));
        EXPECT_EQ(tools.RemoveFontSpans(text, {"<font", "font-size"}, {"/font>"}, 7),
                  ref::RemoveFontSpans(text, {"<font", "font-size"}, {"/font>"}, 7));
    }
}
