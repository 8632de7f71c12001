// Look-alike and accented characters back to the plain capital they imitate.
#include "decode/MailDecoder.h"

#include "decode/ScanFields.h"

#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::array<unsigned char, 256> MakeLookAlikes()
{
    std::array<unsigned char, 256> map{};
    for (int i = 0; i < 256; ++i)
        map[i] = static_cast<unsigned char>(i);
    auto range = [&map](int from, int to, char result) {
        for (int c = from; c <= to; ++c)
            map[c] = static_cast<unsigned char>(result);
    };
    range('0', '0', 'O');
    range(0xD2, 0xD6, 'O');
    range(0xD8, 0xD8, 'O');
    range(0xF0, 0xF0, 'O');
    range(0xF2, 0xF6, 'O');
    range(0xF8, 0xF8, 'O');
    range('@', '@', 'A');
    range(0xAA, 0xAA, 'A');
    range(0xC0, 0xC6, 'A');
    range(0xE0, 0xE6, 'A');
    range(0xC8, 0xCB, 'E');
    range(0xE8, 0xEB, 'E');
    range(0xCC, 0xCF, 'I');
    range(0xEC, 0xEF, 'I');
    range(0xB5, 0xB5, 'U');
    range(0xD9, 0xDC, 'U');
    range(0xF9, 0xFC, 'U');
    range(0x80, 0xA9, 'C'); // the whole range, not only the copyright sign
    range(0xE7, 0xE7, 'C');
    range(0xC7, 0xC7, 'Y'); // the capital c cedilla gives Y, not C
    range(0xDD, 0xDD, 'Y');
    range(0xFD, 0xFD, 'Y');
    range(0xFF, 0xFF, 'Y');
    range(0xAE, 0xAE, 'R');
    range(0xD0, 0xD0, 'D');
    range(0xDF, 0xDF, 'B');
    range(0xFE, 0xFE, 'B');
    range(0xD1, 0xD1, 'N');
    range(0xF1, 0xF1, 'N');
    range(0xB9, 0xB9, '1');
    range(0xB2, 0xB2, '2');
    range(0xB3, 0xB3, '3');
    return map;
}
constexpr std::array<unsigned char, 256> kLookAlikes = MakeLookAlikes();

} // namespace

unsigned char CMailDecoder::LookAlikeChar(unsigned char c) { return kLookAlikes[c]; }

std::string& CMailDecoder::ConvertLookAlikes(std::string& text)
{
    const size_t status = decode::FindStatus(text);
    const size_t from = status == std::string::npos ? 0 : status + 7;
    char* const data = text.data();
    const size_t n = text.size();
    size_t i = from;
#if defined(__SSE2__)
    // In plain ASCII only '0' and '@' change; a block with a byte from 0x80
    // up goes through the table.
    const __m128i zero = _mm_set1_epi8('0');
    const __m128i at = _mm_set1_epi8('@');
    const __m128i toO = _mm_set1_epi8('O' - '0');
    const __m128i toA = _mm_set1_epi8('A' - '@');
    for (; i + 16 <= n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        if (_mm_movemask_epi8(bytes) != 0) {
            for (size_t k = i; k < i + 16; ++k)
                data[k] = static_cast<char>(kLookAlikes[static_cast<unsigned char>(data[k])]);
            continue;
        }
        const __m128i shift = _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(bytes, zero), toO),
                                           _mm_and_si128(_mm_cmpeq_epi8(bytes, at), toA));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(data + i), _mm_add_epi8(bytes, shift));
    }
#endif
    for (; i < n; ++i)
        data[i] = static_cast<char>(kLookAlikes[static_cast<unsigned char>(data[i])]);
    return text;
}
