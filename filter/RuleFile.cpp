// The hub's side of the rule file: where it lives, loading and saving.
#include "filter/RuleSet.h"
#include "shell/MainDialog.h"
#include "base/Paths.h"
#include "base/Texts.h"

CRuleSetRef CMainDialog::RuleSet()
{
    CRuleSetRef rules;
    rules.lists[kRuleFrom] = &m_fromList;
    rules.lists[kRuleTo] = &m_toList;
    rules.lists[kRuleCc] = &m_ccList;
    rules.lists[kRuleBody] = &m_bodyList;
    rules.lists[kRuleBodyHtml] = &m_bodyHtmlList;
    rules.lists[kRuleSubject] = &m_subjectList;
    rules.lists[kRuleRetPath] = &m_retPathList;
    rules.lists[kRuleTrust] = &m_trustList;
    rules.lists[kRuleRelay] = &m_relayList;
    rules.nbrTo = &m_nNbrTo;
    rules.nbrCc = &m_nNbrCc;
    return rules;
}

void CMainDialog::LoadRuleFile()
{
    const CRuleSetRef rules = RuleSet();
    ClearRuleSet(rules);
    const std::string folder = CurrentDirectory();
    m_strRuleFilePath = folder + "/" + kRuleFileName;
    std::string content;
    // A folder path too long to be formed is treated like a missing file.
    if (folder.size() > kMaxRuleFolderLength || !ReadBinaryFile(m_strRuleFilePath, content)) {
        AddLog(txt::kRuleFileUnreadable, true);
        return;
    }
    AddLog(std::string(txt::kLoading) + m_strRuleFilePath + "\r\n", true);
    ParseRuleFile(content, rules);
}

bool CMainDialog::SaveRuleFile()
{
    return WriteTextFile(m_strRuleFilePath, FormatRuleFile(RuleSet()));
}
