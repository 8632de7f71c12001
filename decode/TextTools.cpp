#include "decode/TextTools.h"

#include "decode/ByteCompaction.h"
#include "decode/ScanFields.h"
#include "base/Win1252.h"

#include <cstring>

#if defined(ORVELANE_HAVE_COMPACTION)
namespace {

// SqueezeRepeats on the blocks of 16 that have a successor byte, each closed
// up in a register; returns where they end. A block's writes stay behind the
// bytes still to be read.
ORVELANE_COMPACTION_TARGET size_t SqueezeBlocks(char* data, size_t n, size_t* out)
{
    char* o = data + *out;
    size_t i = 0;
    for (; i + 17 <= n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1));
        const auto repeat = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, next)));
        o = decode::CompactBlock(bytes, ~repeat, o);
    }
    *out = static_cast<size_t>(o - data);
    return i;
}

} // namespace
#endif

int32_t CTextTools::FindNoCase(std::string_view text, std::string_view pattern) const
{
    if (pattern.empty())
        return 0;
    const std::string upperText = w1252::Upper(text);
    const std::string upperPattern = w1252::Upper(pattern);
    // memmem's two-way search stays linear whatever the pattern.
    const void* hit = memmem(upperText.data(), upperText.size(), upperPattern.data(), upperPattern.size());
    return hit ? static_cast<int32_t>(static_cast<const char*>(hit) - upperText.data()) : -1;
}

std::string CTextTools::StripHtml(std::string text) const
{
    const size_t status = decode::FindStatus(text);
    const size_t from = status == std::string::npos ? 0 : status;
    text = RemoveFontSpans(std::move(text), {"<font", "font-size"}, {"/font>"}, 7);

    // A tag goes from a '<' to the next '>' and leaves nothing in its place;
    // every '>' met before the next '<' is stepped over, so what lies between
    // the cursor and that '<' stays as it is.
    const size_t n = text.size();
    decode::CNextByte open(text.data(), n, '<');
    decode::CNextByte close(text.data(), n, '>');
    size_t out = from;
    size_t cursor = from;
    for (;;) {
        const size_t lt = open.From(cursor);
        const size_t gt = lt < n ? close.From(lt + 1) : n;
        if (gt >= n)
            break;
        std::memmove(&text[out], &text[cursor], lt - cursor);
        out += lt - cursor;
        cursor = gt + 1;
    }
    std::memmove(&text[out], &text[cursor], n - cursor);
    text.resize(out + n - cursor);
    return text;
}

std::string CTextTools::SqueezeChar(std::string text, char c) const
{
    // Stretches without a repeated `c` move in one piece.
    const size_t n = text.size();
    char* data = text.data();
    size_t out = 0;
    size_t i = 0;
    while (i < n) {
        const void* hit = std::memchr(data + i, c, n - i);
        const size_t at = hit ? static_cast<size_t>(static_cast<const char*>(hit) - data) : n;
        const size_t keep = at < n ? at + 1 : n; // the first of a run stays
        if (out != i)
            std::memmove(data + out, data + i, keep - i);
        out += keep - i;
        i = keep;
        while (i < n && data[i] == c)
            ++i;
    }
    text.resize(out);
    return text;
}

std::string CTextTools::SqueezeRepeats(std::string text) const
{
    // A byte is kept unless the next one equals it: every byte is stored and
    // the write position moves on past the kept ones, without a branch on the
    // text. The last byte is always kept.
    const size_t n = text.size();
    if (n == 0)
        return text;
    char* data = text.data();
    size_t out = 0;
    size_t i = 0;
#if defined(ORVELANE_HAVE_COMPACTION)
    if (decode::HasByteCompaction())
        i = SqueezeBlocks(data, n, &out);
#endif
    for (; i + 1 < n; ++i) {
        data[out] = data[i];
        out += data[i] != data[i + 1];
    }
    data[out++] = data[n - 1];
    text.resize(out);
    return text;
}
