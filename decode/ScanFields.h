// Small hand-written scanners for the decoders. They read fields the way the C
// library's formatted scanning does ("%2X", "%d", "%N[^x]") but never look
// past the end they are given, and never call into the C library on message
// text.
#pragma once

#include "decode/ByteSearch.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace decode {

// White space as the C locale sees it; bytes from 0x80 up never are.
inline bool IsCSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// "%02X" at [p, end): white space is skipped, then at most two characters
// form the field: an optional sign, then hexadecimal digits, where "0x" reads
// as the prefix of a value 0. False when no digit was read. The value is the
// unsigned conversion (a negative field wraps around).
bool ScanHex2(const char* p, const char* end, uint32_t* value);

// "%d" at [p, end): white space, optional sign, at least one decimal digit.
// Values beyond 32 bits saturate (callers only read a few digits).
bool ScanDecimal(const char* p, const char* end, int32_t* value);

// Deletes every occurrence of `what`, left to right, in one pass: text that
// closes up around a deleted occurrence is not searched again.
void EraseAll(std::string& text, std::string_view what);

// Position of the first "Status:" (case-sensitive), or npos.
inline size_t FindStatus(std::string_view text) { return FindText(text, "Status:"); }

// Whether `marker` occurs in `text`.
bool ContainsMarker(std::string_view text, std::string_view marker);

// Whether ": 8bit" and ": 7bit" occur in `text`, found in one pass.
struct SBitMarkers {
    bool has8Bit = false;
    bool has7Bit = false;
};
SBitMarkers FindBitMarkers(std::string_view text);

// Next position at or after `from` holding `c` in [0, size), or `size`.
// Remembers the stretch it has read, so a series of searches, even from
// positions that go back now and then, reads every byte about once.
class CNextByte
{
public:
    CNextByte(const char* data, size_t size, char c) : m_data(data), m_size(size), m_c(c) {}
    size_t From(size_t from)
    {
        if (from >= m_size)
            return m_size;
        if (m_bValid && from >= m_from && from <= m_result)
            return m_result;
        if (m_bValid && from < m_from) {
            // Only the stretch before the known one needs reading.
            const void* before = std::memchr(m_data + from, m_c, m_from - from);
            if (before)
                m_result = static_cast<size_t>(static_cast<const char*>(before) - m_data);
            m_from = from;
            return m_result;
        }
        const void* hit = std::memchr(m_data + from, m_c, m_size - from);
        m_result = hit ? static_cast<size_t>(static_cast<const char*>(hit) - m_data) : m_size;
        m_from = from;
        m_bValid = true;
        return m_result;
    }

private:
    const char* m_data;
    size_t m_size;
    char m_c;
    bool m_bValid = false;
    size_t m_from = 0;
    size_t m_result = 0;
};

} // namespace decode
