#include "decode/Base64.h"

#include "base/Base64.h"

#include <array>

namespace {

constexpr std::array<int8_t, 256> MakeTable()
{
    std::array<int8_t, 256> table{};
    // The code minus the value, so that code - entry gives the value back.
    for (int c = 0; c < 256; ++c) {
        const int value = Base64Value(static_cast<unsigned char>(c));
        table[c] = static_cast<int8_t>(value < 0 ? -1 : c - value);
    }
    table['='] = 0;
    return table;
}
constexpr std::array<int8_t, 256> kTable = MakeTable();

} // namespace

const int8_t CBase64::Base64DecodeTable[256] = {
#define ROW(i) kTable[i], kTable[i + 1], kTable[i + 2], kTable[i + 3], kTable[i + 4], kTable[i + 5], \
               kTable[i + 6], kTable[i + 7]
    ROW(0),   ROW(8),   ROW(16),  ROW(24),  ROW(32),  ROW(40),  ROW(48),  ROW(56),
    ROW(64),  ROW(72),  ROW(80),  ROW(88),  ROW(96),  ROW(104), ROW(112), ROW(120),
    ROW(128), ROW(136), ROW(144), ROW(152), ROW(160), ROW(168), ROW(176), ROW(184),
    ROW(192), ROW(200), ROW(208), ROW(216), ROW(224), ROW(232), ROW(240), ROW(248),
#undef ROW
};

std::unique_ptr<unsigned char[]> CBase64::DecodeBase64Run(const char* run, int32_t count,
                                                          int32_t* length) const
{
    *length = 0;
    if (count < 0 || (count > 0 && !run))
        return nullptr;
    const size_t n = static_cast<size_t>(count);
    auto out = std::make_unique<unsigned char[]>(n / 4 + n + 1);
    size_t at = 0; // the current output byte
    int quantum = 0;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char b = static_cast<unsigned char>(run[i]);
        const int8_t t = kTable[b];
        if (t == -1)
            continue;
        if (b == '=') {
            if (quantum == 2 && i + 1 < n && run[i + 1] == '=') {
                quantum = 3;
                continue;
            }
            if (quantum == 3) {
                quantum = 0;
                continue;
            }
            return nullptr;
        }
        const unsigned v = static_cast<unsigned char>(b - t);
        switch (quantum) {
        case 0:
            out[at] = static_cast<unsigned char>(v << 2);
            quantum = 1;
            break;
        case 1:
            out[at] = static_cast<unsigned char>(out[at] + (v >> 4));
            out[++at] = static_cast<unsigned char>(v << 4);
            quantum = 2;
            break;
        case 2:
            out[at] = static_cast<unsigned char>(out[at] + (v >> 2));
            out[++at] = static_cast<unsigned char>(v << 6);
            quantum = 3;
            break;
        default:
            out[at] = static_cast<unsigned char>(out[at] + v);
            ++at;
            quantum = 0;
            break;
        }
    }
    *length = static_cast<int32_t>(at);
    return out;
}
