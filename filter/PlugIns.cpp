// Loading the plug-ins before each run, asking them about a message, and the
// text each is handed: a fresh copy of the stored message with the
// preparation steps its Level asks for, in a fixed order, not upper-cased.
#include "filter/PlugIns.h"

#include "base/Format.h"
#include "base/Texts.h"
#include "filter/RuleMatcher.h"
#include "orvelane/plugin.h"

#include <algorithm>
#include <memory>

namespace {

void ReplaceBreaks(std::string& text)
{
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\t'; }, ' ');
}

void RemoveBreaks(std::string& text)
{
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n' || c == '\t'; });
}

} // namespace

void CPlugIns::Load()
{
    m_plugIns.clear();
    for (const std::string& path : m_settings.m_plugInNames) {
        auto plugIn = std::make_unique<CPlugIn>();
        if (!plugIn->Load(path))
            continue; // destroyed here, which releases the library
        const std::string name = plugIn->GetName();
        m_plugIns.append(std::move(plugIn));
        m_log.AddLog(StrFormat(txt::kPlugInLoaded, name.c_str()), true);
    }
}

bool CPlugIns::Run(CMailRecord* record, const RuleList& bodyRules, const std::string& server,
                   const std::string& user)
{
    if (m_plugIns.empty() || !record)
        return false;
    std::string rules;
    bool first = true;
    for (const std::string* entry : bodyRules) {
        if (!first)
            rules += '|';
        rules += *entry;
        first = false;
    }
    for (CPlugIn* plugIn : m_plugIns) {
        const std::string text = PrepareText(record->m_pszText, plugIn->GetLevel());
        m_log.AddLog(StrFormat(txt::kPlugInAnalysing, plugIn->GetName().c_str()), true);
        if (plugIn->CallAnalyse(text.c_str(), rules.c_str(), server.c_str(), user.c_str(),
                                m_pWindow, m_nSetLogMessage)) {
            record->m_strRuleText = plugIn->GetName();
            record->m_strFilterLabel = plugIn->GetName();
            return true;
        }
    }
    return false;
}

std::string CPlugIns::PrepareText(std::string text, int32_t level)
{
    const auto bits = static_cast<uint32_t>(level);
    if (bits & ORVELANE_LEVEL_BASE64)
        text = m_decoder.DecodeBase64(std::move(text), false);
    if (bits & ORVELANE_LEVEL_STRIP_HTML)
        text = m_tools.StripHtml(std::move(text));
    if (bits & ORVELANE_LEVEL_8BIT)
        text = m_decoder.Decode8Bit(std::move(text), false);
    if (bits & ORVELANE_LEVEL_ENTITIES)
        text = m_decoder.DecodeEntities(std::move(text), false);
    if (bits & ORVELANE_LEVEL_QUOTED)
        text = m_decoder.DecodeQuotedPrintable(std::move(text), false);
    if (bits & ORVELANE_LEVEL_BREAKS_TO_SPACE)
        ReplaceBreaks(text);
    if (bits & ORVELANE_LEVEL_REMOVE_BREAKS)
        RemoveBreaks(text);
    if (bits & ORVELANE_LEVEL_SEPARATORS)
        RemoveSeparatorsInPlace(text, false);
    if (bits & ORVELANE_LEVEL_SQUEEZE_SPACES)
        text = m_tools.SqueezeChar(std::move(text), ' ');
    if (bits & ORVELANE_LEVEL_LOOKALIKES)
        m_decoder.ConvertLookAlikes(text);
    if (bits & ORVELANE_LEVEL_REMOVE_SPACES)
        std::erase(text, ' ');
    return text;
}
