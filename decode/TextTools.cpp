#include "decode/TextTools.h"

#include "decode/ScanFields.h"
#include "shell/Win1252.h"

#include <cstring>

int32_t CTextTools::FindNoCase(std::string_view text, std::string_view pattern) const
{
    const std::string upperText = w1252::Upper(text);
    const std::string upperPattern = w1252::Upper(pattern);
    const size_t at = upperText.find(upperPattern);
    return at == std::string::npos ? -1 : static_cast<int32_t>(at);
}

std::string CTextTools::StripHtml(std::string text) const
{
    const size_t status = decode::FindStatus(text);
    const size_t from = status == std::string::npos ? 0 : status;
    text = RemoveFontSpans(std::move(text), {"<font", "font-size"}, {"/font>"}, 7);

    // A tag goes from a '<' to the next '>' and leaves nothing in its place; a
    // '>' met before any '<' is stepped over.
    const size_t n = text.size();
    decode::CNextByte open(text.data(), n, '<');
    decode::CNextByte close(text.data(), n, '>');
    size_t out = from;
    size_t cursor = from;
    for (;;) {
        const size_t lt = open.From(cursor);
        const size_t gt = close.From(cursor);
        if (lt >= n || gt >= n)
            break;
        if (lt < gt) {
            std::memmove(&text[out], &text[cursor], lt - cursor);
            out += lt - cursor;
        } else {
            std::memmove(&text[out], &text[cursor], gt + 1 - cursor);
            out += gt + 1 - cursor;
        }
        cursor = gt + 1;
    }
    std::memmove(&text[out], &text[cursor], n - cursor);
    text.resize(out + n - cursor);
    return text;
}

std::string CTextTools::SqueezeChar(std::string text, char c) const
{
    size_t out = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == c && out > 0 && i > 0 && text[i - 1] == c)
            continue;
        text[out++] = text[i];
    }
    text.resize(out);
    return text;
}

std::string CTextTools::SqueezeRepeats(std::string text) const
{
    const size_t n = text.size();
    size_t out = 0;
    for (size_t i = 0; i < n; ++i) {
        if (i + 1 < n && text[i] == text[i + 1])
            continue;
        text[out++] = text[i];
    }
    text.resize(out);
    return text;
}
