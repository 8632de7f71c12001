// Charset names and the conversion of the parts a message declares in a
// charset into the code page.
#include "decode/Charsets.h"

#include <gtest/gtest.h>

TEST(Charsets, Kinds)
{
    for (const char* name : {"ISO-8859-1", "latin1", "us-ascii", "\"Windows-1252\"", "cp1252", "x-unknown", ""})
        EXPECT_EQ(CharsetKind(name), ECharsetKind::kAsIs) << name;
    for (const char* name : {"UTF-8", "utf8", "\"utf-8\"", "utf-8*en"})
        EXPECT_EQ(CharsetKind(name), ECharsetKind::kUtf8) << name;
    for (const char* name : {"ISO-8859-15", "KOI8-R", "windows-1251", "Shift_JIS", "UTF-16BE"})
        EXPECT_EQ(CharsetKind(name), ECharsetKind::kOther) << name;
}

TEST(Charsets, DeclaredPartsAreConvertedUpToTheirBoundary)
{
    const std::string multipart = "Content-Type: multipart/alternative; boundary=\"b\"\r\nStatus: \r\n\r\n"
                                  "--b\r\nContent-Type: text/plain; charset=\"UTF-8\"\r\n\r\n"
                                  "Sp\xC3\xA9" "cial \xE2\x82\xAC \xD0\x9F\r\n"
                                  "--b\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\n"
                                  "Sp\xE9" "cial\r\n"
                                  "--b\r\nContent-Type: text/plain\r\n\r\n"
                                  "\xC3\xA9\r\n--b--\r\n";
    const std::string expected = "Content-Type: multipart/alternative; boundary=\"b\"\r\nStatus: \r\n\r\n"
                                 "--b\r\nContent-Type: text/plain; charset=\"UTF-8\"\r\n\r\n"
                                 "Sp\xE9" "cial \x80 ?\r\n"
                                 "--b\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\n"
                                 "Sp\xE9" "cial\r\n"
                                 "--b\r\nContent-Type: text/plain\r\n\r\n"
                                 "\xC3\xA9\r\n--b--\r\n";
    EXPECT_EQ(ConvertDeclaredCharsets(multipart), expected);

    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        // One part, declared in the header, folded.
        {"Content-Type: text/plain;\r\n\tCHARSET=utf-8\r\nStatus: \r\n\r\nd\xC3\xA9j\xC3\xA0\r\n",
         "Content-Type: text/plain;\r\n\tCHARSET=utf-8\r\nStatus: \r\n\r\nd\xE9j\xE0\r\n"},
        // Other charsets as far as the converters know them.
        {"charset=koi8-r\n\xF0\xD2\xC9\n", "charset=koi8-r\n???\n"},
        {"charset=iso-8859-15\n\xA4\n", "charset=iso-8859-15\n\x80\n"},
        // Undeclared, unknown, Windows-1252: bytes as they are.
        {"Status: \r\n\r\n\xC3\xA9\r\n", "Status: \r\n\r\n\xC3\xA9\r\n"},
        {"charset=x-martian\n\xC3\xA9\n", "charset=x-martian\n\xC3\xA9\n"},
        {"charset=windows-1252\n\x80\xC3\xA9\n", "charset=windows-1252\n\x80\xC3\xA9\n"},
        // An entity already decoded into the code page stays.
        {"charset=utf-8\n\xE9t\xC3\xA9\n", "charset=utf-8\n\xE9t\xE9\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ConvertDeclaredCharsets(c.text), c.expected) << c.text;
}
