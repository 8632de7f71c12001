#include "base/Numbers.h"

bool ReadSaturated(std::string_view text, size_t& pos, int32_t& value)
{
    size_t i = pos;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9')
        return false;
    const int64_t limit = negative ? -int64_t(std::numeric_limits<int32_t>::min())
                                   : int64_t(std::numeric_limits<int32_t>::max());
    int64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        v = std::min(v * 10 + (text[i] - '0'), limit); // keeps reading the digits, saturated
    value = static_cast<int32_t>(negative ? -v : v);
    pos = i;
    return true;
}

int32_t AtoiSaturating(std::string_view text)
{
    size_t pos = 0;
    int32_t value = 0;
    return ReadSaturated(text, pos, value) ? value : 0;
}
