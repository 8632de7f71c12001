#include "base/Win1252.h"

#include <QString>
#include <array>

namespace w1252 {
namespace {

// Unicode code points of 0x80-0x9F; 0 marks a position the code page leaves undefined.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};


} // namespace


void UpperInPlace(std::string& text)
{
    for (char& c : text)
        c = static_cast<char>(detail::kCase.upper[static_cast<unsigned char>(c)]);
}

std::string Upper(std::string_view text)
{
    std::string out(text);
    UpperInPlace(out);
    return out;
}

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(detail::kCase.lower[static_cast<unsigned char>(c)]);
    return out;
}

int CompareNoCase(std::string_view a, std::string_view b)
{
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const int ca = detail::kCase.lower[static_cast<unsigned char>(a[i])];
        const int cb = detail::kCase.lower[static_cast<unsigned char>(b[i])];
        if (ca != cb)
            return ca - cb;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

char32_t ToUnicode(unsigned char c)
{
    if (c >= 0x80 && c <= 0x9F) {
        const char16_t u = kHighControls[c - 0x80];
        return u ? u : 0xFFFD;
    }
    return c;
}

std::string ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char ch : text) {
        const char32_t u = ToUnicode(static_cast<unsigned char>(ch));
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (u < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (u >> 6)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (u >> 12)));
            out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }
    return out;
}

QString ToQString(std::string_view text)
{
    QString out;
    out.reserve(static_cast<qsizetype>(text.size()));
    for (char ch : text)
        out.append(QChar(static_cast<char16_t>(ToUnicode(static_cast<unsigned char>(ch)))));
    return out;
}

std::string FromQString(const QString& text)
{
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (QChar qc : text) {
        const char16_t u = qc.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            out.push_back(static_cast<char>(u));
            continue;
        }
        char mapped = '?';
        for (size_t i = 0; i < kHighControls.size(); ++i)
            if (kHighControls[i] == u && u != 0)
                mapped = static_cast<char>(0x80 + i);
        out.push_back(mapped);
    }
    return out;
}

} // namespace w1252
