// The text handed to a plug-in: a fresh copy of the stored message with the
// preparation steps its Level asks for, in a fixed order. It is not upper-cased.
#include "filter/RuleMatcher.h"
#include "orvelane/plugin.h"
#include "shell/MainDialog.h"

#include <algorithm>

namespace {

void ReplaceBreaks(std::string& text)
{
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\t'; }, ' ');
}

void RemoveBreaks(std::string& text)
{
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n' || c == '\t'; });
}

} // namespace

std::string CMainDialog::PreparePlugInText(std::string text, int32_t level)
{
    const auto bits = static_cast<uint32_t>(level);
    if (bits & ORVELANE_LEVEL_BASE64)
        text = m_mailDecoder.DecodeBase64(std::move(text), false);
    if (bits & ORVELANE_LEVEL_STRIP_HTML)
        text = m_textTools.StripHtml(std::move(text));
    if (bits & ORVELANE_LEVEL_8BIT)
        text = m_mailDecoder.Decode8Bit(std::move(text), false);
    if (bits & ORVELANE_LEVEL_ENTITIES)
        text = m_mailDecoder.DecodeEntities(std::move(text), false);
    if (bits & ORVELANE_LEVEL_QUOTED)
        text = m_mailDecoder.DecodeQuotedPrintable(std::move(text), false);
    if (bits & ORVELANE_LEVEL_BREAKS_TO_SPACE)
        ReplaceBreaks(text);
    if (bits & ORVELANE_LEVEL_REMOVE_BREAKS)
        RemoveBreaks(text);
    if (bits & ORVELANE_LEVEL_SEPARATORS)
        RemoveSeparators(text, false);
    if (bits & ORVELANE_LEVEL_SQUEEZE_SPACES)
        text = m_textTools.SqueezeChar(std::move(text), ' ');
    if (bits & ORVELANE_LEVEL_LOOKALIKES)
        m_mailDecoder.ConvertLookAlikes(text);
    if (bits & ORVELANE_LEVEL_REMOVE_SPACES)
        std::erase(text, ' ');
    return text;
}
