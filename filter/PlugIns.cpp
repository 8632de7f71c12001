// Loading the plug-ins before each run, asking them about a message, and the
// text each is handed: a fresh copy of the stored message with the
// preparation steps its Level asks for, in a fixed order, not upper-cased
// (second-version plug-ins get the message as it came).
#include "filter/PlugIns.h"

#include "base/Format.h"
#include "base/Paths.h"
#include "base/Texts.h"
#include "base/Win1252.h"
#include "filter/RuleMatcher.h"
#include "orvelane/plugin.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <unistd.h>

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

std::string ProgramFolder()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : program.parent_path().string();
}

// The name a plug-in is listed under: what follows the last separator.
std::string BaseName(const std::string& path)
{
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The prefix of its options: the name without ".so".
std::string OptionPrefix(const std::string& name)
{
    std::string base = BaseName(name);
    if (base.size() > 3 && base.ends_with(".so"))
        base.resize(base.size() - 3);
    return base;
}

// "7.3/5.0: BAYES_99,HTML_MESSAGE", "Eicar-Test FOUND", or "".
std::string Detail(const SPlugInVerdict& verdict)
{
    std::string detail;
    if (verdict.hasScore)
        detail = StrFormat("%.1f/%.1f", verdict.score, verdict.threshold);
    if (!verdict.reason.empty())
        detail += (detail.empty() ? "" : ": ") + verdict.reason;
    return detail;
}

} // namespace

std::string PreparePlugInText(std::string text, int32_t level, CMailDecoder& decoder, const CTextTools& tools)
{
    const auto bits = static_cast<uint32_t>(level);
    if (bits & ORVELANE_LEVEL_BASE64)
        text = decoder.DecodeBase64(std::move(text), false);
    if (bits & ORVELANE_LEVEL_STRIP_HTML)
        text = tools.StripHtml(std::move(text));
    if (bits & ORVELANE_LEVEL_8BIT)
        text = decoder.Decode8Bit(std::move(text), false);
    if (bits & ORVELANE_LEVEL_ENTITIES)
        text = decoder.DecodeEntities(std::move(text), false);
    if (bits & ORVELANE_LEVEL_QUOTED)
        text = decoder.DecodeQuotedPrintable(std::move(text), false);
    if (bits & ORVELANE_LEVEL_BREAKS_TO_SPACE)
        ReplaceBreaks(text);
    if (bits & ORVELANE_LEVEL_REMOVE_BREAKS)
        RemoveBreaks(text);
    if (bits & ORVELANE_LEVEL_SEPARATORS)
        RemoveSeparatorsInPlace(text, false);
    if (bits & ORVELANE_LEVEL_SQUEEZE_SPACES)
        text = tools.SqueezeChar(std::move(text), ' ');
    if (bits & ORVELANE_LEVEL_LOOKALIKES)
        decoder.ConvertLookAlikes(text);
    if (bits & ORVELANE_LEVEL_REMOVE_SPACES)
        std::erase(text, ' ');
    return text;
}

CPlugIns::CPlugIns(ILogSink& log, const CSettings& settings, CMailDecoder& decoder, const CTextTools& tools)
    : m_log(log), m_settings(settings), m_decoder(decoder), m_tools(tools)
{
    if (const std::string folder = ProgramFolder(); !folder.empty())
        m_searchFolders = {folder + "/plugins", folder + "/../lib/orvelane/plugins"};
}

void CPlugIns::SetWindow(OrvelaneWindow* window, uint32_t setLogMessage)
{
    m_pWindow = window;
    m_nSetLogMessage = setLogMessage;
    m_runner.SetOuterWindow(window, setLogMessage);
}

std::string PlugInOptionPrefix(const std::string& configured)
{
    return OptionPrefix(configured);
}

std::vector<std::string> CPlugIns::Installed() const
{
    std::vector<std::string> names;
    for (const std::string& folder : m_searchFolders) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            const std::string file = entry.path().filename().string();
            if (file.size() > 3 && file.ends_with(".so") && entry.is_regular_file(error))
                names.push_back(file.substr(0, file.size() - 3));
        }
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::string CPlugIns::Resolve(const std::string& name) const
{
    if (name.empty() || name.find('/') != std::string::npos)
        return name;
    for (const std::string& folder : m_searchFolders)
        for (const std::string& candidate : {folder + "/" + name, folder + "/" + name + ".so"})
            if (::access(candidate.c_str(), R_OK) == 0)
                return candidate;
    return name;
}

std::string CPlugIns::SettingsSignature() const
{
    std::string signature = std::to_string(m_settings.m_nPlugInSeconds);
    for (const std::string& name : m_settings.m_plugInNames)
        signature += '\n' + name;
    for (const auto& [key, value] : m_settings.m_plugInOptions)
        signature += '\n' + key + '=' + value;
    return signature;
}

void CPlugIns::Load()
{
    LoadAll(true);
}

void CPlugIns::LoadAhead()
{
    if (!m_bLoaded || m_strLoadedFrom != SettingsSignature())
        LoadAll(false);
}

void CPlugIns::LoadAll(bool log)
{
    m_plugIns.clear();
    m_bLoaded = true;
    m_strLoadedFrom = SettingsSignature();
    m_runner.SetTimeout(int64_t(std::max(m_settings.m_nPlugInSeconds, 1)) * 1000);
    const std::string folder = CurrentDirectory();
    for (const std::string& configured : m_settings.m_plugInNames) {
        auto plugIn = std::make_unique<CPlugIn>();
        if (!plugIn->Load(Resolve(configured), BaseName(configured)))
            continue; // destroyed here, which releases the library
        const std::string name = plugIn->GetName();
        // Its own lines of the settings, without the prefix.
        const std::string prefix = OptionPrefix(name) + ".";
        std::vector<OrvelaneOption> options;
        for (const auto& [key, value] : m_settings.m_plugInOptions)
            if (key.size() > prefix.size() && w1252::EqualsNoCase(std::string_view(key).substr(0, prefix.size()), prefix))
                options.push_back({key.c_str() + prefix.size(), value.c_str()});
        OrvelaneConfig config{};
        config.size = sizeof config;
        config.name = name.c_str();
        config.options = options.data();
        config.optionCount = static_cast<uint32_t>(options.size());
        config.configFolder = folder.c_str();
        config.timeoutMs = static_cast<uint32_t>(std::clamp(m_settings.m_nPlugInSeconds, 1, 86400)) * 1000u;
        config.window = m_runner.Window();
        config.setLogMessage = m_nSetLogMessage;
        std::string error;
        if (!plugIn->Open(config, error)) {
            if (log)
                m_log.AddLog(StrFormat(txt::kPlugInOpenFailed, name.c_str(), error.c_str()), true);
            continue;
        }
        m_plugIns.append(std::move(plugIn));
        if (log)
            m_log.AddLog(StrFormat(txt::kPlugInLoaded, name.c_str()), true);
    }
}

std::string CPlugIns::JoinRules(const RuleList& bodyRules)
{
    std::string rules;
    bool first = true;
    for (const std::string* entry : bodyRules) {
        if (!first)
            rules += '|';
        rules += *entry;
        first = false;
    }
    return rules;
}

std::shared_ptr<CPlugInChain> CPlugIns::MakeChain(const std::string& text, const std::string& rules,
                                                  const std::string& server, const std::string& user) const
{
    auto chain = std::make_shared<CPlugInChain>();
    for (const CPlugIn* plugIn : m_plugIns)
        if (plugIn->Judges())
            chain->m_calls.push_back({plugIn->Library(), plugIn->GetName()});
    if (chain->m_calls.empty())
        return nullptr;
    chain->m_strText = text;
    chain->m_strRules = rules;
    chain->m_strServer = server;
    chain->m_strUser = user;
    chain->m_strSignature = m_strLoadedFrom;
    return chain;
}

bool CPlugIns::Fits(const CPlugInChain& chain, const std::string& text, const std::string& rules,
                    const std::string& server, const std::string& user) const
{
    if (chain.m_strSignature != m_strLoadedFrom || chain.m_strText != text || chain.m_strRules != rules ||
        chain.m_strServer != server || chain.m_strUser != user)
        return false;
    // The same plug-ins in the same order (a library loaded again is the same).
    size_t i = 0;
    for (const CPlugIn* plugIn : m_plugIns) {
        if (!plugIn->Judges())
            continue;
        if (i >= chain.m_calls.size() || chain.m_calls[i].name != plugIn->GetName() ||
            chain.m_calls[i].library->handle != plugIn->Library()->handle)
            return false;
        ++i;
    }
    return i == chain.m_calls.size();
}

bool CPlugIns::Run(CMailRecord* record, const RuleList& bodyRules, const std::string& server,
                   const std::string& user)
{
    if (m_plugIns.empty() || !record)
        return false;
    std::shared_ptr<CPlugInChain> chain = MakeChain(record->m_pszText, JoinRules(bodyRules), server, user);
    if (!chain)
        return false;
    m_runner.Wait(chain);
    return Apply(record, *chain).spam;
}

SPlugInResult CPlugIns::Apply(CMailRecord* record, CPlugInChain& chain)
{
    SPlugInResult result;
    const int32_t seconds = std::max(m_settings.m_nPlugInSeconds, 1);
    for (SPlugInOutcome& outcome : chain.TakeOutcomes()) {
        const char* name = outcome.name.c_str();
        if (outcome.fault == SPlugInOutcome::kLeftOut)
            continue; // said once, when it timed out
        m_log.AddLog(StrFormat(txt::kPlugInAnalysing, name), true);
        outcome.log.ReplayTo(m_log);
        if (outcome.fault == SPlugInOutcome::kTimedOut) {
            m_log.AddLog(StrFormat(txt::kPlugInTimedOut, name, seconds), true);
            continue;
        }
        const std::string detail = Detail(outcome.verdict);
        if (outcome.checked) {
            switch (outcome.verdict.verdict) {
            case ORVELANE_HAM:
                m_log.AddLog(StrFormat(txt::kPlugInHam, name, detail.c_str()), true);
                break;
            case ORVELANE_UNSURE:
                m_log.AddLog(StrFormat(txt::kPlugInUnsure, name, detail.c_str()), true);
                if (result.unsure.empty())
                    result.unsure = outcome.name + (detail.empty() ? "" : " " + detail);
                break;
            case ORVELANE_NOT_JUDGED:
                m_log.AddLog(StrFormat(txt::kPlugInNotJudged, name, detail.c_str()), true);
                break;
            default:
                break;
            }
        }
        if (outcome.spam && record) {
            const std::string label = outcome.checked && !detail.empty() ? outcome.name + " " + detail : outcome.name;
            record->m_strRuleText = label;
            record->m_strFilterLabel = label;
            result.spam = true;
            break;
        }
    }
    return result;
}

std::shared_ptr<CPlugInChain> CPlugIns::MakeLearning(const std::string& text, bool spam) const
{
    auto chain = std::make_shared<CPlugInChain>();
    for (const CPlugIn* plugIn : m_plugIns)
        if (plugIn->Learns())
            chain->m_calls.push_back({plugIn->Library(), plugIn->GetName()});
    if (chain->m_calls.empty())
        return nullptr;
    chain->m_strText = text;
    chain->m_nLearn = spam ? 1 : 0;
    chain->m_strSignature = m_strLoadedFrom;
    return chain;
}

int32_t CPlugIns::ApplyLearning(CPlugInChain& chain)
{
    int32_t learned = 0;
    const char* what = chain.m_nLearn == 1 ? txt::kLearnSpam : txt::kLearnHam;
    const int32_t seconds = std::max(m_settings.m_nPlugInSeconds, 1);
    for (SPlugInOutcome& outcome : chain.TakeOutcomes()) {
        const char* name = outcome.name.c_str();
        outcome.log.ReplayTo(m_log);
        if (outcome.fault != SPlugInOutcome::kNone) {
            // A plug-in left out after a time-out is said so too: the user
            // asked for this one message and waits for its answer.
            m_log.AddLog(StrFormat(txt::kPlugInTimedOut, name, seconds), true);
            continue;
        }
        const SPlugInLearning& learning = outcome.learning;
        std::string answer = learning.result == ORVELANE_LEARNED        ? std::string()
                             : learning.result == ORVELANE_LEARN_NOTHING ? std::string(txt::kLearnNothing)
                                                                         : std::string(txt::kLearnFailed);
        if (!learning.text.empty())
            answer += answer.empty() ? learning.text : " (" + learning.text + ")";
        if (answer.empty())
            answer = "ok";
        m_log.AddLog(StrFormat(txt::kPlugInLearned, name, what, answer.c_str()), true);
        if (learning.result == ORVELANE_LEARNED)
            ++learned;
    }
    return learned;
}

std::string CPlugIns::PrepareText(std::string text, int32_t level)
{
    return PreparePlugInText(std::move(text), level, m_decoder, m_tools);
}
