// Windows-1252 text helpers. Every text of the system is a std::string of
// Windows-1252 bytes; casing and case-insensitive comparison follow that code
// page's own tables (never the C locale), and conversion to Unicode happens only
// for display and for standard output.
#pragma once

#include <string>
#include <string_view>

class QString;

namespace w1252 {

// Upper-case / lower-case one byte: a-z, à-þ except ÷, and š œ ž ÿ.
unsigned char ToUpper(unsigned char c);
unsigned char ToLower(unsigned char c);

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
// page become '?'.
std::string FromQString(const QString& text);

} // namespace w1252
