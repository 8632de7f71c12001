// Searches for short byte patterns, 16 bytes at a time where the processor
// allows it. Message text is full of the first byte of most markers (':',
// '=', '&', 'S'), so a scan for that byte alone stops every few bytes; testing
// a second byte of the pattern in the same step skips almost every false
// start.
#pragma once

#include <cstddef>
#include <string_view>

namespace decode {

// The first i >= from with (data[i] | fold) == first and data[i + distance] ==
// second, both inside [0, size); npos when there is none. `fold` 0x20 makes a
// letter `first` (given in lower case) match either case.
size_t FindPair(const char* data, size_t from, size_t size, char first, size_t distance,
                char second, char fold = 0);

// As text.find(needle, from).
size_t FindText(std::string_view text, std::string_view needle, size_t from = 0);

// Position of the first byte in [from, size) that is `a`, `b` or `c`, or
// `size`.
size_t FindEither(const char* data, size_t from, size_t size, char a, char b, char c);
inline size_t FindEither(const char* data, size_t from, size_t size, char a, char b)
{
    return FindEither(data, from, size, a, b, b);
}

} // namespace decode
