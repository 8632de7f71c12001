// The base64 core shared by the body decoder and the encoded-word decoder.
#pragma once

#include <cstdint>
#include <memory>

class CBase64
{
public:
    // Per byte: the byte's code minus its 6-bit value for the 64 alphabet
    // characters, 0 for '=', -1 for every byte that is skipped.
    static const int8_t Base64DecodeTable[256];

    // Decodes `count` characters at `run`. Returns a new buffer owned by the
    // caller and its length in *length, or null and 0 when the run is malformed
    // (a pad '=' that does not close a quantum).
    std::unique_ptr<unsigned char[]> DecodeBase64Run(const char* run, int32_t count,
                                                     int32_t* length) const;
};
