// Removal of spans such as tiny-font text. The work is done on the untouched
// text: every deletion starts at or after the cursor and the cursor moves past
// it, so positions in the rest of the text never change and each span can be
// recorded and cut out at the end.
#include "decode/TextTools.h"

#include "decode/ScanFields.h"
#include "base/Win1252.h"

#include <cstring>
#include <utility>

namespace {

constexpr size_t npos = std::string::npos;

// Whether every word (upper case) occurs in [from, to) of `text` compared in
// upper case.
bool HoldsAll(const std::string& text, size_t from, size_t to, const std::vector<std::string>& words)
{
    for (const std::string& word : words) {
        if (word.empty())
            continue;
        if (to - from < word.size())
            return false;
        const unsigned char first = static_cast<unsigned char>(word[0]);
        // A first byte that is no letter ('<', '/') matches only itself:
        // memchr jumps from one candidate to the next.
        const bool caseless = w1252::ToLower(first) == first;
        bool found = false;
        for (size_t i = from; i + word.size() <= to && !found; ++i) {
            if (caseless) {
                const void* hit = std::memchr(text.data() + i, first, to - word.size() + 1 - i);
                if (!hit)
                    break;
                i = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
            } else if (w1252::ToUpper(static_cast<unsigned char>(text[i])) != first) {
                continue;
            }
            size_t j = 1;
            while (j < word.size() &&
                   w1252::ToUpper(static_cast<unsigned char>(text[i + j])) == static_cast<unsigned char>(word[j]))
                ++j;
            found = j == word.size();
        }
        if (!found)
            return false;
    }
    return true;
}

bool AllEmpty(const std::vector<std::string>& words)
{
    for (const std::string& word : words)
        if (!word.empty())
            return false;
    return true;
}

// Finds closing tags. The closing candidate ending at a '>' runs from the first
// '<' after the previous '>' to it; it depends only on the text, so the answer
// for one search position serves every later one up to the tag it found.
class CClosingTags
{
public:
    CClosingTags(const std::string& text, const std::vector<std::string>& words)
        : m_text(text), m_words(words), m_open(text.data(), text.size(), '<'),
          m_close(text.data(), text.size(), '>')
    {
    }

    // The first '>' at or after `from` (where text[from - 1] is '>') whose
    // candidate holds every closing word, or npos.
    size_t From(size_t from)
    {
        if (m_bValid && from >= m_from && (m_result == npos || from <= m_result))
            return m_result;
        m_bValid = true;
        m_from = from;
        m_result = npos;
        const size_t n = m_text.size();
        size_t previous = from - 1;
        for (;;) {
            const size_t lt = m_open.From(previous + 1);
            if (lt >= n)
                return npos; // no candidate can start any more
            const size_t gt = m_close.From(previous + 1);
            if (gt >= n)
                return npos;
            const bool holds = lt < gt ? HoldsAll(m_text, lt, gt + 1, m_words) : AllEmpty(m_words);
            if (holds) {
                m_result = gt;
                return gt;
            }
            previous = gt;
        }
    }

private:
    const std::string& m_text;
    const std::vector<std::string>& m_words;
    decode::CNextByte m_open;
    decode::CNextByte m_close;
    bool m_bValid = false;
    size_t m_from = 0;
    size_t m_result = npos;
};

} // namespace

std::string CTextTools::RemoveFontSpans(std::string text, const std::vector<std::string>& openWords,
                                        const std::vector<std::string>& closeWords, int32_t sizeLimit) const
{
    std::vector<std::string> opening, closing;
    for (const std::string& word : openWords)
        opening.push_back(w1252::Upper(word));
    for (const std::string& word : closeWords)
        closing.push_back(w1252::Upper(word));

    const size_t n = text.size();
    const size_t status = decode::FindStatus(text);
    size_t cursor = status == npos ? 0 : status;
    decode::CNextByte opens(text.data(), n, '<');
    decode::CNextByte closes(text.data(), n, '>');
    CClosingTags closingTags(text, closing);
    std::vector<std::pair<size_t, size_t>> spans; // [from, to] to delete

    size_t lt = opens.From(cursor);
    while (lt < n) {
        const size_t gt = closes.From(cursor);
        if (gt >= n)
            break;
        // A candidate is empty when its '>' comes first; it opens nothing.
        if (lt > gt || !HoldsAll(text, lt, gt + 1, opening)) {
            cursor = gt + 1;
            lt = opens.From(cursor);
            continue;
        }
        if (sizeLimit != 0) {
            // The size is read from the last digit of the tag onwards, so only
            // that one digit counts.
            size_t k = gt;
            while (k > lt && (text[k] < '0' || text[k] > '9'))
                --k;
            if (text[k] >= '0' && text[k] <= '9' && text[k] - '0' > sizeLimit)
                break;
        }
        const size_t end = closingTags.From(gt + 1);
        if (end == npos) {
            cursor = gt + 1;
        } else {
            spans.emplace_back(lt, end);
            // Resume one character after where the span began, which in the
            // shortened text is the second character after the span.
            cursor = end + 2;
        }
        lt = opens.From(cursor);
    }

    if (spans.empty())
        return text;
    std::string out;
    out.reserve(n);
    size_t copied = 0;
    for (const auto& [from, to] : spans) {
        out.append(text, copied, from - copied);
        copied = to + 1;
    }
    out.append(text, copied, npos);
    return out;
}
