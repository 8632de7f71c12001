// Encoded words of a header value (=?charset?encoding?text?=). The charset is
// read but not used: the decoded bytes are taken as they are.
#include "decode/MailDecoder.h"

#include "decode/Base64.h"
#include "decode/ScanFields.h"
#include "base/Texts.h"

#include <algorithm>
#include <cstring>

namespace {

// Field limits of an encoded word: charset, encoding name, rest of the word.
constexpr size_t kCharsetMax = 128;
constexpr size_t kEncodingMax = 32;
constexpr size_t kRestMax = 128;

// Finds the pieces of the encoded words of one value. A field read the way
// "%N[^c]" reads it ends at its stop character, at a NUL byte, at the end of
// the value or after N characters, and holds at least one character.
class CWordScanner
{
public:
    explicit CWordScanner(const std::string& value)
        : m_data(value.data()), m_size(value.size()), m_question1(m_data, m_size, '?'),
          m_question2(m_data, m_size, '?'), m_question3(m_data, m_size, '?'), m_blank(m_data, m_size, ' '),
          m_nul1(m_data, m_size, '\0'), m_nul2(m_data, m_size, '\0'), m_nul3(m_data, m_size, '\0'),
          m_closer(m_data, m_size, '?')
    {
    }

    bool StartsWord(size_t at) const { return at + 1 < m_size && m_data[at] == '=' && m_data[at + 1] == '?'; }

    // "=?" at `at`, then "%128[^?]?%32[^?]?%128[^ ]" whose last field holds
    // "?=". On success, the encoded text is [*text, *textEnd) and the word
    // ends at *textEnd + 2; *encoding points at the encoding name.
    bool ReadWord(size_t at, size_t* encoding, size_t* encodingLength, size_t* text, size_t* textEnd)
    {
        size_t rest = 0;
        if (!StartsWord(at) || !ReadHead(at + 2, encoding, encodingLength, &rest))
            return false;
        const size_t restEnd = std::min({m_blank.From(rest), m_nul3.From(rest), rest + kRestMax});
        if (restEnd == rest)
            return false;
        const size_t closer = FindCloser(rest);
        if (closer + 2 > restEnd)
            return false;
        *text = rest;
        *textEnd = closer;
        return true;
    }

    // "=?" at `at`, then "%128[^?]?%32[^?]?%128[^?]?%c" with '=' read by %c.
    bool LooksLikeWord(size_t at)
    {
        size_t encoding = 0, encodingLength = 0, third = 0;
        if (!StartsWord(at) || !ReadHead(at + 2, &encoding, &encodingLength, &third))
            return false;
        const size_t question = ReadField(third, kRestMax, m_question3, m_nul3);
        return question != npos && question + 1 < m_size && m_data[question + 1] == '=';
    }

private:
    static constexpr size_t npos = std::string::npos;

    // Charset and encoding name with their '?' separators, from `from`;
    // *rest is where the third field starts.
    bool ReadHead(size_t from, size_t* encoding, size_t* encodingLength, size_t* rest)
    {
        const size_t q1 = ReadField(from, kCharsetMax, m_question1, m_nul1);
        if (q1 == npos)
            return false;
        const size_t q2 = ReadField(q1 + 1, kEncodingMax, m_question2, m_nul2);
        if (q2 == npos)
            return false;
        *encoding = q1 + 1;
        *encodingLength = q2 - q1 - 1;
        *rest = q2 + 1;
        return true;
    }

    // A "%N[^?]" field from `from` followed by the '?' the format asks for:
    // returns the position of that '?', or npos when the field is empty, longer
    // than `max` or not followed by '?'.
    size_t ReadField(size_t from, size_t max, decode::CNextByte& question, decode::CNextByte& nul)
    {
        if (from >= m_size)
            return npos;
        const size_t q = question.From(from);
        if (q >= m_size || nul.From(from) < q)
            return npos;
        const size_t length = q - from;
        if (length == 0 || length > max)
            return npos;
        return q;
    }

    // First "?=" starting at or after `from`, or m_size.
    size_t FindCloser(size_t from)
    {
        if (from < m_closerFrom || from > m_closerAt) {
            size_t q = m_closer.From(from);
            while (q + 1 < m_size && m_data[q + 1] != '=')
                q = m_closer.From(q + 1);
            m_closerFrom = from;
            m_closerAt = q + 1 < m_size ? q : m_size;
        }
        return m_closerAt;
    }

    const char* m_data;
    size_t m_size;
    decode::CNextByte m_question1, m_question2, m_question3, m_blank, m_nul1, m_nul2, m_nul3, m_closer;
    size_t m_closerFrom = 1;
    size_t m_closerAt = 0;
};

void AppendQuoted(std::string& out, const char* text, const char* end)
{
    while (text < end) {
        const char c = *text;
        if (c == '_') {
            out.push_back(' ');
            ++text;
        } else if (c == '=') {
            uint32_t value = 0;
            if (decode::ScanHex2(text + 1, end, &value)) {
                out.push_back(static_cast<char>(value & 0xFF));
                text += std::min<ptrdiff_t>(3, end - text);
            } else {
                out.push_back('=');
                ++text;
            }
        } else {
            out.push_back(c);
            ++text;
        }
    }
}

} // namespace

std::string CMailDecoder::DecodeHeaderWords(std::string value)
{
    const size_t n = value.size();
    size_t i = 0;
    while (i < n && decode::IsCSpace(static_cast<unsigned char>(value[i])))
        ++i;

    CWordScanner scanner(value);
    std::string out;
    out.reserve(n);
    bool decoded = false;
    while (i < n) {
        if (value[i] != '=') {
            // Plain text up to the next '=' is copied as it stands.
            const void* hit = std::memchr(value.data() + i, '=', n - i);
            const size_t stop = hit ? static_cast<size_t>(static_cast<const char*>(hit) - value.data()) : n;
            out.append(value, i, stop - i);
            i = stop;
            continue;
        }
        size_t encoding = 0, encodingLength = 0, text = 0, textEnd = 0;
        if (!scanner.ReadWord(i, &encoding, &encodingLength, &text, &textEnd)) {
            out.push_back(value[i]);
            ++i;
            continue;
        }
        decoded = true;
        const char name = encodingLength == 1 ? value[encoding] : '\0';
        if (name == 'q' || name == 'Q') {
            AppendQuoted(out, value.data() + text, value.data() + textEnd);
        } else if (name == 'b' || name == 'B') {
            int32_t length = 0;
            const CBase64 base64;
            const auto bytes =
                base64.DecodeBase64Run(value.data() + text, static_cast<int32_t>(textEnd - text), &length);
            if (bytes)
                out.append(reinterpret_cast<const char*>(bytes.get()), static_cast<size_t>(length));
        } else {
            out += "<unknown>";
        }

        // White space between two encoded words disappears.
        const size_t wordEnd = textEnd + 2;
        size_t next = wordEnd;
        while (next < n && decode::IsCSpace(static_cast<unsigned char>(value[next])))
            ++next;
        i = scanner.LooksLikeWord(next) ? next : wordEnd;
    }

    if (!decoded)
        return value;
    const size_t zero = out.find('\0');
    if (zero != std::string::npos)
        out.resize(zero);
    Write(txt::kLogHeaderWords, true);
    return out;
}
