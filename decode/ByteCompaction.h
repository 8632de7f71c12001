// Closing up the kept bytes of a 16-byte block without a branch on the text,
// for the loops that drop bytes (blank runs, separators, repeats). It needs
// SSSE3's byte shuffle; HasByteCompaction says whether the processor has it,
// and only functions compiled for that target (ORVELANE_COMPACTION_TARGET)
// may call CompactBlock.
#pragma once

#include <cstddef>
#include <cstdint>

namespace decode {

bool HasByteCompaction();
// Lets the tests run the plain loops on a processor that has it.
void UseByteCompaction(bool use);

} // namespace decode

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ORVELANE_HAVE_COMPACTION 1
#define ORVELANE_COMPACTION_TARGET __attribute__((target("ssse3,popcnt")))
#include <immintrin.h>

namespace decode {

// For each 8-bit keep mask, the positions of its set bits in order, then
// 0x80 (which makes the shuffle write a zero).
struct SCompactionTable
{
    alignas(16) uint8_t control[256][8];
    constexpr SCompactionTable() : control()
    {
        for (int mask = 0; mask < 256; ++mask) {
            int n = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (mask & (1 << bit))
                    control[mask][n++] = static_cast<uint8_t>(bit);
            for (; n < 8; ++n)
                control[mask][n] = 0x80;
        }
    }
};
inline constexpr SCompactionTable kCompaction;

// Writes the bytes of `block` whose bit is set in `keep` (16 bits) to `out`,
// in order, and returns the position after them. Up to 16 bytes at `out` are
// written, so `out` must trail the block's source by at least that much or
// write into a scratch area.
ORVELANE_COMPACTION_TARGET inline char* CompactBlock(__m128i block, uint32_t keep, char* out)
{
    const uint32_t low = keep & 0xFF;
    const uint32_t high = (keep >> 8) & 0xFF;
    const __m128i control = _mm_add_epi8(
        _mm_unpacklo_epi64(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kCompaction.control[low])),
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kCompaction.control[high]))),
        _mm_set_epi8(8, 8, 8, 8, 8, 8, 8, 8, 0, 0, 0, 0, 0, 0, 0, 0));
    const __m128i packed = _mm_shuffle_epi8(block, control);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
    out += __builtin_popcount(low);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_srli_si128(packed, 8));
    return out + __builtin_popcount(high);
}

// A set of bytes as the two nibble tables of a shuffle look-up: bit h of
// row[l] is set when the byte h * 16 + l (h < 8) belongs to the set, and of
// rowHigh[l] when (h + 8) * 16 + l does.
struct SByteSet
{
    alignas(16) uint8_t row[16];
    alignas(16) uint8_t rowHigh[16];
    template <typename Member> constexpr explicit SByteSet(Member member) : row(), rowHigh()
    {
        for (int c = 0; c < 256; ++c)
            if (member(static_cast<unsigned char>(c))) {
                const int h = c >> 4;
                (h < 8 ? row : rowHigh)[c & 15] |= static_cast<uint8_t>(1u << (h & 7));
            }
    }
};

// 0xFF in every byte of `bytes` that belongs to `set`, 0 elsewhere.
ORVELANE_COMPACTION_TARGET inline __m128i InSet(__m128i bytes, const SByteSet& set)
{
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i low = _mm_and_si128(bytes, nibble);
    const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble);
    const __m128i rowLow =
        _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(set.row)), low);
    const __m128i rowHigh =
        _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(set.rowHigh)), low);
    const __m128i upper = _mm_cmpgt_epi8(high, _mm_set1_epi8(7));
    const __m128i row =
        _mm_or_si128(_mm_andnot_si128(upper, rowLow), _mm_and_si128(upper, rowHigh));
    const __m128i bit = _mm_shuffle_epi8(
        _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128), high);
    return _mm_cmpeq_epi8(_mm_and_si128(row, bit), bit);
}

} // namespace decode
#endif
