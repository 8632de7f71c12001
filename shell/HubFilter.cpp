// The hub's filtering operations that need more than one line to hand over
// to the components: what they need of a session goes in as plain values.
#include "shell/MainDialog.h"

void CMainDialog::AnalyseMessages(CSession* session)
{
    if (!session) {
        m_rules.Load();
        m_plugIns.Load();
        return;
    }
    m_analysis.AnalyseMessages(session->m_messages, session->m_strServerHost,
                               session->m_strUserCommand);
}

bool CMainDialog::RunPlugIns(CMailRecord* record, RuleList& bodyRules, CSession* session)
{
    return m_plugIns.Run(record, bodyRules, session ? session->m_strServerHost : std::string(),
                         session ? session->m_strUserCommand : std::string());
}

void CMainDialog::PrepareAnalysis(CMailRecord* record)
{
    if (!m_bAnalysisOff)
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
