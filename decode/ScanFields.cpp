#include "decode/ScanFields.h"

#include <climits>

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
    while (p < end && IsCSpace(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    int64_t result = 0;
    int digits = 0;
    while (p < end && *p >= '0' && *p <= '9') {
        if (result <= INT32_MAX)
            result = result * 10 + (*p - '0');
        ++p;
        ++digits;
    }
    if (digits == 0)
        return false;
    if (negative)
        result = -result;
    if (result > INT32_MAX)
        result = INT32_MAX;
    if (result < INT32_MIN)
        result = INT32_MIN;
    *value = static_cast<int32_t>(result);
    return true;
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
