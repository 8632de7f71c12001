// The four body passes: the message decoded with its HTML, then without it,
// then without separators and with look-alikes converted, then with repeated
// characters squeezed. Each pass runs only when the one before found nothing.
#include "filter/BodyPasses.h"

#include "decode/Charsets.h"
#include "decode/MailDecoder.h"
#include "decode/ScanFields.h"
#include "decode/TextTools.h"
#include "base/Texts.h"

namespace {

// The body search of one pass: from just after the first "Status:" on, the
// first entry of the list in list order. On a match the verdict takes the
// entry as searched and the pass's label.
bool Search(std::string_view text, const CRuleMatcher* matcher, const char* label, SBodyVerdict& verdict)
{
    if (!matcher)
        return false;
    const size_t status = decode::FindStatus(text);
    size_t position = 0;
    const int32_t entry = matcher->FirstBodyMatch(text, status == std::string_view::npos ? 0 : status + 7,
                                                  &position);
    if (entry < 0)
        return false;
    verdict.position = static_cast<int32_t>(position);
    verdict.ruleText = matcher->SearchedEntry(entry);
    verdict.label = label;
    return true;
}

// The decoders that follow the base64 step, in their order, then the
// flattening of line breaks and blank runs.
std::string DecodeAndFlatten(CMailDecoder& decoder, const CTextTools& tools, std::string text, bool log)
{
    text = decoder.Decode8Bit(std::move(text), log);
    text = decoder.DecodeEntities(std::move(text), log);
    text = decoder.DecodeQuotedPrintable(std::move(text), log);
    // Parts declared in UTF-8 or another charset, now free of their transfer
    // encoding, into the code page the rules are written in.
    text = ConvertDeclaredCharsets(std::move(text));
    return tools.FlattenBlanks(std::move(text));
}

} // namespace

SBodyVerdict RunBodyPasses(const std::string& message, const SBodyMatchers& matchers, bool debug)
{
    SBodyVerdict verdict;
    CMailDecoder decoder;
    decoder.SetLog(&verdict.log);
    const CTextTools tools;
    auto progress = [&](const char* line) {
        if (debug)
            verdict.log.AddLog(line, true);
    };

    // Passes 2 to 4 search the BODY list; with an empty list they can find
    // nothing and write nothing but their progress lines, so the text work is
    // left out.
    const bool work = matchers.plain != nullptr;

    // Pass 1: decoded, HTML kept; the decoders say what they found. The
    // base64 step gives the same text in pass 2, so it is done once. Without
    // a '<' from the first "Status:" on (where the HTML removal starts),
    // removing the HTML changes nothing and pass 2 would decode exactly what
    // pass 1 decoded: it takes pass 1's text instead.
    progress(txt::kSearchWithHtml);
    std::string base64Decoded = decoder.DecodeBase64(message, true);
    const size_t status = decode::FindStatus(base64Decoded);
    const bool markup = work && base64Decoded.find('<', status == std::string::npos ? 0 : status) != std::string::npos;
    std::string text = DecodeAndFlatten(decoder, tools, markup ? base64Decoded : std::move(base64Decoded), true);
    if (Search(text, matchers.html, txt::kLabelHtml, verdict))
        return verdict;

    // Pass 2: decoded, HTML removed.
    progress(txt::kSearchWithoutHtml);
    if (work) {
        if (markup)
            text = DecodeAndFlatten(decoder, tools, tools.StripHtml(std::move(base64Decoded)), false);
        if (Search(text, matchers.plain, txt::kLabelNoHtml, verdict))
            return verdict;
    }

    // Pass 3: no separators, no blanks, look-alikes converted. The text has
    // no separators left, so the stripped list is searched as it is.
    progress(txt::kRemovingSeparators);
    if (work) {
        RemoveSeparatorsInPlace(text, true);
        decoder.ConvertLookAlikes(text);
    }
    progress(txt::kSearchWithoutSeparators);
    if (work && Search(text, matchers.stripped, txt::kLabelNoSeparators, verdict))
        return verdict;

    // Pass 4: repeated characters squeezed.
    progress(txt::kRemovingRepeats);
    if (work)
        text = tools.SqueezeRepeats(std::move(text));
    progress(txt::kSearchWithoutRepeats);
    if (work)
        Search(text, matchers.stripped, txt::kLabelNoRepeats, verdict);
    return verdict;
}
