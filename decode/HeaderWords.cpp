// Encoded words of a header value (=?charset?encoding?text?=): into their
// bytes, the charset never read (DecodeHeaderWords), or into the code page
// by their charsets (DecodeHeaderText); a value in raw UTF-8 without them
// into the code page too (RawHeaderText).
#include "decode/MailDecoder.h"

#include "decode/Base64.h"
#include "decode/Charsets.h"
#include "decode/ScanFields.h"
#include "base/Texts.h"
#include "base/Win1252.h"

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

// How a value's words are decoded.
enum class EWordMode {
    kBytes,     // every word into its bytes, the charset never read
    kConverted, // the same, then the bytes of charsets other than the ISO
                // family converted into the code page
    kWellFormed, // as kConverted, but a word whose encoding name is not B
                 // or Q, or whose base64 is malformed, stays as it stands
};

// The bytes of one word's encoded text; false when the word is malformed,
// with `bytes` then holding what DecodeHeaderWords puts in its place:
// nothing for a malformed base64 text, "<unknown>" for an encoding name
// other than B or Q.
bool DecodeWordText(const std::string& value, size_t encoding, size_t encodingLength, size_t text, size_t textEnd,
                    std::string& bytes)
{
    bytes.clear();
    const char name = encodingLength == 1 ? value[encoding] : '\0';
    if (name == 'q' || name == 'Q') {
        AppendQuoted(bytes, value.data() + text, value.data() + textEnd);
        return true;
    }
    if (name == 'b' || name == 'B') {
        int32_t length = 0;
        const CBase64 base64;
        const auto decoded =
            base64.DecodeBase64Run(value.data() + text, static_cast<int32_t>(textEnd - text), &length);
        if (!decoded)
            return false;
        bytes.append(reinterpret_cast<const char*>(decoded.get()), static_cast<size_t>(length));
        return true;
    }
    bytes = "<unknown>";
    return false;
}

// Whether the bytes of a word in `charset` are converted: never for the ISO
// family, whose words are taken byte for byte, nor for the charsets taken
// as they are.
bool Converts(std::string_view charset)
{
    if (charset.size() >= 4 && w1252::EqualsNoCase(charset.substr(0, 4), "ISO-"))
        return false;
    return CharsetKind(charset) != ECharsetKind::kAsIs;
}

// Bytes of adjacent words in one converted charset, converted together so
// that a character split between two words comes out whole.
class CPendingRun
{
public:
    void Add(std::string& out, std::string_view charset, const std::string& bytes)
    {
        if (!w1252::EqualsNoCase(charset, m_charset))
            Flush(out);
        m_charset = charset;
        m_bytes += bytes;
    }
    void Flush(std::string& out)
    {
        if (!m_bytes.empty())
            out += ToCodePage(m_bytes, m_charset);
        m_bytes.clear();
        m_charset = {};
    }

private:
    std::string_view m_charset;
    std::string m_bytes;
};

std::string DecodeWords(const std::string& value, EWordMode mode, bool* decodedOut)
{
    const size_t n = value.size();
    size_t i = 0;
    while (i < n && decode::IsCSpace(static_cast<unsigned char>(value[i])))
        ++i;

    CWordScanner scanner(value);
    std::string out;
    out.reserve(n);
    CPendingRun run;
    std::string bytes;
    bool decoded = false;
    while (i < n) {
        if (value[i] != '=') {
            // Plain text up to the next '=' is copied as it stands.
            run.Flush(out);
            const void* hit = std::memchr(value.data() + i, '=', n - i);
            const size_t stop = hit ? static_cast<size_t>(static_cast<const char*>(hit) - value.data()) : n;
            out.append(value, i, stop - i);
            i = stop;
            continue;
        }
        size_t encoding = 0, encodingLength = 0, text = 0, textEnd = 0;
        if (!scanner.ReadWord(i, &encoding, &encodingLength, &text, &textEnd)) {
            run.Flush(out);
            out.push_back(value[i]);
            ++i;
            continue;
        }
        const size_t wordEnd = textEnd + 2;
        const bool wellFormed = DecodeWordText(value, encoding, encodingLength, text, textEnd, bytes);
        if (!wellFormed && mode == EWordMode::kWellFormed) {
            run.Flush(out);
            out.append(value, i, wordEnd - i);
            i = wordEnd;
            continue;
        }
        decoded = true;
        const std::string_view charset(value.data() + i + 2, encoding - 1 - (i + 2));
        if (mode != EWordMode::kBytes && wellFormed && Converts(charset)) {
            run.Add(out, charset, bytes);
        } else {
            run.Flush(out);
            out += bytes;
        }

        // White space between two encoded words disappears.
        size_t next = wordEnd;
        while (next < n && decode::IsCSpace(static_cast<unsigned char>(value[next])))
            ++next;
        bool joined = false;
        if (mode == EWordMode::kWellFormed) {
            size_t e = 0, el = 0, t = 0, te = 0;
            std::string scratch;
            joined = scanner.ReadWord(next, &e, &el, &t, &te) && DecodeWordText(value, e, el, t, te, scratch);
        } else {
            joined = scanner.LooksLikeWord(next);
        }
        i = joined ? next : wordEnd;
    }
    run.Flush(out);

    *decodedOut = decoded;
    if (!decoded)
        return value;
    const size_t zero = out.find('\0');
    if (zero != std::string::npos)
        out.resize(zero);
    return out;
}

} // namespace

std::string CMailDecoder::DecodeHeaderWords(std::string value)
{
    bool decoded = false;
    std::string out = DecodeWords(value, EWordMode::kBytes, &decoded);
    if (decoded)
        Write(txt::kLogHeaderWords, true);
    return out;
}

std::string CMailDecoder::DecodeHeaderText(std::string value, bool log)
{
    if (value.find("=?") == std::string::npos)
        return RawHeaderText(std::move(value));
    // Where an ISO word stands, every word is decoded the way it always was;
    // only the bytes of the other charsets are then converted.
    const bool iso = w1252::Upper(value).find("=?ISO-") != std::string::npos;
    bool decoded = false;
    std::string out = DecodeWords(value, iso ? EWordMode::kConverted : EWordMode::kWellFormed, &decoded);
    if (!decoded)
        return RawHeaderText(std::move(out));
    if (log)
        Write(txt::kLogHeaderWords, true);
    return out;
}

std::string CMailDecoder::RawHeaderText(std::string value)
{
    const bool ascii =
        std::all_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii || !w1252::IsUtf8(value))
        return value;
    // Only a value without a single encoded word is raw text.
    CWordScanner scanner(value);
    for (size_t at = value.find("=?"); at != std::string::npos; at = value.find("=?", at + 1)) {
        size_t encoding = 0, encodingLength = 0, text = 0, textEnd = 0;
        if (scanner.ReadWord(at, &encoding, &encodingLength, &text, &textEnd))
            return value;
    }
    return w1252::FromUtf8(value);
}
