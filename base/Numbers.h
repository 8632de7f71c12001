// Saturating 32-bit arithmetic for numbers that come from files and the
// network: a huge or overflowing value stays at the 32-bit limits, it never
// wraps around into a small or negative size.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

// `value` held to the 32-bit signed range.
inline int32_t Clamp32(int64_t value)
{
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// A length or count held to the 32-bit signed range.
inline int32_t ClampSize32(size_t value)
{
    return static_cast<int32_t>(std::min<size_t>(value, std::numeric_limits<int32_t>::max()));
}

// 32-bit signed product held to the 32-bit limits.
inline int32_t MulSaturate32(int32_t a, int32_t b) { return Clamp32(int64_t(a) * int64_t(b)); }

// Reads a decimal number as "%d" does (blanks, sign, digits) from `pos` on,
// saturating at the 32-bit limits. False when no digit is there; `pos` moves
// past what was read.
bool ReadSaturated(std::string_view text, size_t& pos, int32_t& value);

// atoi as the C library reads it (blanks, sign, leading digits; 0 without a
// digit), saturating at the 32-bit limits.
int32_t AtoiSaturating(std::string_view text);
