// Look-alike and accented characters back to the plain capital they imitate.
#include "decode/MailDecoder.h"

#include "decode/ScanFields.h"

#include <array>

namespace {

constexpr std::array<unsigned char, 256> MakeLookAlikes()
{
    std::array<unsigned char, 256> map{};
    for (int i = 0; i < 256; ++i)
        map[i] = static_cast<unsigned char>(i);
    auto range = [&map](int from, int to, char result) {
        for (int c = from; c <= to; ++c)
            map[c] = static_cast<unsigned char>(result);
    };
    range('0', '0', 'O');
    range(0xD2, 0xD6, 'O');
    range(0xD8, 0xD8, 'O');
    range(0xF0, 0xF0, 'O');
    range(0xF2, 0xF6, 'O');
    range(0xF8, 0xF8, 'O');
    range('@', '@', 'A');
    range(0xAA, 0xAA, 'A');
    range(0xC0, 0xC6, 'A');
    range(0xE0, 0xE6, 'A');
    range(0xC8, 0xCB, 'E');
    range(0xE8, 0xEB, 'E');
    range(0xCC, 0xCF, 'I');
    range(0xEC, 0xEF, 'I');
    range(0xB5, 0xB5, 'U');
    range(0xD9, 0xDC, 'U');
    range(0xF9, 0xFC, 'U');
    range(0x80, 0xA9, 'C'); // the whole range, not only the copyright sign
    range(0xE7, 0xE7, 'C');
    range(0xC7, 0xC7, 'Y'); // the capital c cedilla gives Y, not C
    range(0xDD, 0xDD, 'Y');
    range(0xFD, 0xFD, 'Y');
    range(0xFF, 0xFF, 'Y');
    range(0xAE, 0xAE, 'R');
    range(0xD0, 0xD0, 'D');
    range(0xDF, 0xDF, 'B');
    range(0xFE, 0xFE, 'B');
    range(0xD1, 0xD1, 'N');
    range(0xF1, 0xF1, 'N');
    range(0xB9, 0xB9, '1');
    range(0xB2, 0xB2, '2');
    range(0xB3, 0xB3, '3');
    return map;
}
constexpr std::array<unsigned char, 256> kLookAlikes = MakeLookAlikes();

} // namespace

unsigned char CMailDecoder::LookAlikeChar(unsigned char c) { return kLookAlikes[c]; }

std::string& CMailDecoder::ConvertLookAlikes(std::string& text)
{
    const size_t status = decode::FindStatus(text);
    const size_t from = status == std::string::npos ? 0 : status + 7;
    for (size_t i = from; i < text.size(); ++i)
        text[i] = static_cast<char>(kLookAlikes[static_cast<unsigned char>(text[i])]);
    return text;
}
