#include "decode/ByteSearch.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstring>

namespace decode {

size_t FindPair(const char* data, size_t from, size_t size, char first, size_t distance,
                char second, char fold)
{
    if (distance >= size)
        return std::string_view::npos;
    const size_t stop = size - distance; // candidates lie in [from, stop)
    size_t i = from;
#if defined(__SSE2__)
    const __m128i wantFirst = _mm_set1_epi8(first);
    const __m128i wantSecond = _mm_set1_epi8(second);
    const __m128i folding = _mm_set1_epi8(fold);
    for (; i + 16 <= stop; i += 16) {
        const __m128i a =
            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)), folding);
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + distance));
        const auto mask = static_cast<uint32_t>(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(a, wantFirst), _mm_cmpeq_epi8(b, wantSecond))));
        if (mask != 0)
            return i + static_cast<size_t>(__builtin_ctz(mask));
    }
#endif
    for (; i < stop; ++i)
        if (static_cast<char>(data[i] | fold) == first && data[i + distance] == second)
            return i;
    return std::string_view::npos;
}

size_t FindText(std::string_view text, std::string_view needle, size_t from)
{
    if (needle.size() < 2 || from > text.size())
        return text.find(needle, from);
    // Candidates agree on the first and the last byte; the bytes between are
    // compared only for them.
    const size_t last = needle.size() - 1;
    for (size_t i = from;; ++i) {
        i = FindPair(text.data(), i, text.size(), needle[0], last, needle[last]);
        if (i == std::string_view::npos ||
            std::memcmp(text.data() + i + 1, needle.data() + 1, last - 1) == 0)
            return i;
    }
}

size_t FindEither(const char* data, size_t from, size_t size, char a, char b, char c)
{
    size_t i = from;
#if defined(__SSE2__)
    const __m128i wantA = _mm_set1_epi8(a);
    const __m128i wantB = _mm_set1_epi8(b);
    const __m128i wantC = _mm_set1_epi8(c);
    for (; i + 16 <= size; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i any =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, wantA), _mm_cmpeq_epi8(bytes, wantB)),
                         _mm_cmpeq_epi8(bytes, wantC));
        const auto mask = static_cast<uint32_t>(_mm_movemask_epi8(any));
        if (mask != 0)
            return i + static_cast<size_t>(__builtin_ctz(mask));
    }
#endif
    while (i < size && data[i] != a && data[i] != b && data[i] != c)
        ++i;
    return i;
}

} // namespace decode
