#include "filter/Analysis.h"

#include "filter/PlugInGate.h"
#include "filter/PrepareWorker.h"
#include "base/Format.h"
#include "base/Texts.h"
#include "base/Win1252.h"

#include <cstring>

namespace {

// Sets the working copy for one record and clears it again on leaving,
// whatever way the analysis of that record ends.
class CAnalysisScope
{
public:
    CAnalysisScope(CAnalysis& analysis, CMailRecord* record) : m_analysis(analysis), m_record(record)
    {
        m_analysis.BeginAnalysisOf(record);
    }
    ~CAnalysisScope() { m_analysis.EndAnalysisOf(m_record); }
    CAnalysisScope(const CAnalysisScope&) = delete;
    CAnalysisScope& operator=(const CAnalysisScope&) = delete;

private:
    CAnalysis& m_analysis;
    CMailRecord* m_record;
};

// Offers the compiled rule lists for the length of one run.
class CMatcherScope
{
public:
    explicit CMatcherScope(CRuleCache& cache) : m_cache(cache) { m_cache.BeginRun(); }
    ~CMatcherScope() { m_cache.EndRun(); }
    CMatcherScope(const CMatcherScope&) = delete;
    CMatcherScope& operator=(const CMatcherScope&) = delete;

private:
    CRuleCache& m_cache;
};

} // namespace

const std::string& CAnalysis::AnalysisText(const CMailRecord* record) const
{
    static const std::string kNoText;
    if (!record)
        return kNoText;
    if (record == m_pAnalysedRecord)
        return m_strAnalysisText;
    return record->m_pszText;
}

CAnalysis::CAnalysis(ILogSink& log, const CSettings& settings, CMailListModel& mailList, CRuleSet& rules,
                     CPlugIns& plugIns, CMailDecoder& decoder, const CTextTools& tools)
    : m_log(log), m_settings(settings), m_mailList(mailList), m_rules(rules), m_plugIns(plugIns),
      m_decoder(decoder), m_tools(tools), m_cache(rules)
{
}

// Out of line: the worker and the prepared analysis are complete types here.
CAnalysis::~CAnalysis() = default;

void CAnalysis::AnalyseMessages(OwnedList<CMailRecord>& records, const std::string& server,
                                const std::string& user)
{
    SAnalysisRun run;
    BeginRun(run, records, server, user);
    while (!ContinueRun(run))
        m_plugIns.Runner().Wait(run.chain);
}

void CAnalysis::BeginRun(SAnalysisRun& run, OwnedList<CMailRecord>& records, const std::string& server,
                         const std::string& user, bool reload)
{
    if (reload) {
        m_rules.Load();
        m_plugIns.Load();
    }
    run = SAnalysisRun();
    run.server = server;
    run.user = user;
    int32_t n = 0;
    for (CMailRecord* record : records) {
        ++n;
        if (record && !record->m_bAnalysed)
            run.records.emplace_back(record, n);
    }
}

bool CAnalysis::ContinueRun(SAnalysisRun& run)
{
    // The rule set may have been loaded again by another run meanwhile.
    CMatcherScope matchers(m_cache);
    if (run.chain) {
        if (!run.chain->Settled())
            return false;
        FinishPlugIns(run);
        ++run.next;
    }
    for (; run.next < run.records.size(); ++run.next) {
        auto [record, n] = run.records[run.next];
        int32_t row = -1;
        if (!AnalyseBuiltIn(record, n, row))
            continue;
        // Step 15: the plug-ins, on the worker threads.
        run.chain = ChainFor(record, run);
        run.row = row;
        if (run.chain) {
            m_plugIns.Runner().Start(run.chain);
            if (!run.chain->Settled())
                return false;
        }
        FinishPlugIns(run);
    }
    return true;
}

std::shared_ptr<CPlugInChain> CAnalysis::ChainFor(CMailRecord* record, const SAnalysisRun& run)
{
    std::shared_ptr<CPlugInChain> chain = std::move(record->m_pPlugInJob);
    if (m_plugIns.Loaded().empty())
        return nullptr;
    const std::string rules = CPlugIns::JoinRules(m_rules.List(kRuleBody));
    // A chain decided ahead not to ask is of no use now that they are asked.
    if (chain && m_plugIns.Fits(*chain, record->m_pszText, rules, run.server, run.user) && !chain->Skipped())
        return chain;
    return m_plugIns.MakeChain(record->m_pszText, rules, run.server, run.user);
}

void CAnalysis::FinishPlugIns(SAnalysisRun& run)
{
    auto [record, n] = run.records[run.next];
    std::shared_ptr<CPlugInChain> chain = std::move(run.chain);
    if (chain) {
        const SPlugInResult result = m_plugIns.Apply(record, *chain);
        if (result.spam) {
            MarkAsSpam(record, run.row, txt::kTypePlugIn);
            AddSpamHeaders(record);
        }
        else if (!result.unsure.empty() && run.row >= 0 && run.row < m_mailList.RowCount())
            m_mailList.SetCell(run.row, CMailListModel::kSpam,
                               std::string(txt::kTypeUnsure) + w1252::Lower(" (" + result.unsure + ")"));
    }
    m_log.AddLog(StrFormat(txt::kAnalysisEnd, n), true);
}

bool CAnalysis::AnalyseBuiltIn(CMailRecord* record, int32_t n, int32_t& row)
{
    m_log.AddLog(StrFormat(txt::kAnalysingMsg, n), true);
    CAnalysisScope scope(*this, record);
    row = ExtractHeaders(record, n - 1);

    // Step 1: a known sender ends the analysis at once.
    MatchHeaderRules(record, record->m_strFrom, m_rules.List(kRuleTrust), txt::kTypeTrust, row, false);
    if (record->m_bTrusted) {
        m_log.AddLog(StrFormat(txt::kTrustedSender, n), true);
        record->m_pPlugInJob.reset();
        return false;
    }
    // Step 2: tagged before. The stored value keeps the blank that follows
    // "Subject:", so the tag is looked for after the leading blanks.
    if (StartsWithTag(record->m_strSubject))
        MarkAsSpam(record, row, txt::kTypeTagged);
    // Steps 3 and 4: recipient counts.
    if (!record->m_bSpam && m_rules.NbrTo() != -1 && record->m_nToCount >= m_rules.NbrTo())
        MarkAsSpam(record, row, txt::kTypeNbrTo);
    if (!record->m_bSpam && m_rules.NbrCc() != -1 && record->m_nCcCount >= m_rules.NbrCc())
        MarkAsSpam(record, row, txt::kTypeNbrCc);
    // Steps 5 to 10: the header lists, each on a copy of its field.
    struct HeaderStep {
        const std::string& text;
        RuleList& list;
        const char* label;
    };
    const HeaderStep headerSteps[] = {
        {record->m_strRelays, m_rules.List(kRuleRelay), txt::kTypeRelay},
        {record->m_strFrom, m_rules.List(kRuleFrom), txt::kTypeFrom},
        {record->m_strReturnPath, m_rules.List(kRuleRetPath), txt::kTypeRetPath},
        {record->m_strTo, m_rules.List(kRuleTo), txt::kTypeTo},
        {record->m_strCc, m_rules.List(kRuleCc), txt::kTypeCc},
        {record->m_strSubject, m_rules.List(kRuleSubject), txt::kTypeSubject},
    };
    for (const HeaderStep& step : headerSteps)
        if (!record->m_bSpam)
            MatchHeaderRules(record, step.text, step.list, step.label, row, false);
    // Step 11: the Subject with look-alikes converted, without separators.
    if (!record->m_bSpam) {
        std::string converted = record->m_strSubject;
        m_decoder.ConvertLookAlikes(converted);
        MatchHeaderRules(record, std::move(converted), m_rules.List(kRuleSubject), txt::kTypeSubject, row, true);
        if (record->m_bSpam)
            record->m_strFilterLabel = txt::kLabelSubjectConverted;
    }
    // Step 12: the Subject with repeated characters squeezed.
    if (!record->m_bSpam) {
        MatchHeaderRules(record, m_tools.SqueezeRepeats(record->m_strSubject), m_rules.List(kRuleSubject),
                         txt::kTypeSubject, row, true);
        if (record->m_bSpam)
            record->m_strFilterLabel = txt::kLabelSubjectRepeats;
    }
    // Step 13: large messages get only the header filters.
    if (record->m_nSize >= m_settings.m_nMaxMsgSize) {
        m_log.AddLog(txt::kMessageTooLarge, true);
    } else if (!record->m_bSpam && AnalyseBody(record) != -1) {
        // Step 14: the body passes.
        MarkAsSpam(record, row, txt::kTypeBody);
    }
    if (record->m_bSpam || record->m_nSize >= m_settings.m_nMaxMsgSize) {
        // The verdict is final here: the labels of steps 11 and 12 are set.
        AddSpamHeaders(record);
        record->m_pPlugInJob.reset();
        m_log.AddLog(StrFormat(txt::kAnalysisEnd, n), true);
        return false;
    }
    return true;
}
