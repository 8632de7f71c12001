// The hub's filtering operations that need more than one line to hand over
// to the components: what they need of a session goes in as plain values.
#include "shell/MainDialog.h"

#include <QMetaObject>

bool CMainDialog::AnalyseMessages(CSession* session)
{
    if (!session) {
        m_rules.Load();
        m_plugIns.Load();
        return true;
    }
    const int32_t number = session->m_nNumber;
    if (!m_proxy.Alive(session, number)) {
        m_analysis.AnalyseMessages(session->m_messages, session->m_strServerHost, session->m_strUserCommand);
        return true;
    }
    auto run = std::make_unique<SAnalysisRun>();
    // The rule file and the plug-ins are read once per scan, by its first
    // run, also when some messages are analysed while others still come.
    m_analysis.BeginRun(*run, session->m_messages, session->m_strServerHost, session->m_strUserCommand,
                        !session->m_bRulesRead);
    session->m_bRulesRead = true;
    return ContinueAnalysis(number, std::move(run));
}

bool CMainDialog::ContinueAnalysis(int32_t number, std::unique_ptr<SAnalysisRun> run)
{
    if (m_analysis.ContinueRun(*run))
        return true;
    // The answer comes on a worker thread; the run goes on in the event loop.
    const std::shared_ptr<CPlugInChain> chain = run->chain;
    m_runs[number] = std::move(run);
    m_plugIns.Runner().WhenSettled(chain, [this, number] {
        QMetaObject::invokeMethod(this, [this, number] { OnPlugInsSettled(number); }, Qt::QueuedConnection);
    });
    return false;
}

void CMainDialog::OnPlugInsSettled(int32_t number)
{
    const auto it = m_runs.find(number);
    if (it == m_runs.end())
        return;
    std::unique_ptr<SAnalysisRun> run = std::move(it->second);
    m_runs.erase(it);
    // A session that ended meanwhile took its records with it.
    CSession* session = m_proxy.SessionByNumber(number);
    if (session && ContinueAnalysis(number, std::move(run)))
        m_proxy.AnalysisSettled(session);
}

bool CMainDialog::RunPlugIns(CMailRecord* record, RuleList& bodyRules, CSession* session)
{
    return m_plugIns.Run(record, bodyRules, session ? session->m_strServerHost : std::string(),
                         session ? session->m_strUserCommand : std::string());
}

void CMainDialog::PrepareAnalysis(CSession* session, CMailRecord* record)
{
    if (m_bAnalysisOff)
        return;
    if (session)
        m_analysis.PrepareAnalysis(record, session->m_strServerHost, session->m_strUserCommand);
    else
        m_analysis.PrepareAnalysis(record);
}

int32_t CMainDialog::AnalyseBody(CMailRecord* record)
{
    return m_analysis.AnalyseBody(record);
}

void CMainDialog::LoadRuleFile()
{
    m_rules.Load();
}

bool CMainDialog::SaveRuleFile()
{
    return m_rules.Save();
}

int32_t CMainDialog::ExtractHeaders(CMailRecord* record, int32_t row)
{
    return m_analysis.ExtractHeaders(record, row);
}

void CMainDialog::RemoveSeparators(std::string& text, bool alsoSpaces)
{
    CAnalysis::RemoveSeparators(text, alsoSpaces);
}

void CMainDialog::MatchHeaderRules(CMailRecord* record, std::string text, RuleList& list,
                                   const std::string& label, int32_t row, bool stripSeparators)
{
    m_analysis.MatchHeaderRules(record, std::move(text), list, label, row, stripSeparators);
}

int32_t CMainDialog::FindBodyRule(std::string text, CMailRecord* record, RuleList& list,
                                  bool stripSeparators)
{
    return m_analysis.FindBodyRule(std::move(text), record, list, stripSeparators);
}

void CMainDialog::MarkAsSpam(CMailRecord* record, int32_t row, const std::string& label)
{
    m_analysis.MarkAsSpam(record, row, label);
}

void CMainDialog::LoadPlugIns()
{
    m_plugIns.Load();
}
