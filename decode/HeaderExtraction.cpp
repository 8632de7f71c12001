#include "decode/HeaderExtraction.h"

#include "decode/MailDecoder.h"
#include "decode/ScanFields.h"
#include "base/Win1252.h"

#include <algorithm>
#include <array>

namespace {

struct Keyword {
    std::string_view upper; // the keyword in capitals, for comparisons without case
    std::string CHeaderFields::*field;
};

// Tested in this order; the first that begins a line wins. Each is a capital
// letter, then more, then ':' (FindNoCase relies on that).
constexpr std::array<Keyword, 6> kKeywords = {{
    {"RETURN-PATH:", &CHeaderFields::m_strReturnPath},
    {"FROM:", &CHeaderFields::m_strFrom},
    {"TO:", &CHeaderFields::m_strTo},
    {"CC:", &CHeaderFields::m_strCc},
    {"SUBJECT:", &CHeaderFields::m_strSubject},
    {"RECEIVED:", &CHeaderFields::m_strRelays},
}};
static_assert([] {
    for (const Keyword& keyword : kKeywords)
        if (keyword.upper.size() < 2 || keyword.upper.front() < 'A' || keyword.upper.front() > 'Z' ||
            keyword.upper.back() != ':')
            return false;
    return true;
}());

// The code page's upper-casing as a table, for the byte loops below.
struct UpperTable {
    unsigned char upper[256];
    UpperTable()
    {
        for (int c = 0; c < 256; ++c)
            upper[c] = w1252::ToUpper(static_cast<unsigned char>(c));
    }
};
const UpperTable kUpper;

bool StartsWithNoCase(std::string_view line, std::string_view upperKeyword)
{
    if (line.size() < upperKeyword.size())
        return false;
    for (size_t i = 0; i < upperKeyword.size(); ++i)
        if (kUpper.upper[static_cast<unsigned char>(line[i])] != static_cast<unsigned char>(upperKeyword[i]))
            return false;
    return true;
}

// Position of the first occurrence of `upperKeyword` in `line`, compared in
// upper case; npos when there is none.
size_t FindNoCase(std::string_view line, std::string_view upperKeyword)
{
    if (upperKeyword.size() > line.size())
        return std::string_view::npos;
    // Only the two cases of an ASCII letter turn into it, and only ':' into
    // ':' (every keyword has that shape): candidates have either case first
    // and the ':' in place.
    const size_t last = upperKeyword.size() - 1;
    for (size_t i = 0;; ++i) {
        i = decode::FindPair(line.data(), i, line.size(), static_cast<char>(upperKeyword.front() | 0x20), last,
                             ':', 0x20);
        if (i == std::string_view::npos || StartsWithNoCase(line.substr(i), upperKeyword))
            return i;
    }
}

} // namespace

CHeaderFields ScanHeaderFields(std::string_view text)
{
    CHeaderFields fields;
    // The header ends at the first "Status:", or there is only header.
    if (const size_t status = decode::FindStatus(text); status != std::string_view::npos)
        text = text.substr(0, status);
    // CRs, '<' and '>' dropped; the stretches between them are copied whole.
    std::string kept;
    kept.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t drop = decode::FindEither(text.data(), i, text.size(), '\r', '<', '>');
        kept.append(text.substr(i, drop - i));
        i = drop + 1;
    }

    int state = -1; // index into kKeywords, -1 for no field
    size_t start = 0;
    while (true) {
        const size_t lf = kept.find('\n', start);
        const std::string_view line =
            std::string_view(kept).substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        if (line.find(':') != std::string_view::npos && (line.empty() || line[0] != '\t'))
            state = -1;
        for (size_t k = 0; k < kKeywords.size(); ++k)
            if (StartsWithNoCase(line, kKeywords[k].upper)) {
                state = static_cast<int>(k);
                break;
            }
        if (state >= 0) {
            const Keyword& keyword = kKeywords[static_cast<size_t>(state)];
            std::string& value = fields.*keyword.field;
            if (const size_t at = FindNoCase(line, keyword.upper); at != std::string_view::npos) {
                value += line.substr(0, at);
                value += line.substr(at + keyword.upper.size());
            } else {
                value += line;
            }
        }
        if (lf == std::string::npos)
            break;
        start = lf + 1;
    }
    return fields;
}

int32_t RecipientCount(std::string_view value)
{
    return static_cast<int32_t>(std::count(value.begin(), value.end(), ',')) + 1;
}

CHeaderFields ReadHeaderFields(std::string_view text, CMailDecoder& decoder)
{
    CHeaderFields fields = ScanHeaderFields(text);
    fields.m_strSubject = decoder.DecodeHeaderText(std::move(fields.m_strSubject), true);
    // The other fields keep their encoded words, but raw UTF-8 reaches the
    // rules in the code page, as the Subject does.
    for (std::string* field : {&fields.m_strReturnPath, &fields.m_strFrom, &fields.m_strTo, &fields.m_strCc,
                               &fields.m_strRelays})
        *field = CMailDecoder::RawHeaderText(std::move(*field));
    return fields;
}
