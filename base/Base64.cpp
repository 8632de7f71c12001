#include "base/Base64.h"

std::optional<std::string> DecodeBase64Strict(std::string_view text)
{
    std::string clean;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            clean += c;
    if (clean.size() % 4 != 0)
        return std::nullopt;
    std::string out;
    for (size_t i = 0; i < clean.size(); i += 4) {
        int v[4];
        int pad = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = clean[i + k];
            if (c == '=') {
                // Padding only at the very end, in the last one or two places.
                if (i + 4 != clean.size() || k < 2)
                    return std::nullopt;
                v[k] = 0;
                ++pad;
            } else {
                if (pad)
                    return std::nullopt;
                v[k] = Base64Value(static_cast<unsigned char>(c));
                if (v[k] < 0)
                    return std::nullopt;
            }
        }
        const uint32_t bits = (uint32_t(v[0]) << 18) | (uint32_t(v[1]) << 12) | (uint32_t(v[2]) << 6) |
                              uint32_t(v[3]);
        out += static_cast<char>((bits >> 16) & 0xFF);
        if (pad < 2)
            out += static_cast<char>((bits >> 8) & 0xFF);
        if (pad < 1)
            out += static_cast<char>(bits & 0xFF);
    }
    return out;
}
