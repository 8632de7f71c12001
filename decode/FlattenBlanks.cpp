// Flattening line breaks and blank runs, 16 bytes at a time where the bytes
// allow it. Message text has a blank every few bytes but rarely two in a row
// outside the line ends, so most blocks are either kept as they are or only
// have their CR, LF and TAB turned into blanks; a block where some blank
// follows another goes through the byte loop.
#include "decode/TextTools.h"

#include "decode/ByteCompaction.h"

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

struct FlattenTables
{
    unsigned char flat[256];  // CR, LF and TAB as a blank, every other byte itself
    unsigned char blank[256]; // 1 for the blank and the bytes that become one
    constexpr FlattenTables() : flat(), blank()
    {
        for (int c = 0; c < 256; ++c) {
            const bool b = c == ' ' || c == '\r' || c == '\n' || c == '\t';
            flat[c] = static_cast<unsigned char>(b ? ' ' : c);
            blank[c] = b ? 1 : 0;
        }
    }
};
constexpr FlattenTables kFlatten;

// Every byte is stored and the write position moves on unless the byte is a
// blank after a blank, which keeps the loop free of data-dependent branches.
// Returns the new write position; *previousBlank carries over.
char* FlattenBytes(const char* in, const char* end, char* out, uint32_t* previousBlank)
{
    uint32_t previous = *previousBlank;
    for (; in != end; ++in) {
        const auto c = static_cast<unsigned char>(*in);
        const uint32_t blank = kFlatten.blank[c];
        *out = static_cast<char>(kFlatten.flat[c]);
        out += 1 - (blank & previous);
        previous = blank;
    }
    *previousBlank = previous;
    return out;
}

#if defined(__SSE2__)
// A block with CR, LF and TAB turned into blanks, and the mask of its blanks.
struct SFlatBlock
{
    __m128i bytes;
    uint32_t blanks;
};
inline SFlatBlock FlattenBlock(const char* in)
{
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i breaks = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')),
                                                     _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))),
                                        _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t')));
    const __m128i blanks = _mm_or_si128(breaks, _mm_cmpeq_epi8(bytes, space));
    return {_mm_or_si128(_mm_andnot_si128(breaks, bytes), _mm_and_si128(breaks, space)),
            static_cast<uint32_t>(_mm_movemask_epi8(blanks))};
}
#endif

#if defined(ORVELANE_HAVE_COMPACTION)
// The block loop where the processor can close up a block in a register:
// every block is flattened and closed up the same way, whatever its blanks.
ORVELANE_COMPACTION_TARGET const char* FlattenBlocks(const char* in, const char* end, char** out,
                                                     uint32_t* previousBlank)
{
    char* o = *out;
    uint32_t previous = *previousBlank;
    for (; end - in >= 16; in += 16) {
        const SFlatBlock block = FlattenBlock(in);
        // A blank after a blank goes.
        o = decode::CompactBlock(block.bytes, ~(block.blanks & ((block.blanks << 1) | previous)),
                                 o);
        previous = block.blanks >> 15;
    }
    *out = o;
    *previousBlank = previous;
    return in;
}
#endif

} // namespace

std::string CTextTools::FlattenBlanks(std::string text) const
{
    char* const begin = text.data();
    const char* in = begin;
    const char* const end = begin + text.size();
    char* out = begin;
    uint32_t previousBlank = 0;
#if defined(ORVELANE_HAVE_COMPACTION)
    if (decode::HasByteCompaction())
        in = FlattenBlocks(in, end, &out, &previousBlank);
#endif
#if defined(__SSE2__)
    // The write position never passes the read position, so a block is read
    // whole before any of its bytes can be overwritten.
    for (; end - in >= 16; in += 16) {
        const SFlatBlock block = FlattenBlock(in);
        if ((block.blanks & ((block.blanks << 1) | previousBlank)) != 0) {
            out = FlattenBytes(in, in + 16, out, &previousBlank);
            continue;
        }
        // No blank follows another: every byte stays, breaks become blanks.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block.bytes);
        out += 16;
        previousBlank = block.blanks >> 15;
    }
#endif
    out = FlattenBytes(in, end, out, &previousBlank);
    text.resize(static_cast<size_t>(out - begin));
    return text;
}
