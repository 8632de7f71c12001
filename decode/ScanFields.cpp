#include "decode/ScanFields.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    if (marker.size() < 12)
        return text.find(marker) != std::string_view::npos;
    return memmem(text.data(), text.size(), marker.data(), marker.size()) != nullptr;
}

size_t FindEither(const char* data, size_t from, size_t size, char a, char b)
{
    size_t i = from;
#if defined(__SSE2__)
    const __m128i wantA = _mm_set1_epi8(a);
    const __m128i wantB = _mm_set1_epi8(b);
    for (; i + 16 <= size; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const auto mask = static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, wantA), _mm_cmpeq_epi8(bytes, wantB))));
        if (mask != 0)
            return i + static_cast<size_t>(__builtin_ctz(mask));
    }
#endif
    while (i < size && data[i] != a && data[i] != b)
        ++i;
    return i;
}

SBitMarkers FindBitMarkers(std::string_view text)
{
    SBitMarkers found;
    const char* const begin = text.data();
    const size_t n = text.size();
    size_t i = 0;
    while (i + 6 <= n && !(found.has8Bit && found.has7Bit)) {
        const void* colon = std::memchr(begin + i, ':', n - i - 5);
        if (!colon)
            break;
        i = static_cast<size_t>(static_cast<const char*>(colon) - begin);
        if (begin[i + 1] == ' ' && begin[i + 3] == 'b' && begin[i + 4] == 'i' && begin[i + 5] == 't') {
            found.has8Bit |= begin[i + 2] == '8';
            found.has7Bit |= begin[i + 2] == '7';
        }
        ++i;
    }
    return found;
}

void EraseAll(std::string& text, std::string_view what)
{
    if (what.empty())
        return;
    size_t pos = text.find(what);
    if (pos == std::string::npos)
        return;
    size_t out = pos;
    size_t in = pos + what.size();
    for (;;) {
        const size_t next = text.find(what, in);
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
