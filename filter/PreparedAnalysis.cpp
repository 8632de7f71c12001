// The analysis's side of the work prepared ahead of time: starting it when a
// download ends, and taking it, or doing the work itself, during the run.
#include "filter/Analysis.h"
#include "filter/MessageHeader.h"
#include "filter/PlugInGate.h"
#include "filter/PrepareWorker.h"
#include "filter/RuleCache.h"

#include <optional>
#include <string>

CPrepareWorker& CAnalysis::PrepareWorker()
{
    if (!m_pWorker)
        m_pWorker = std::make_unique<CPrepareWorker>();
    return *m_pWorker;
}

bool CAnalysis::RefreshPreparedRules()
{
    return m_cache.Refresh(
        [this](const std::shared_ptr<const CCompiledRuleFile>& file) { PrepareWorker().CompileAhead(file); });
}

bool CAnalysis::Prepared(const CMailRecord& record) const
{
    return !record.m_pPrepareJob || record.m_pPrepareJob->Ready();
}

void CAnalysis::PrepareAnalysis(CMailRecord* record, const std::string& server, const std::string& user)
{
    if (!m_bPrepareAhead || !record || record->m_nSize >= m_settings.m_nMaxMsgSize)
        return;
    if (!RefreshPreparedRules())
        return;
    const std::shared_ptr<const CCompiledRuleFile>& reading = m_cache.FileReading();
    // The plug-ins are asked as soon as the preparation shows that no
    // built-in filter decides, while the download goes on.
    CPrepareJob::Then then;
    record->m_pPlugInJob.reset();
    if (!m_settings.m_plugInNames.empty() && reading) {
        m_plugIns.LoadAhead();
        std::shared_ptr<CPlugInChain> chain = m_plugIns.MakeChain(
            record->m_pszText, CPlugIns::JoinRules(reading->Lists().lists[kRuleBody]), server, user);
        if (chain) {
            record->m_pPlugInJob = chain;
            CPlugInRunner* runner = &m_plugIns.Runner();
            then = [runner, chain, reading](const SPreparedAnalysis& prepared) {
                if (BuiltInsDecideAhead(prepared, *reading))
                    runner->Skip(chain);
                else
                    runner->Start(chain);
            };
        }
    }
    record->m_pPrepareJob = PrepareWorker().Submit(WithStatusLine(record->m_pszText), reading, m_bDebug, std::move(then));
}

void CAnalysis::BeginAnalysisOf(CMailRecord* record)
{
    m_pAnalysedRecord = record;
    m_pPrepared.reset();
    m_bPreparedFieldsTaken = false;
    // Taken only when it was prepared from the very text the record holds.
    if (std::shared_ptr<CPrepareJob> job = std::move(record->m_pPrepareJob); job && m_pWorker) {
        auto prepared = std::make_unique<SPreparedAnalysis>(m_pWorker->Collect(*job));
        if (IsWithStatusLine(prepared->analysisText, record->m_pszText)) {
            m_pPrepared = std::move(prepared);
            m_strAnalysisText = std::move(m_pPrepared->analysisText);
            return;
        }
    }
    m_strAnalysisText = WithStatusLine(record->m_pszText);
}

void CAnalysis::EndAnalysisOf(CMailRecord* record)
{
    m_pAnalysedRecord = nullptr;
    m_strAnalysisText.clear();
    m_pPrepared.reset();
    if (record)
        record->m_pPrepareJob.reset();
}

bool CAnalysis::TakePreparedFields(const CMailRecord* record, CHeaderFields& fields)
{
    if (!m_pPrepared || record != m_pAnalysedRecord || m_bPreparedFieldsTaken)
        return false;
    m_bPreparedFieldsTaken = true;
    m_pPrepared->headerLog.ReplayTo(m_log);
    fields = std::move(m_pPrepared->fields);
    return true;
}

int32_t CAnalysis::AnalyseBody(CMailRecord* record)
{
    if (!record)
        return -1;
    std::optional<SBodyVerdict> verdict;
    const CCompiledRuleFile* runFile = m_cache.RunFile();
    if (m_pPrepared && record == m_pAnalysedRecord && runFile && m_pPrepared->rules == runFile &&
        m_pPrepared->debug == m_bDebug) {
        verdict = std::move(m_pPrepared->body);
        m_pPrepared->rules = nullptr; // once
    } else {
        SBodyMatchers matchers;
        std::optional<CRuleMatcher> html, plain, stripped;
        if (runFile) {
            matchers = runFile->Matchers();
        } else {
            matchers.html = BodyMatcher(m_rules.List(kRuleBodyHtml), false, html);
            matchers.plain = BodyMatcher(m_rules.List(kRuleBody), false, plain);
            matchers.stripped = BodyMatcher(m_rules.List(kRuleBody), true, stripped);
        }
        verdict = RunBodyPasses(AnalysisText(record), matchers, m_bDebug);
    }
    verdict->log.ReplayTo(m_log);
    if (verdict->position != -1) {
        record->m_strRuleText = std::move(verdict->ruleText);
        record->m_strFilterLabel = std::move(verdict->label);
    }
    return verdict->position;
}
