#include "Reference.h"

#include "base/Win1252.h"

#include <cstdio>
#include <cstring>

namespace ref {
namespace {

constexpr size_t npos = std::string::npos;

std::string ReplaceAll(std::string text, const std::string& what, const std::string& with)
{
    std::string out;
    size_t from = 0;
    for (;;) {
        const size_t at = text.find(what, from);
        if (at == npos)
            break;
        out += text.substr(from, at - from);
        out += with;
        from = at + what.size();
    }
    out += text.substr(from);
    return out;
}

bool Contains(const std::string& text, const std::string& what) { return text.find(what) != npos; }

int Base64Entry(unsigned char b)
{
    if (b >= 'A' && b <= 'Z')
        return 65;
    if (b >= 'a' && b <= 'z')
        return 71;
    if (b >= '0' && b <= '9')
        return -4;
    if (b == '+')
        return -19;
    if (b == '/')
        return -16;
    if (b == '=')
        return 0;
    return -1;
}

// sscanf "%02X" on the C string that starts at `p`.
bool Hex(const char* p, unsigned* value) { return std::sscanf(p, "%02X", value) == 1; }

} // namespace

bool Base64Run(const std::string& run, std::string* out)
{
    std::vector<unsigned char> buffer(run.size() / 4 + run.size() + 1, 0);
    size_t cur = 0;
    int n = 0;
    for (size_t i = 0; i < run.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(run[i]);
        const int t = Base64Entry(b);
        if (t == -1)
            continue;
        if (b == '=') {
            if (n == 2 && i + 1 < run.size() && run[i + 1] == '=') {
                n = 3;
                continue;
            }
            if (n == 3) {
                n = 0;
                continue;
            }
            return false;
        }
        const unsigned v = static_cast<unsigned char>(b - t);
        if (n == 0) {
            buffer[cur] = static_cast<unsigned char>(v << 2);
            n = 1;
        } else if (n == 1) {
            buffer[cur] = static_cast<unsigned char>(buffer[cur] + (v >> 4));
            buffer[++cur] = static_cast<unsigned char>(v << 4);
            n = 2;
        } else if (n == 2) {
            buffer[cur] = static_cast<unsigned char>(buffer[cur] + (v >> 2));
            buffer[++cur] = static_cast<unsigned char>(v << 6);
            n = 3;
        } else {
            buffer[cur] = static_cast<unsigned char>(buffer[cur] + v);
            ++cur;
            n = 0;
        }
    }
    out->assign(reinterpret_cast<const char*>(buffer.data()), cur);
    return true;
}

std::string DecodeBase64(std::string text, bool* logged)
{
    *logged = false;
    if (!Contains(text, ": base64"))
        return text;
    text = ReplaceAll(text, "\r", "");
    const size_t marker = text.find(": base64");
    size_t start = text.find("\n\n", marker + 8);
    if (start == npos)
        return text;
    start += 2;
    while (start < text.size() && text[start] == '\n')
        ++start;
    size_t end = text.find("\n\n", start + 1);
    if (end == npos)
        end = text.find("\n.\n", start + 1);
    if (end == npos) {
        end = text.find("==", start + 1);
        if (end == npos)
            return text;
        end += 2;
    }
    std::string block = text.substr(start, end - start);
    if (!block.empty() && block.back() == '.')
        block.pop_back();
    std::string decoded;
    if (!Base64Run(block, &decoded))
        decoded.clear();
    decoded = std::string(decoded.c_str());
    std::string after = end + 1 < text.size() ? text.substr(end + 1) : std::string();
    text = text.substr(0, start) + decoded + after;
    text = ReplaceAll(text, ": base64", "");
    *logged = true;
    return text;
}

std::string Decode8Bit(std::string text, int* logs)
{
    *logs = 0;
    const bool has8 = Contains(text, ": 8bit");
    const bool has7 = Contains(text, ": 7bit");
    *logs = (has8 ? 1 : 0) | (has7 ? 2 : 0);
    if (!has8 && !has7)
        return text;
    size_t d = text.find("&#");
    while (d != npos) {
        const size_t semi = text.find(';', d);
        int number = 0;
        if (semi != npos && semi <= d + 6 && std::sscanf(text.c_str() + d + 2, "%d", &number) == 1) {
            const char byte = static_cast<char>(number);
            text.erase(d, semi - d + 1);
            if (byte != 0)
                text.insert(text.begin() + static_cast<std::ptrdiff_t>(d), byte);
        }
        d = text.find("&#", d + 1);
    }
    text = ReplaceAll(text, has7 ? ": 7bit" : ": 8bit", "");
    return text;
}

std::string DecodeQuotedPrintable(std::string text, bool* logged)
{
    *logged = false;
    if (!Contains(text, "charset=iso-8859-1") && !Contains(text, ": quoted-printable"))
        return text;
    *logged = true;
    size_t i = text.find("Status:");
    if (i == npos)
        i = 0;
    std::string out = text.substr(0, i);
    while (i < text.size()) {
        const char c = text[i];
        if (c == '=' && i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n')) {
            ++i;
            while (i < text.size() && (text[i] == '\r' || text[i] == '\n'))
                ++i;
        } else if (c == '%' && i + 1 < text.size() && text[i + 1] == ' ') {
            out += '%';
            ++i;
        } else if (c == '=' || c == '%') {
            unsigned value = 0;
            if (Hex(text.c_str() + i + 1, &value) && value != 0) {
                out += static_cast<char>(value);
                i += 3;
            } else {
                out += c;
                ++i;
            }
        } else {
            out += c;
            ++i;
        }
    }
    out = ReplaceAll(out, "charset=iso-8859-1", "");
    out = ReplaceAll(out, ": quoted-printable", "");
    return out;
}

std::string DecodeHeaderWords(std::string value, bool* logged)
{
    *logged = false;
    const std::string original = value;
    size_t i = 0;
    while (i < value.size() && std::strchr(" \t\n\v\f\r", value[i]) && value[i] != '\0')
        ++i;
    std::string out;
    bool decoded = false;
    while (i < value.size()) {
        char charset[129], encoding[33], rest[129];
        if (value.compare(i, 2, "=?") == 0 &&
            std::sscanf(value.c_str() + i + 2, "%128[^?]?%32[^?]?%128[^ ]", charset, encoding, rest) == 3 &&
            std::strstr(rest, "?=") != nullptr) {
            std::string text(rest, std::strstr(rest, "?=") - rest);
            const size_t length = 6 + std::strlen(charset) + std::strlen(encoding) + text.size();
            decoded = true;
            const std::string name = encoding;
            if (name == "q" || name == "Q") {
                for (size_t j = 0; j < text.size();) {
                    unsigned v = 0;
                    if (text[j] == '_') {
                        out += ' ';
                        ++j;
                    } else if (text[j] == '=' && Hex(text.c_str() + j + 1, &v)) {
                        out += static_cast<char>(v);
                        j += 3;
                    } else {
                        out += text[j];
                        ++j;
                    }
                }
            } else if (name == "b" || name == "B") {
                std::string bytes;
                if (Base64Run(text, &bytes))
                    out += bytes;
            } else {
                out += "<unknown>";
            }
            size_t next = i + length;
            while (next < value.size() && std::strchr(" \t\n\v\f\r", value[next]) && value[next] != '\0')
                ++next;
            char c = 0;
            if (value.compare(next, 2, "=?") == 0 &&
                std::sscanf(value.c_str() + next + 2, "%128[^?]?%32[^?]?%128[^?]?%c", charset, encoding, rest, &c) ==
                    4 &&
                c == '=')
                i = next;
            else
                i += length;
        } else {
            out += value[i];
            ++i;
        }
    }
    if (!decoded)
        return original;
    *logged = true;
    return std::string(out.c_str());
}

std::string DecodeEntities(std::string text, bool* logged);

unsigned char LookAlikeChar(unsigned char c)
{
    auto in = [c](int from, int to) { return c >= from && c <= to; };
    if (c == '0' || in(0xD2, 0xD6) || c == 0xD8 || c == 0xF0 || in(0xF2, 0xF6) || c == 0xF8)
        return 'O';
    if (c == '@' || c == 0xAA || in(0xC0, 0xC6) || in(0xE0, 0xE6))
        return 'A';
    if (in(0xC8, 0xCB) || in(0xE8, 0xEB))
        return 'E';
    if (in(0xCC, 0xCF) || in(0xEC, 0xEF))
        return 'I';
    if (c == 0xB5 || in(0xD9, 0xDC) || in(0xF9, 0xFC))
        return 'U';
    if (in(0x80, 0xA9) || c == 0xE7)
        return 'C';
    if (c == 0xC7 || c == 0xDD || c == 0xFD || c == 0xFF)
        return 'Y';
    if (c == 0xAE)
        return 'R';
    if (c == 0xD0)
        return 'D';
    if (c == 0xDF || c == 0xFE)
        return 'B';
    if (c == 0xD1 || c == 0xF1)
        return 'N';
    if (c == 0xB9)
        return '1';
    if (c == 0xB2)
        return '2';
    if (c == 0xB3)
        return '3';
    return c;
}

std::string ConvertLookAlikes(std::string text)
{
    size_t i = text.find("Status:");
    i = i == npos ? 0 : i + 7;
    for (; i < text.size(); ++i)
        text[i] = static_cast<char>(LookAlikeChar(static_cast<unsigned char>(text[i])));
    return text;
}

int32_t FindNoCase(std::string text, std::string pattern)
{
    const size_t at = w1252::Upper(text).find(w1252::Upper(pattern));
    return at == npos ? -1 : static_cast<int32_t>(at);
}

std::string RemoveFontSpans(std::string text, std::vector<std::string> open, std::vector<std::string> close,
                            int32_t limit)
{
    for (auto& w : open)
        w = w1252::Upper(w);
    for (auto& w : close)
        w = w1252::Upper(w);
    auto holdsAll = [](const std::string& cand, const std::vector<std::string>& words) {
        for (const auto& w : words)
            if (cand.find(w) == npos)
                return false;
        return true;
    };
    auto candidate = [&text](size_t lt, size_t gt) {
        return lt < gt ? w1252::Upper(text.substr(lt, gt - lt + 1)) : std::string();
    };
    size_t cur = text.find("Status:");
    if (cur == npos)
        cur = 0;
    size_t lt = text.find('<', cur);
    if (lt == npos)
        return text;
    for (;;) {
        // step 2
        const size_t gt = text.find('>', cur);
        if (gt == npos)
            return text;
        const std::string cand = candidate(lt, gt);
        // step 3 (an empty candidate opens nothing)
        if (cand.empty() || !holdsAll(cand, open)) {
            cur = gt + 1;
            lt = text.find('<', cur);
            if (lt == npos)
                return text;
            continue;
        }
        // step 4
        if (limit != 0) {
            size_t k = cand.size() - 1;
            while (k > 0 && !(cand[k] >= '0' && cand[k] <= '9'))
                --k;
            int size = 0;
            char rest[4096];
            const std::string from = cand.substr(k, 4000);
            if (std::sscanf(from.c_str(), "%d%s", &size, rest) == 2 && size > limit)
                return text;
        }
        // step 5
        size_t sp = gt + 1;
        size_t lt2 = text.find('<', sp);
        if (lt2 == npos)
            return text;
        bool examined = false;
        bool restart = false;
        for (;;) {
            const size_t gt2 = text.find('>', sp);
            if (gt2 == npos) {
                if (!examined)
                    return text;
                restart = true;
                break;
            }
            const std::string cand2 = candidate(lt2, gt2);
            examined = true;
            if (holdsAll(cand2, close)) {
                text.erase(lt, gt2 - lt + 1);
                cur = lt + 1;
                lt = text.find('<', cur);
                if (lt == npos)
                    return text;
                break;
            }
            sp = gt2 + 1;
            lt2 = text.find('<', sp);
            if (lt2 == npos) {
                restart = true;
                break;
            }
        }
        if (restart) {
            cur = gt + 1;
            lt = text.find('<', cur);
            if (lt == npos)
                return text;
        }
    }
}

std::string StripHtml(std::string text)
{
    size_t cur = text.find("Status:");
    if (cur == npos)
        cur = 0;
    text = RemoveFontSpans(text, {"<font", "font-size"}, {"/font>"}, 7);
    for (;;) {
        const size_t lt = text.find('<', cur);
        const size_t gt = text.find('>', cur);
        if (lt == npos || gt == npos)
            break;
        if (lt < gt)
            text.erase(lt, gt - lt + 1), cur = lt;
        else
            cur = gt + 1;
    }
    return text;
}

std::string SqueezeChar(std::string text, char c)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == c && i > 0 && text[i - 1] == c))
            out += text[i];
    return out;
}

std::string SqueezeRepeats(std::string text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (i + 1 == text.size() || text[i] != text[i + 1])
            out += text[i];
    return out;
}

} // namespace ref

#include "decode/MailDecoder.h"

namespace ref {

std::string DecodeEntities(std::string text, bool* logged)
{
    *logged = false;
    size_t p = text.find('&');
    while (p != std::string::npos) {
        const size_t semi = text.find(';', p);
        if (semi == std::string::npos)
            return text;
        std::string candidate = text.substr(p, semi - p + 1);
        // The blanks are deleted once per candidate: deleting them again for
        // every row gives the same text.
        std::string stripped;
        for (const char c : candidate)
            if (c != ' ')
                stripped += c;
        for (const SEntityRow& row : CMailDecoder::EntityTable) {
            if (stripped == row.name) {
                candidate = text.substr(p, semi - p + 1);
                std::string out;
                size_t from = 0;
                for (;;) {
                    const size_t at = text.find(candidate, from);
                    if (at == std::string::npos)
                        break;
                    out += text.substr(from, at - from);
                    out += row.replacement;
                    from = at + candidate.size();
                }
                text = out + text.substr(from);
                *logged = true;
            }
        }
        p = text.find('&', p + 1);
    }
    return text;
}

} // namespace ref
