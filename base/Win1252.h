// Windows-1252 text helpers. Every text of the system is a std::string of
// Windows-1252 bytes; casing and case-insensitive comparison follow that code
// page's own tables (never the C locale), and conversion to Unicode happens only
// for display and for standard output.
#pragma once

#include <array>
#include <string>
#include <string_view>

class QString;

namespace w1252 {

namespace detail {

// The code page's case tables, built at compile time.
struct CaseTables {
    std::array<unsigned char, 256> upper{};
    std::array<unsigned char, 256> lower{};
    constexpr CaseTables()
    {
        for (int i = 0; i < 256; ++i) {
            upper[i] = static_cast<unsigned char>(i);
            lower[i] = static_cast<unsigned char>(i);
        }
        auto pair = [this](int lowerCase, int upperCase) {
            upper[lowerCase] = static_cast<unsigned char>(upperCase);
            lower[upperCase] = static_cast<unsigned char>(lowerCase);
        };
        for (int c = 'a'; c <= 'z'; ++c)
            pair(c, c - 32);
        for (int c = 0xE0; c <= 0xFE; ++c)
            if (c != 0xF7) // ÷ has no capital
                pair(c, c - 32);
        pair(0x9A, 0x8A); // š Š
        pair(0x9C, 0x8C); // œ Œ
        pair(0x9E, 0x8E); // ž Ž
        pair(0xFF, 0x9F); // ÿ Ÿ
    }
};
inline constexpr CaseTables kCase;

} // namespace detail

// Upper-case / lower-case one byte: a-z, à-þ except ÷, and š œ ž ÿ. Inline:
// the text operations call them once per byte.
inline unsigned char ToUpper(unsigned char c) { return detail::kCase.upper[c]; }
inline unsigned char ToLower(unsigned char c) { return detail::kCase.lower[c]; }

std::string Upper(std::string_view text);
std::string Lower(std::string_view text);
void UpperInPlace(std::string& text);

// <0, 0, >0 like strcmp, comparing the lower-case forms byte by byte.
int CompareNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(std::string_view a, std::string_view b);

// Conversion for display: 0x80-0x9F through the code page's table (undefined
// positions become U+FFFD), the rest as Latin-1.
char32_t ToUnicode(unsigned char c);
std::string ToUtf8(std::string_view text);
QString ToQString(std::string_view text);
// Reverse mapping for text typed in the windows; characters outside the code
// page become '?' (one per character, a surrogate pair included).
std::string FromQString(const QString& text);

// The code page's byte for one Unicode character; '?' for a character the
// code page cannot hold (the C1 controls U+0080-U+009F included).
unsigned char FromCodePoint(char32_t u);

// UTF-8 text into the code page: every well-formed UTF-8 sequence becomes its
// character's byte, or '?'; every byte that begins no well-formed sequence
// (a stray continuation byte, a cut or overlong sequence, a surrogate) is kept
// as it stands, so text already in the code page mixed in passes unchanged.
std::string FromUtf8(std::string_view text);
// True when every byte of `text` belongs to a well-formed UTF-8 sequence.
bool IsUtf8(std::string_view text);

} // namespace w1252
