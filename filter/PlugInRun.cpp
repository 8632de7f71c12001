// The hub's side of the plug-ins: loading them before each run and asking
// them about a message.
#include "filter/PlugIn.h"
#include "base/Format.h"
#include "shell/MainDialog.h"
#include "base/Texts.h"

#include <memory>

void CMainDialog::LoadPlugIns()
{
    m_plugIns.clear();
    for (const std::string& path : m_plugInNames) {
        auto plugIn = std::make_unique<CPlugIn>();
        if (!plugIn->Load(path))
            continue; // destroyed here, which releases the library
        const std::string name = plugIn->GetName();
        m_plugIns.append(std::move(plugIn));
        AddLog(StrFormat(txt::kPlugInLoaded, name.c_str()), true);
    }
}

bool CMainDialog::RunPlugIns(CMailRecord* record, RuleList& bodyRules, CSession* session)
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
    const std::string server = session ? session->m_strServerHost : std::string();
    const std::string user = session ? session->m_strUserCommand : std::string();
    for (CPlugIn* plugIn : m_plugIns) {
        const std::string text = PreparePlugInText(record->m_pszText, plugIn->GetLevel());
        AddLog(StrFormat(txt::kPlugInAnalysing, plugIn->GetName().c_str()), true);
        if (plugIn->CallAnalyse(text.c_str(), rules.c_str(), server.c_str(), user.c_str(),
                                WindowHandle(), SetLogMessage())) {
            record->m_strRuleText = plugIn->GetName();
            record->m_strFilterLabel = plugIn->GetName();
            return true;
        }
    }
    return false;
}
