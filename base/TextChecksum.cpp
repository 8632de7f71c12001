#include "base/TextChecksum.h"

int64_t TextChecksum(std::string_view text)
{
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return static_cast<int64_t>(hash);
}
