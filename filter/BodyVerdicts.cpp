// The hub's side of the body passes: starting them when a download ends, and
// taking their verdict, or running them, during the analysis.
#include "filter/BodyRules.h"
#include "filter/BodyWorker.h"
#include "filter/MatcherCache.h"
#include "shell/MainDialog.h"
#include "shell/Paths.h"

#include <sys/stat.h>

#include <chrono>
#include <optional>
#include <string>

namespace {

// What tells that a file may have changed: its path, size and time of last
// change, in one string; empty when the file is missing.
std::string FileStamp(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return {};
    return path + '\0' + std::to_string(info.st_size) + ':' + std::to_string(info.st_mtim.tv_sec) + '.' +
           std::to_string(info.st_mtim.tv_nsec);
}

} // namespace

void CMainDialog::PrepareBodyVerdict(CMailRecord* record)
{
    if (!m_bPrepareBodies || m_bAnalysisOff || !record || record->m_nSize >= m_nMaxMsgSize)
        return;
    // The rule file as the analysis will read it. Its stamp is looked at
    // again at most a few times a second, and the file read again only when
    // the stamp changed. A change missed that way costs nothing but time: the
    // analysis uses a verdict only when its own lists equal the ones the
    // verdict was computed with.
    const auto now = std::chrono::steady_clock::now();
    if (!m_pBodyRules || now - m_bodyRulesChecked >= std::chrono::milliseconds(250)) {
        m_bodyRulesChecked = now;
        const std::string folder = CurrentDirectory();
        const std::string path = folder + "/" + kRuleFileName;
        const std::string stamp = folder.size() > kMaxRuleFolderLength ? std::string() : FileStamp(path);
        std::string content;
        if (stamp.empty() || (stamp != m_strBodyRulesStamp && !ReadBinaryFile(path, content))) {
            m_pBodyRules.reset();
            m_strBodyRulesStamp.clear();
            return;
        }
        if (stamp != m_strBodyRulesStamp) {
            if (!m_pBodyRules || m_pBodyRules->Content() != content)
                m_pBodyRules = std::make_shared<const CBodyRules>(std::move(content));
            m_strBodyRulesStamp = stamp;
        }
    }
    if (!m_pBodyWorker)
        m_pBodyWorker = std::make_unique<CBodyWorker>();
    record->m_pBodyJob = m_pBodyWorker->Submit(record->m_pszText, m_pBodyRules, m_bDebug);
}

int32_t CMainDialog::AnalyseBody(CMailRecord* record)
{
    if (!record)
        return -1;
    std::optional<SBodyVerdict> verdict;
    if (std::shared_ptr<CBodyJob> job = std::move(record->m_pBodyJob)) {
        if (m_pRunBodyRules && job->Rules() == m_pRunBodyRules && job->Debug() == m_bDebug &&
            job->Text() == record->m_pszText)
            verdict = m_pBodyWorker->Collect(*job);
    }
    if (!verdict) {
        SBodyMatchers matchers;
        std::optional<CRuleMatcher> html, plain, stripped;
        if (m_pRunBodyRules) {
            matchers = m_pRunBodyRules->Matchers();
        } else {
            matchers.html = BodyMatcher(m_bodyHtmlList, false, html);
            matchers.plain = BodyMatcher(m_bodyList, false, plain);
            matchers.stripped = BodyMatcher(m_bodyList, true, stripped);
        }
        verdict = RunBodyPasses(AnalysisText(record), matchers, m_bDebug);
    }
    for (const char* line : verdict->log)
        AddLog(line, true);
    if (verdict->position != -1) {
        record->m_strRuleText = std::move(verdict->ruleText);
        record->m_strFilterLabel = std::move(verdict->label);
    }
    return verdict->position;
}
