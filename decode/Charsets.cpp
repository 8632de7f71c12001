#include "decode/Charsets.h"

#include "base/Win1252.h"
#include "decode/ByteSearch.h"

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <algorithm>

namespace {

// A charset name without quotes, blanks and language suffix.
std::string_view Bare(std::string_view name)
{
    while (!name.empty() && (name.front() == '"' || name.front() == '\'' || name.front() == ' '))
        name.remove_prefix(1);
    if (const size_t cut = name.find_first_of("*\"' "); cut != std::string_view::npos)
        name = name.substr(0, cut);
    return name;
}

// Names taken byte for byte that the Qt converters would decode otherwise
// (US-ASCII into U+FFFD for every byte from 0x80 on).
constexpr std::string_view kAsIsNames[] = {"US-ASCII", "ASCII", "ANSI_X3.4-1968", "WINDOWS-1252", "CP1252",
                                           "X-CP1252"};

} // namespace

ECharsetKind CharsetKind(std::string_view name)
{
    name = Bare(name);
    if (name.empty())
        return ECharsetKind::kAsIs;
    for (std::string_view asIs : kAsIsNames)
        if (w1252::EqualsNoCase(name, asIs))
            return ECharsetKind::kAsIs;
    const std::string zeroEnded(name);
    if (const auto builtIn = QStringConverter::encodingForName(zeroEnded.c_str())) {
        if (*builtIn == QStringConverter::Utf8)
            return ECharsetKind::kUtf8;
        if (*builtIn == QStringConverter::Latin1 || *builtIn == QStringConverter::System)
            return ECharsetKind::kAsIs;
        return ECharsetKind::kOther;
    }
    return QStringDecoder(zeroEnded.c_str()).isValid() ? ECharsetKind::kOther : ECharsetKind::kAsIs;
}

std::string ToCodePage(std::string_view bytes, std::string_view name)
{
    switch (CharsetKind(name)) {
    case ECharsetKind::kUtf8:
        return w1252::FromUtf8(bytes);
    case ECharsetKind::kOther: {
        const std::string zeroEnded(Bare(name));
        QStringDecoder decoder(zeroEnded.c_str(), QStringConverter::Flag::Stateless);
        const QString text = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
        return w1252::FromQString(text);
    }
    case ECharsetKind::kAsIs:
        break;
    }
    return std::string(bytes);
}

namespace {

constexpr size_t kMaxCharsetName = 64;

// The next "charset=" (any case) at or after `from`: the position of its
// 'c' and the name that follows it; npos when there is none.
size_t FindDeclaration(std::string_view text, size_t from, std::string_view* name)
{
    constexpr std::string_view kWord = "charset=";
    // Candidates are a 't' of either case followed by '='.
    for (size_t t = from + kWord.size() - 2;
         (t = decode::FindPair(text.data(), t, text.size(), 't', 1, '=', 0x20)) != std::string_view::npos; ++t) {
        const size_t eq = t + 1;
        const size_t at = eq + 1 - kWord.size();
        if (w1252::EqualsNoCase(text.substr(at, kWord.size() - 1), kWord.substr(0, kWord.size() - 1))) {
            size_t start = eq + 1;
            if (start < text.size() && (text[start] == '"' || text[start] == '\''))
                ++start;
            size_t end = start;
            while (end < text.size() && end - start < kMaxCharsetName &&
                   std::string_view("\"';, \t\r\n").find(text[end]) == std::string_view::npos)
                ++end;
            *name = text.substr(start, end - start);
            return at;
        }
    }
    return std::string_view::npos;
}

size_t LineStart(std::string_view text, size_t at)
{
    const size_t lf = at == 0 ? std::string_view::npos : text.rfind('\n', at - 1);
    return lf == std::string_view::npos ? 0 : lf + 1;
}

size_t NextLine(std::string_view text, size_t at)
{
    const size_t lf = text.find('\n', at);
    return lf == std::string_view::npos ? text.size() : lf + 1;
}

// Start of the first line at or after the line start `from` that begins with "--".
size_t NextBoundary(std::string_view text, size_t from)
{
    if (text.substr(from, 2) == "--")
        return from;
    const size_t hit = text.find("\n--", from);
    return hit == std::string_view::npos ? text.size() : hit + 1;
}

} // namespace

std::string ConvertDeclaredCharsets(std::string text)
{
    const std::string_view view(text);
    std::string_view name;
    size_t declaration = FindDeclaration(view, 0, &name);
    if (declaration == std::string_view::npos)
        return text;

    std::string out;
    size_t copied = 0;
    while (declaration != std::string_view::npos) {
        const size_t start = NextLine(view, declaration);
        std::string_view nextName;
        const size_t next = FindDeclaration(view, start, &nextName);
        // Most mail declares a charset taken as it is: its stretch is not
        // even measured.
        if (CharsetKind(name) != ECharsetKind::kAsIs) {
            const size_t end = std::min(NextBoundary(view, start),
                                        next == std::string_view::npos ? view.size() : LineStart(view, next));
            if (end > start) {
                out.append(view.substr(copied, start - copied));
                out += ToCodePage(view.substr(start, end - start), name);
                copied = end;
            }
        }
        declaration = next;
        name = nextName;
    }
    if (copied == 0)
        return text;
    out.append(view.substr(copied));
    return out;
}
