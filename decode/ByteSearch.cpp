#include "decode/ByteSearch.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstdint>
#include <cstring>

namespace decode {

namespace {

#if defined(__SSE2__)
// The first position the 16-byte steps from i on find, while a whole step
// fits before `stop`: `maskAt(at)` gives one bit per position at to at + 15.
// When none is found, i is left where the steps ended.
template <typename MaskAt> size_t FirstInSteps(size_t& i, size_t stop, MaskAt maskAt)
{
    for (; i + 16 <= stop; i += 16)
        if (const uint32_t mask = maskAt(i); mask != 0)
            return i + static_cast<size_t>(__builtin_ctz(mask));
    return std::string_view::npos;
}

inline __m128i Load(const char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
#endif

} // namespace

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
    const size_t hit = FirstInSteps(i, stop, [&](size_t at) {
        const __m128i a = _mm_or_si128(Load(data + at), folding);
        const __m128i b = Load(data + at + distance);
        return static_cast<uint32_t>(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(a, wantFirst), _mm_cmpeq_epi8(b, wantSecond))));
    });
    if (hit != std::string_view::npos)
        return hit;
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
    const size_t hit = FirstInSteps(i, size, [&](size_t at) {
        const __m128i bytes = Load(data + at);
        return static_cast<uint32_t>(_mm_movemask_epi8(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, wantA), _mm_cmpeq_epi8(bytes, wantB)),
                         _mm_cmpeq_epi8(bytes, wantC))));
    });
    if (hit != std::string_view::npos)
        return hit;
#endif
    while (i < size && data[i] != a && data[i] != b && data[i] != c)
        ++i;
    return i;
}

} // namespace decode
