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
