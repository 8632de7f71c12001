#include "filter/MessageHeader.h"

#include "base/Win1252.h"
#include "decode/ScanFields.h"

size_t FindHeaderEnd(std::string_view text)
{
    size_t lineStart = 0;
    while (lineStart <= text.size()) {
        // An empty line: nothing, or only a CR, before its LF.
        if (lineStart < text.size() && text[lineStart] == '\n')
            return lineStart;
        if (lineStart + 1 < text.size() && text[lineStart] == '\r' && text[lineStart + 1] == '\n')
            return lineStart;
        const size_t lf = text.find('\n', lineStart);
        if (lf == std::string_view::npos)
            return std::string_view::npos;
        lineStart = lf + 1;
    }
    return std::string_view::npos;
}

size_t FindHeaderField(std::string_view header, std::string_view name)
{
    size_t lineStart = 0;
    while (lineStart < header.size()) {
        const std::string_view line = header.substr(lineStart);
        if (line.size() > name.size() && line[name.size()] == ':' &&
            w1252::EqualsNoCase(line.substr(0, name.size()), name))
            return lineStart;
        const size_t lf = header.find('\n', lineStart);
        if (lf == std::string_view::npos)
            break;
        lineStart = lf + 1;
    }
    return std::string_view::npos;
}

size_t FieldEnd(std::string_view header, size_t lineStart)
{
    size_t pos = lineStart;
    while (true) {
        size_t lf = header.find('\n', pos);
        if (lf == std::string_view::npos)
            return header.size();
        const size_t next = lf + 1;
        if (next < header.size() && (header[next] == ' ' || header[next] == '\t')) {
            pos = next;
            continue;
        }
        // The line end of the last line: its CR when it has one.
        return (lf > lineStart && header[lf - 1] == '\r') ? lf - 1 : lf;
    }
}

namespace {

constexpr std::string_view kStatusLine = "Status: \r\n";

// The part of `text` the analysis reads (up to its first zero byte), and
// where the status line goes into it (npos when none is added).
std::string_view AnalysedPart(std::string_view text, size_t* insertAt)
{
    if (const size_t zero = text.find('\0'); zero != std::string_view::npos)
        text = text.substr(0, zero);
    const size_t end = FindHeaderEnd(text);
    *insertAt = end == std::string_view::npos || decode::FindStatus(text.substr(0, end)) != std::string_view::npos
                    ? std::string_view::npos
                    : end;
    return text;
}

} // namespace

bool IsWithStatusLine(std::string_view analysis, std::string_view text)
{
    size_t end = 0;
    text = AnalysedPart(text, &end);
    if (end == std::string_view::npos)
        return analysis == text;
    return analysis.size() == text.size() + kStatusLine.size() && analysis.substr(0, end) == text.substr(0, end) &&
           analysis.substr(end, kStatusLine.size()) == kStatusLine &&
           analysis.substr(end + kStatusLine.size()) == text.substr(end);
}

std::string WithStatusLine(std::string_view text)
{
    size_t end = 0;
    text = AnalysedPart(text, &end);
    if (end == std::string_view::npos)
        return std::string(text);
    std::string out;
    out.reserve(text.size() + kStatusLine.size());
    out.append(text.substr(0, end));
    out.append(kStatusLine);
    out.append(text.substr(end));
    return out;
}

std::string HeaderFieldValue(std::string_view value, size_t maxBytes)
{
    std::string clean(value.substr(0, maxBytes));
    for (char& c : clean)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    while (!clean.empty() && clean.back() == ' ')
        clean.pop_back();
    return clean;
}
