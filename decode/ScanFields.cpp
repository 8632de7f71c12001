#include "decode/ScanFields.h"

#include "base/Numbers.h"

#include <climits>
#include <cstring>

namespace decode {

bool ScanHex2(const char* p, const char* end, uint32_t* value)
{
    while (p < end && IsCSpace(static_cast<unsigned char>(*p)))
        ++p;
    int width = 2;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
        --width;
    }
    uint32_t result = 0;
    int digits = 0;
    if (width == 2 && p + 1 < end && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        // The prefix alone fills the field.
        p += 2;
        width = 0;
        digits = 1;
    }
    while (width > 0 && p < end) {
        const int v = HexValue(static_cast<unsigned char>(*p));
        if (v < 0)
            break;
        result = result * 16 + static_cast<uint32_t>(v);
        ++p;
        --width;
        ++digits;
    }
    if (digits == 0)
        return false;
    *value = negative ? 0u - result : result;
    return true;
}

bool ScanDecimal(const char* p, const char* end, int32_t* value)
{
    size_t pos = 0;
    return ReadSaturated(std::string_view(p, static_cast<size_t>(end - p)), pos, *value);
}

bool ContainsMarker(std::string_view text, std::string_view marker)
{
    return FindText(text, marker) != std::string_view::npos;
}

SBitMarkers FindBitMarkers(std::string_view text)
{
    // Candidates are a ':' with a 't' five bytes on.
    SBitMarkers found;
    const char* const begin = text.data();
    for (size_t i = FindPair(begin, 0, text.size(), ':', 5, 't');
         i != std::string_view::npos && !(found.has8Bit && found.has7Bit);
         i = FindPair(begin, i + 1, text.size(), ':', 5, 't')) {
        if (begin[i + 1] == ' ' && begin[i + 3] == 'b' && begin[i + 4] == 'i') {
            found.has8Bit |= begin[i + 2] == '8';
            found.has7Bit |= begin[i + 2] == '7';
        }
    }
    return found;
}

void EraseAll(std::string& text, std::string_view what)
{
    if (what.empty())
        return;
    size_t pos = FindText(text, what);
    if (pos == std::string::npos)
        return;
    size_t out = pos;
    size_t in = pos + what.size();
    for (;;) {
        const size_t next = FindText(text, what, in);
        const size_t stop = next == std::string::npos ? text.size() : next;
        if (stop > in)
            std::memmove(&text[out], &text[in], stop - in);
        out += stop - in;
        if (next == std::string::npos)
            break;
        in = next + what.size();
    }
    text.resize(out);
}

} // namespace decode
