// The body decoders driven by transfer-encoding markers found anywhere in the
// message text.
#include "decode/MailDecoder.h"

#include "decode/Base64.h"
#include "decode/ScanFields.h"
#include "base/Texts.h"

#include <algorithm>

namespace {

constexpr std::string_view kBase64Marker = ": base64";
constexpr std::string_view k8BitMarker = ": 8bit";
constexpr std::string_view k7BitMarker = ": 7bit";
constexpr std::string_view kLatin1Marker = "charset=iso-8859-1";
constexpr std::string_view kQuotedMarker = ": quoted-printable";

constexpr size_t npos = std::string::npos;

} // namespace

void CMailDecoder::Write(const char* text, bool log)
{
    if (log && m_pLog)
        m_pLog->AddLog(text, true);
}

std::string CMailDecoder::DecodeBase64(std::string text, bool log)
{
    if (decode::FindText(text, kBase64Marker) == npos)
        return text;
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());

    // Taking the carriage returns out can only bring a marker forward.
    const size_t marker = decode::FindText(text, kBase64Marker);
    const size_t blank = decode::FindText(text, "\n\n", marker + kBase64Marker.size());
    if (blank == npos)
        return text;
    size_t start = blank + 2;
    while (start < text.size() && text[start] == '\n')
        ++start;

    size_t end = decode::FindText(text, "\n\n", start + 1);
    if (end == npos)
        end = decode::FindText(text, "\n.\n", start + 1);
    if (end == npos) {
        end = decode::FindText(text, "==", start + 1);
        if (end == npos)
            return text;
        end += 2;
    }

    size_t blockLength = end - start;
    if (blockLength > 0 && text[start + blockLength - 1] == '.')
        --blockLength;
    int32_t length = 0;
    const CBase64 base64;
    const auto decoded = base64.DecodeBase64Run(text.data() + start, static_cast<int32_t>(blockLength), &length);
    size_t decodedLength = 0;
    if (decoded) {
        const auto* zero = std::find(decoded.get(), decoded.get() + length, 0);
        decodedLength = static_cast<size_t>(zero - decoded.get());
    }

    // The character at the end of the block (a line feed of the terminator, or
    // the one after the pad) goes with the block.
    std::string result;
    const size_t tail = std::min(end + 1, text.size());
    result.reserve(start + decodedLength + (text.size() - tail));
    result.append(text, 0, start);
    result.append(reinterpret_cast<const char*>(decoded.get()), decodedLength);
    result.append(text, tail, npos);

    decode::EraseAll(result, kBase64Marker);
    Write(txt::kLogBase64, log);
    return result;
}

std::string CMailDecoder::Decode8Bit(std::string text, bool log)
{
    const decode::SBitMarkers markers = decode::FindBitMarkers(text);
    const bool has8Bit = markers.has8Bit;
    const bool has7Bit = markers.has7Bit;
    if (has8Bit)
        Write(txt::kLog8Bit, log);
    if (has7Bit)
        Write(txt::kLog7Bit, log);
    if (!has8Bit && !has7Bit)
        return text;

    size_t d = decode::FindText(text, "&#");
    if (d != npos) {
        // The text before `out` is final; scanning goes on in the untouched rest.
        std::string out;
        out.reserve(text.size());
        size_t copied = 0;
        const size_t n = text.size();
        while (d != npos) {
            // Only a ';' within six characters of the '&' counts, so the search
            // for it stops there.
            const size_t limit = std::min(d + 7, n);
            size_t semi = d + 2;
            while (semi < limit && text[semi] != ';')
                ++semi;
            int32_t number = 0;
            if (semi < limit && decode::ScanDecimal(text.data() + d + 2, text.data() + semi, &number)) {
                out.append(text, copied, d - copied);
                const auto byte = static_cast<unsigned char>(static_cast<uint32_t>(number) & 0xFF);
                size_t resume = semi + 1;
                if (byte != 0) {
                    out.push_back(static_cast<char>(byte));
                } else if (resume < n) {
                    // The reference vanished: the byte that moved into its place
                    // is passed by the search that starts one further on.
                    out.push_back(text[resume]);
                    ++resume;
                }
                copied = resume;
                d = resume < n ? decode::FindText(text, "&#", resume) : npos;
            } else {
                d = decode::FindText(text, "&#", d + 1);
            }
        }
        out.append(text, copied, npos);
        text.swap(out);
    }

    decode::EraseAll(text, has7Bit ? k7BitMarker : k8BitMarker);
    return text;
}

std::string CMailDecoder::DecodeQuotedPrintable(std::string text, bool log)
{
    if (!decode::ContainsMarker(text, kLatin1Marker) && !decode::ContainsMarker(text, kQuotedMarker))
        return text;
    Write(txt::kLogQuotedPrintable, log);

    size_t i = decode::FindStatus(text);
    if (i == npos)
        i = 0;
    const size_t n = text.size();
    const char* data = text.data();
    std::string out;
    out.reserve(n);
    out.append(text, 0, i);
    while (i < n) {
        // Copy the plain stretch up to the next escape character in one go.
        const size_t plain = decode::FindEither(data, i, n, '=', '%');
        out.append(data + i, plain - i);
        i = plain;
        if (i >= n)
            break;
        const char c = data[i];
        if (c == '=' && i + 1 < n && (data[i + 1] == '\r' || data[i + 1] == '\n')) {
            ++i;
            while (i < n && (data[i] == '\r' || data[i] == '\n'))
                ++i;
            continue;
        }
        if (c == '%' && i + 1 < n && data[i + 1] == ' ') {
            out.push_back('%');
            ++i;
            continue;
        }
        uint32_t value = 0;
        if (decode::ScanHex2(data + i + 1, data + n, &value) && value != 0) {
            out.push_back(static_cast<char>(value & 0xFF));
            i = std::min(i + 3, n);
        } else {
            out.push_back(c);
            ++i;
        }
    }

    decode::EraseAll(out, kLatin1Marker);
    decode::EraseAll(out, kQuotedMarker);
    return out;
}
