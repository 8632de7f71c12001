#include "base/Win1252.h"

#include <QString>
#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    char* const data = text.data();
    const size_t n = text.size();
    size_t i = 0;
#if defined(__SSE2__)
    // Blocks of plain ASCII need only a to z moved down; a block with a byte
    // from 0x80 up goes through the table.
    const __m128i beforeA = _mm_set1_epi8('a' - 1);
    const __m128i afterZ = _mm_set1_epi8('z' + 1);
    const __m128i caseBit = _mm_set1_epi8(0x20);
    for (; i + 16 <= n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        if (_mm_movemask_epi8(bytes) != 0) {
            for (size_t k = i; k < i + 16; ++k)
                data[k] = static_cast<char>(detail::kCase.upper[static_cast<unsigned char>(data[k])]);
            continue;
        }
        const __m128i lower = _mm_and_si128(_mm_cmpgt_epi8(bytes, beforeA), _mm_cmplt_epi8(bytes, afterZ));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(data + i),
                         _mm_sub_epi8(bytes, _mm_and_si128(lower, caseBit)));
    }
#endif
    for (; i < n; ++i)
        data[i] = static_cast<char>(detail::kCase.upper[static_cast<unsigned char>(data[i])]);
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

unsigned char FromCodePoint(char32_t u)
{
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return static_cast<unsigned char>(u);
    if (u > 0x2122) // beyond the highest character of 0x80-0x9F (™)
        return '?';
    for (size_t i = 0; i < kHighControls.size(); ++i)
        if (kHighControls[i] == u && u != 0)
            return static_cast<unsigned char>(0x80 + i);
    return '?';
}

std::string FromQString(const QString& text)
{
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = text[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(text[i + 1].unicode())) {
            out.push_back('?'); // a character beyond the first plane
            ++i;
            continue;
        }
        out.push_back(static_cast<char>(FromCodePoint(u)));
    }
    return out;
}

namespace {

// Length of the well-formed UTF-8 sequence at `p` (at most `left` bytes
// available) and its code point; 0 when no well-formed sequence starts there.
size_t Utf8Sequence(const unsigned char* p, size_t left, char32_t* code)
{
    const unsigned char c = p[0];
    size_t length = 0;
    char32_t u = 0, min = 0;
    if (c < 0x80) {
        *code = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        length = 2, u = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3, u = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4, u = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (length > left)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        u = (u << 6) | (p[i] & 0x3F);
    }
    if (u < min || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF))
        return 0;
    *code = u;
    return length;
}

} // namespace

std::string FromUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        if (p[i] < 0x80) {
            out.push_back(static_cast<char>(p[i++]));
            continue;
        }
        char32_t code = 0;
        const size_t length = Utf8Sequence(p + i, n - i, &code);
        if (length == 0) {
            out.push_back(static_cast<char>(p[i++]));
            continue;
        }
        out.push_back(static_cast<char>(FromCodePoint(code)));
        i += length;
    }
    return out;
}

bool IsUtf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        char32_t code = 0;
        const size_t length = p[i] < 0x80 ? 1 : Utf8Sequence(p + i, n - i, &code);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

} // namespace w1252
