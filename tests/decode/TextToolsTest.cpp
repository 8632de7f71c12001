#include "decode/TextTools.h"

#include <gtest/gtest.h>

namespace {

const std::vector<std::string> kOpen = {"<font", "font-size"};
const std::vector<std::string> kClose = {"/font>"};

std::string Span(const std::string& size, const std::string& content)
{
    return "<font style=\"font-size:" + size + "px\">" + content + "</font>";
}

} // namespace

TEST(FindNoCase, ComparesInUpperCase)
{
    const CTextTools tools;
    EXPECT_EQ(tools.FindNoCase("SUBJECT: hello", "Subject:"), 0);
    EXPECT_EQ(tools.FindNoCase("x: subject", "SUBJECT"), 3);
    EXPECT_EQ(tools.FindNoCase("caf\xC9", "\xE9"), 3);
    EXPECT_EQ(tools.FindNoCase("", "a"), -1);
    EXPECT_EQ(tools.FindNoCase("abc", "abcd"), -1);
}

TEST(StripHtml, RemovesTagsAfterTheStatusLine)
{
    const CTextTools tools;
    EXPECT_EQ(tools.StripHtml("Subject: <x>\r\nStatus: RO\r\n\r\n<p><b>deux</b> mots</p>"),
              "Subject: <x>\r\nStatus: RO\r\n\r\ndeux mots");
    EXPECT_EQ(tools.StripHtml("<a>Status:<b>x"), "<a>Status:x");
    EXPECT_EQ(tools.StripHtml("<a>b"), "b"); // no Status line: everything
    EXPECT_EQ(tools.StripHtml("<a>STATUS:<b>x"), "STATUS:x"); // the boundary is spelt exactly
}

TEST(StripHtml, StrayClosingBracketIsSteppedOver)
{
    const CTextTools tools;
    EXPECT_EQ(tools.StripHtml("Status:\r\na > b <i>c</i> <d"), "Status:\r\na > b c <d");
    EXPECT_EQ(tools.StripHtml("Status: <a<b>c"), "Status: c");
}

TEST(StripHtml, TinyFontSpansDisappearWithTheirContent)
{
    const CTextTools tools;
    EXPECT_EQ(tools.StripHtml("Status:\r\nA" + Span("1", "cache") + "B"), "Status:\r\nAB");
    EXPECT_EQ(tools.StripHtml("Status:\r\nA" + Span("12", "cache") + "B"), "Status:\r\nAB"); // last digit 2
    // A size of 8 stops the span removal for the rest of the message.
    EXPECT_EQ(tools.StripHtml("Status:\r\n" + Span("8", "x") + " " + Span("1", "y")), "Status:\r\nx y");
    // Case of the tags does not matter.
    EXPECT_EQ(tools.StripHtml("Status:\r\n<FONT STYLE='FONT-SIZE:1PX'>z</FoNt>!"), "Status:\r\n!");
}

TEST(StripHtml, AdjacentTinySpansKeepTheSecond)
{
    const CTextTools tools;
    EXPECT_EQ(tools.StripHtml("Status:\r\nA" + Span("1", "x") + Span("1", "y") + "B"), "Status:\r\nAyB");
    EXPECT_EQ(tools.StripHtml("Status:\r\nA" + Span("1", "x") + "-" + Span("1", "y") + "B"), "Status:\r\nA-B");
}

TEST(RemoveFontSpans, WorksFromTheStatusLineAndNeedsAClosingTag)
{
    const CTextTools tools;
    const std::string before = Span("1", "h");
    EXPECT_EQ(tools.RemoveFontSpans(before + "Status:" + Span("1", "b"), kOpen, kClose, 7), before + "Status:");
    EXPECT_EQ(tools.RemoveFontSpans("Status:<font style='font-size:1'>open", kOpen, kClose, 7),
              "Status:<font style='font-size:1'>open");
    // No size test with a limit of 0.
    EXPECT_EQ(tools.RemoveFontSpans(Span("9", "a"), kOpen, kClose, 0), "");
    EXPECT_EQ(tools.RemoveFontSpans(Span("9", "a"), kOpen, kClose, 7), Span("9", "a"));
    // The closing tag is the next tag holding every closing word.
    EXPECT_EQ(tools.RemoveFontSpans("<font font-size=1><b>x</b></font>y", kOpen, kClose, 7), "y");
}

TEST(Squeeze, CharRunsAndRepeats)
{
    const CTextTools tools;
    EXPECT_EQ(tools.SqueezeChar("a   b  cc ", ' '), "a b cc ");
    EXPECT_EQ(tools.SqueezeChar("\n\n\nx\n", '\n'), "\nx\n");
    EXPECT_EQ(tools.SqueezeRepeats("viiiagra boot  !!"), "viagra bot !");
    EXPECT_EQ(tools.SqueezeRepeats("aA"), "aA");
    EXPECT_EQ(tools.SqueezeRepeats(""), "");
    EXPECT_EQ(tools.SqueezeChar("", ' '), "");
}
