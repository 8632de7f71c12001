// The base64 alphabet (RFC 4648), and the strict decoder for credentials.
// The message decoders read base64 more leniently on the same alphabet.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The 6-bit value of an alphabet character, or -1 for any other byte ('='
// included).
constexpr int Base64Value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Standard base64 with padding; blanks and line ends ignored. Nothing for
// anything else.
std::optional<std::string> DecodeBase64Strict(std::string_view text);
