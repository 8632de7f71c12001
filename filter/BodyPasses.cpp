// The four body passes: the message decoded with its HTML, then without it,
// then without separators and with look-alikes converted, then with repeated
// characters squeezed. Each pass runs only when the one before found nothing.
#include "shell/MainDialog.h"
#include "shell/Texts.h"


namespace {

// CR, LF and TAB become blanks, and every run of blanks one blank: the
// replacement followed by SqueezeChar with the blank, in one pass.
// Every byte is stored and the write position moves on unless the byte is
// a blank after a blank, which keeps the loop free of data-dependent branches.
struct FlattenTables {
    unsigned char flat[256];  // CR, LF and TAB as a blank, every other byte itself
    unsigned char blank[256]; // 1 for the blank and the bytes that become one
    constexpr FlattenTables() : flat(), blank()
    {
        for (int c = 0; c < 256; ++c) {
            const bool b = c == ' ' || c == '\r' || c == '\n' || c == '\t';
            flat[c] = static_cast<unsigned char>(b ? ' ' : c);
            blank[c] = b ? 1 : 0;
        }
    }
};
constexpr FlattenTables kFlatten;

std::string Flatten(std::string text)
{
    char* const begin = text.data();
    char* out = begin;
    size_t previousBlank = 0;
    for (const char* in = begin, *end = begin + text.size(); in != end; ++in) {
        const auto c = static_cast<unsigned char>(*in);
        const size_t blank = kFlatten.blank[c];
        *out = static_cast<char>(kFlatten.flat[c]);
        out += 1 - (blank & previousBlank);
        previousBlank = blank;
    }
    text.resize(static_cast<size_t>(out - begin));
    return text;
}

} // namespace

int32_t CMainDialog::AnalyseBody(CMailRecord* record)
{
    if (!record)
        return -1;
    const std::string& message = AnalysisText(record);

    // Pass 1: decoded, HTML kept; the decoders say what they found.
    if (m_bDebug)
        AddLog(txt::kSearchWithHtml, true);
    {
        std::string text = m_mailDecoder.DecodeBase64(message, true);
        text = m_mailDecoder.Decode8Bit(std::move(text), true);
        text = m_mailDecoder.DecodeEntities(std::move(text), true);
        text = m_mailDecoder.DecodeQuotedPrintable(std::move(text), true);
        text = Flatten(std::move(text));
        const int32_t found = SearchPreparedBody(text, record, m_bodyHtmlList, false);
        if (found != -1) {
            record->m_strFilterLabel = txt::kLabelHtml;
            return found;
        }
    }

    // Passes 2 to 4 search the BODY list; with an empty list they can find
    // nothing and write nothing but their debug lines, so the text work is
    // left out.
    const bool work = !m_bodyList.empty();
    std::string text;

    // Pass 2: decoded, HTML removed.
    if (m_bDebug)
        AddLog(txt::kSearchWithoutHtml, true);
    if (work) {
        text = m_mailDecoder.DecodeBase64(message, false);
        text = m_textTools.StripHtml(std::move(text));
        text = m_mailDecoder.Decode8Bit(std::move(text), false);
        text = m_mailDecoder.DecodeEntities(std::move(text), false);
        text = m_mailDecoder.DecodeQuotedPrintable(std::move(text), false);
        text = Flatten(std::move(text));
        const int32_t found = SearchPreparedBody(text, record, m_bodyList, false);
        if (found != -1) {
            record->m_strFilterLabel = txt::kLabelNoHtml;
            return found;
        }
    }

    // Pass 3: no separators, no blanks, look-alikes converted.
    if (m_bDebug)
        AddLog(txt::kRemovingSeparators, true);
    if (work) {
        RemoveSeparators(text, true);
        m_mailDecoder.ConvertLookAlikes(text);
    }
    if (m_bDebug)
        AddLog(txt::kSearchWithoutSeparators, true);
    if (work) {
        // The text has no separators left, so the search's own stripping
        // would change nothing.
        const int32_t found = SearchPreparedBody(text, record, m_bodyList, true);
        if (found != -1) {
            record->m_strFilterLabel = txt::kLabelNoSeparators;
            return found;
        }
    }

    // Pass 4: repeated characters squeezed.
    if (m_bDebug)
        AddLog(txt::kRemovingRepeats, true);
    if (work)
        text = m_textTools.SqueezeRepeats(std::move(text));
    if (m_bDebug)
        AddLog(txt::kSearchWithoutRepeats, true);
    if (work) {
        const int32_t found = SearchPreparedBody(text, record, m_bodyList, true);
        if (found != -1) {
            record->m_strFilterLabel = txt::kLabelNoRepeats;
            return found;
        }
    }
    return -1;
}
