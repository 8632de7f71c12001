// The hub's side of the analysis prepared ahead of time: starting it when a
// download ends, and taking it, or doing the work itself, during the run.
#include "filter/MatcherCache.h"
#include "filter/MessageHeader.h"
#include "filter/PrepareWorker.h"
#include "filter/PreparedRules.h"
#include "shell/MainDialog.h"
#include "base/Paths.h"

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

CPrepareWorker& CMainDialog::PrepareWorker()
{
    if (!m_pPrepareWorker)
        m_pPrepareWorker = std::make_unique<CPrepareWorker>();
    return *m_pPrepareWorker;
}

bool CMainDialog::RefreshPreparedRules()
{
    // The rule file as the analysis will read it. Its stamp is looked at
    // again at most a few times a second, and the file read again only when
    // the stamp changed. A change missed that way costs nothing but time: the
    // analysis uses a verdict only when its own lists equal the ones the
    // verdict was computed with.
    const auto now = std::chrono::steady_clock::now();
    if (m_pPreparedRules && now - m_preparedRulesChecked < std::chrono::milliseconds(250))
        return true;
    m_preparedRulesChecked = now;
    const std::string folder = CurrentDirectory();
    const std::string path = folder + "/" + kRuleFileName;
    const std::string stamp = folder.size() > kMaxRuleFolderLength ? std::string() : FileStamp(path);
    std::string content;
    if (stamp.empty() || (stamp != m_strPreparedRulesStamp && !ReadBinaryFile(path, content))) {
        m_pPreparedRules.reset();
        m_strPreparedRulesStamp.clear();
        return false;
    }
    if (stamp != m_strPreparedRulesStamp) {
        if (!m_pPreparedRules || m_pPreparedRules->Content() != content) {
            m_pPreparedRules = std::make_shared<const CPreparedRules>(std::move(content));
            // Compiled in the background from now on, not when the first
            // message is waiting for it.
            PrepareWorker().CompileAhead(m_pPreparedRules);
        }
        m_strPreparedRulesStamp = stamp;
    }
    return true;
}

void CMainDialog::PrepareAnalysis(CMailRecord* record)
{
    if (!m_bPrepareAnalysis || m_bAnalysisOff || !record || record->m_nSize >= m_nMaxMsgSize)
        return;
    if (!RefreshPreparedRules())
        return;
    record->m_pPrepareJob = PrepareWorker().Submit(WithStatusLine(record->m_pszText), m_pPreparedRules, m_bDebug);
}

void CMainDialog::AdoptPreparedRules()
{
    const CPreparedRules* prepared = m_pPreparedRules.get();
    if (!prepared)
        return;
    // Body verdicts count only when they were computed with the body lists
    // this run has just read.
    if (prepared->SameList(kRuleBodyHtml, m_rules.List(kRuleBodyHtml)) && prepared->SameList(kRuleBody, m_rules.List(kRuleBody)))
        m_pRunRules = prepared;
    // Header lists compiled in the background are taken over when the hub's
    // list is the same and has none compiled yet.
    if (!m_pMatcherCache)
        return;
    for (const auto& [which, strip] : CPreparedRules::kHeaderTests) {
        const RuleList& list = m_rules.List(which);
        if (!m_pMatcherCache->Has(list, CRuleMatcher::kHeaderTest, strip) && prepared->SameList(which, list))
            m_pMatcherCache->Adopt(list, CRuleMatcher::kHeaderTest, strip, prepared->TakeHeaderMatcher(which, strip));
    }
}

void CMainDialog::BeginAnalysisOf(CMailRecord* record)
{
    m_pAnalysedRecord = record;
    m_pPrepared.reset();
    m_bPreparedFieldsTaken = false;
    // Taken only when it was prepared from the very text the record holds.
    if (std::shared_ptr<CPrepareJob> job = std::move(record->m_pPrepareJob); job && m_pPrepareWorker) {
        auto prepared = std::make_unique<SPreparedAnalysis>(m_pPrepareWorker->Collect(*job));
        if (IsWithStatusLine(prepared->analysisText, record->m_pszText)) {
            m_pPrepared = std::move(prepared);
            m_strAnalysisText = std::move(m_pPrepared->analysisText);
            return;
        }
    }
    m_strAnalysisText = WithStatusLine(record->m_pszText);
}

void CMainDialog::EndAnalysisOf(CMailRecord* record)
{
    m_pAnalysedRecord = nullptr;
    m_strAnalysisText.clear();
    m_pPrepared.reset();
    if (record)
        record->m_pPrepareJob.reset();
}

bool CMainDialog::TakePreparedFields(const CMailRecord* record, CHeaderFields& fields)
{
    if (!m_pPrepared || record != m_pAnalysedRecord || m_bPreparedFieldsTaken)
        return false;
    m_bPreparedFieldsTaken = true;
    m_pPrepared->headerLog.ReplayTo(*this);
    fields = std::move(m_pPrepared->fields);
    return true;
}

int32_t CMainDialog::AnalyseBody(CMailRecord* record)
{
    if (!record)
        return -1;
    std::optional<SBodyVerdict> verdict;
    if (m_pPrepared && record == m_pAnalysedRecord && m_pRunRules && m_pPrepared->rules == m_pRunRules &&
        m_pPrepared->debug == m_bDebug) {
        verdict = std::move(m_pPrepared->body);
        m_pPrepared->rules = nullptr; // once
    } else {
        SBodyMatchers matchers;
        std::optional<CRuleMatcher> html, plain, stripped;
        if (m_pRunRules) {
            matchers = m_pRunRules->Matchers();
        } else {
            matchers.html = BodyMatcher(m_rules.List(kRuleBodyHtml), false, html);
            matchers.plain = BodyMatcher(m_rules.List(kRuleBody), false, plain);
            matchers.stripped = BodyMatcher(m_rules.List(kRuleBody), true, stripped);
        }
        verdict = RunBodyPasses(AnalysisText(record), matchers, m_bDebug);
    }
    verdict->log.ReplayTo(*this);
    if (verdict->position != -1) {
        record->m_strRuleText = std::move(verdict->ruleText);
        record->m_strFilterLabel = std::move(verdict->label);
    }
    return verdict->position;
}
