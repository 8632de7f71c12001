#include "proxy/Pop3Text.h"

#include "base/Numbers.h"
#include "base/Win1252.h"

#include <algorithm>
#include <limits>
#include <set>

namespace pop3 {

bool BeginsWith(std::string_view text, std::string_view word)
{
    return text.size() >= word.size() && w1252::EqualsNoCase(text.substr(0, word.size()), word);
}

bool IsCommand(std::string_view line, std::string_view word)
{
    if (!BeginsWith(line, word))
        return false;
    return line.size() == word.size() || line[word.size()] == ' ' || line[word.size()] == '\r' ||
           line[word.size()] == '\n' || line[word.size()] == '\t';
}

int ReadOkNumbers(std::string_view text, int32_t& first, int32_t& second)
{
    if (!text.starts_with("+OK"))
        return 0;
    size_t pos = 3;
    if (!ReadSaturated(text, pos, first))
        return 0;
    if (!ReadSaturated(text, pos, second))
        return 1;
    return 2;
}

std::vector<std::pair<int32_t, int32_t>> ParseListing(std::string_view answer)
{
    // Every former line ends with ':' once CRs become ':' and dots and LFs
    // are gone; the pieces between two ':' are the listing lines.
    std::string flat;
    flat.reserve(answer.size());
    for (size_t i = 0; i < answer.size(); ++i) {
        const char c = answer[i];
        // A line feed alone ends a line as CR LF does.
        if (c == '\r' || (c == '\n' && (i == 0 || answer[i - 1] != '\r')))
            flat += ':';
        else if (c != '.' && c != '\n')
            flat += c;
    }
    std::vector<std::pair<int32_t, int32_t>> listing;
    std::set<int32_t> seen;
    size_t colon = flat.find(':');
    while (colon != std::string::npos) {
        const size_t next = flat.find(':', colon + 1);
        if (next == std::string::npos)
            break;
        const std::string_view piece = std::string_view(flat).substr(colon + 1, next - colon - 1);
        size_t pos = 0;
        int32_t number = 0, size = 0;
        // A number names one message: no number below 1, none twice.
        if (ReadSaturated(piece, pos, number) && ReadSaturated(piece, pos, size) && number >= 1 &&
            seen.insert(number).second)
            listing.emplace_back(number, std::max(size, 0));
        colon = next;
    }
    return listing;
}

std::map<int32_t, std::string> ParseUidls(std::string_view answer)
{
    std::map<int32_t, std::string> uidls;
    std::string flat;
    flat.reserve(answer.size());
    for (size_t i = 0; i < answer.size(); ++i) {
        const char c = answer[i];
        if (c != '\n')
            flat += c;
        else if (i == 0 || answer[i - 1] != '\r')
            flat += '\r'; // a line feed alone ends a line too
    }
    size_t cr = flat.find('\r');
    while (cr != std::string::npos) {
        const size_t next = flat.find('\r', cr + 1);
        if (next == std::string::npos)
            break;
        const std::string_view piece = std::string_view(flat).substr(cr + 1, next - cr - 1);
        const size_t space = piece.find(' ');
        if (space != std::string_view::npos) {
            size_t pos = 0;
            int32_t number = 0;
            if (!ReadSaturated(piece.substr(0, space), pos, number))
                number = 0;
            if (number >= 1)
                uidls[number] = std::string(piece.substr(space + 1));
        }
        cr = next;
    }
    return uidls;
}

std::string TopOfMessage(std::string_view stored, int32_t lines)
{
    std::string_view content = stored;
    if (EndsMultiLine(content))
        content.remove_suffix(content.ends_with(".\r\n") ? 3 : 2);
    std::string out;
    const size_t blank = content.starts_with("\r\n") ? 0 : content.find("\r\n\r\n");
    if (blank == std::string_view::npos) {
        // No empty line: the whole message is header.
        out.append(content);
    } else {
        const size_t bodyStart = blank == 0 ? 2 : blank + 4;
        out.append(content.substr(0, bodyStart));
        size_t pos = bodyStart;
        for (int32_t n = 0; n < lines && pos < content.size(); ++n) {
            const size_t lf = content.find('\n', pos);
            pos = lf == std::string_view::npos ? content.size() : lf + 1;
        }
        out.append(content.substr(bodyStart, pos - bodyStart));
    }
    if (!out.empty() && !out.ends_with("\n"))
        out += "\r\n";
    out += ".\r\n";
    return out;
}

size_t ClosingLineEnd(std::string_view text, size_t after)
{
    for (size_t at = text.find("\n."); at != std::string_view::npos; at = text.find("\n.", at + 1)) {
        const std::string_view rest = text.substr(at + 2);
        const size_t end = rest.starts_with("\r\n") ? at + 4 : rest.starts_with("\n") ? at + 3 : 0;
        if (end > after)
            return end;
    }
    return std::string_view::npos;
}

bool EndsMultiLine(std::string_view text)
{
    // The answer starts as if after a line end, so that "." alone closes an
    // empty one.
    if (text == ".\r\n" || text == ".\n")
        return true;
    return text.ends_with("\n.\r\n") || text.ends_with("\n.\n");
}

bool LongerByStatusLine(std::string_view stored, int32_t listed)
{
    std::string_view content = stored;
    content.remove_suffix(content.ends_with(".\r\n") ? 3 : std::min<size_t>(content.size(), 2));
    if (listed < 0 || content.size() <= size_t(listed))
        return false;
    const size_t excess = content.size() - size_t(listed);
    for (size_t at = 0; at < content.size();) {
        const size_t lf = content.find('\n', at);
        const size_t end = lf == std::string_view::npos ? content.size() : lf + 1;
        if (end - at == excess && StatusOpening(content.substr(at, end - at)) == Opening::kStatus)
            return true;
        at = end;
    }
    return false;
}

bool EndsRetrieval(std::string_view stored)
{
    return EndsMultiLine(stored);
}

bool ListsCapability(std::string_view answer, std::string_view capability)
{
    size_t pos = answer.find('\n');
    while (pos != std::string_view::npos && pos + 1 < answer.size()) {
        const size_t start = pos + 1;
        pos = answer.find('\n', start);
        std::string_view line = answer.substr(start, (pos == std::string_view::npos ? answer.size() : pos) - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        if (BeginsWith(line, capability) && (line.size() == capability.size() || line[capability.size()] == ' '))
            return true;
    }
    return false;
}

Opening StatusOpening(std::string_view text)
{
    if (text.starts_with("+OK") || text.starts_with("-ERR"))
        return Opening::kStatus;
    // Decided once the first bytes can no longer begin either.
    const bool maybe = std::string_view("+OK").starts_with(text) || std::string_view("-ERR").starts_with(text);
    return maybe ? Opening::kUndecided : Opening::kOther;
}

AnswerCut CutAnswer(std::string_view bytes, bool multiLine, size_t maxLength)
{
    AnswerCut cut;
    const Opening opening = StatusOpening(bytes);
    if (opening != Opening::kStatus) {
        cut.kind = opening == Opening::kUndecided ? AnswerCut::Kind::kIncomplete : AnswerCut::Kind::kNotStatus;
        return cut;
    }
    const size_t lf = bytes.find('\n');
    cut.ok = bytes.starts_with("+OK");
    if (lf == std::string_view::npos || lf >= kMaxStatusLine) {
        cut.kind = bytes.size() > kMaxStatusLine ? AnswerCut::Kind::kTooLong : AnswerCut::Kind::kIncomplete;
        return cut;
    }
    if (!cut.ok || !multiLine) {
        cut.kind = AnswerCut::Kind::kComplete;
        cut.length = lf + 1;
        return cut;
    }
    // A second status line where the body begins answers no command.
    const Opening body = StatusOpening(bytes.substr(lf + 1));
    if (body != Opening::kOther) {
        cut.kind = body == Opening::kStatus ? AnswerCut::Kind::kDoubleStatus : AnswerCut::Kind::kIncomplete;
        return cut;
    }
    // The body starts after the status line's line feed, so "." alone
    // closes an empty one.
    const size_t end = ClosingLineEnd(bytes.substr(lf), 0);
    if (end == std::string_view::npos) {
        cut.kind = bytes.size() > maxLength ? AnswerCut::Kind::kTooLong : AnswerCut::Kind::kIncomplete;
        return cut;
    }
    cut.kind = AnswerCut::Kind::kComplete;
    cut.length = lf + end;
    return cut;
}

size_t AnswerEnd(std::string_view stored, std::string_view part)
{
    // The message starts as if after a line end, so that "." alone closes an
    // empty one. A closing line ("\n.\r\n" at most) that began in the bytes
    // stored so far ends within the first three of `part`.
    std::string window = "\n";
    window += stored.substr(stored.size() - std::min<size_t>(stored.size(), 3));
    window.erase(0, window.size() - std::min<size_t>(window.size(), 3));
    const size_t context = window.size();
    window += part.substr(0, std::min<size_t>(part.size(), 3));
    const size_t end = ClosingLineEnd(window, context);
    if (end != std::string::npos)
        return end - context;
    return ClosingLineEnd(part, 0);
}

std::string_view TraceText(std::string_view text, bool truncate)
{
    const size_t nul = text.find('\0');
    if (nul != std::string_view::npos)
        text = text.substr(0, nul);
    if (truncate) {
        // The log keeps at most the first line (or 120 characters) and needs
        // to see whether two more characters follow to decide on shortening.
        const size_t lf = text.find('\n');
        const size_t keep = (lf == std::string_view::npos ? 120 : lf) + 3;
        if (text.size() > keep)
            text = text.substr(0, keep);
    }
    return text;
}

std::string MaskPasswords(std::string text)
{
    // The argument goes after any blank: a tab separates it as well as a space.
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    for (size_t pos = 0; pos + 5 <= text.size();) {
        if ((pos == 0 || text[pos - 1] == '\n' || blank(text[pos - 1])) &&
            BeginsWith(std::string_view(text).substr(pos), "PASS") && blank(text[pos + 4])) {
            text.resize(pos);
            text += "PASS *****\r\n";
            break;
        }
        const size_t lf = text.find_first_of("\n \t", pos);
        if (lf == std::string::npos)
            break;
        pos = lf + 1;
    }
    return text;
}

} // namespace pop3
