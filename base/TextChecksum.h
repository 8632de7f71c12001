// The checksum the message store keeps beside each text: a record whose bytes
// changed on disk is not served.
#pragma once

#include <cstdint>
#include <string_view>

// FNV-1a (64 bits) over the bytes.
int64_t TextChecksum(std::string_view text);
