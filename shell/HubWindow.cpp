// The handlers behind the main window's buttons and its mail list: what they
// do to the hub's state and log. The window calls them; they touch no widget.
#include "shell/MainDialog.h"

#include "base/Texts.h"

void CMainDialog::OnStopFilter(bool checked)
{
    m_bAnalysisOff = checked;
    AddLog(checked ? txt::kAnalysisOff : txt::kAnalysisOn, true);
}

void CMainDialog::OnClearList()
{
    m_mailList.DeleteAllRows();
    m_proxy.m_processedMails.clear();
    m_logWriter.Log().Clear();
    AddLog(txt::kListCleared, true);
}

void CMainDialog::OnDisconnectAll()
{
    m_proxy.DisconnectAll();
    SetTrayIcon(false, false);
    m_connections.Clear();
}

std::vector<CMailRecord*> CMainDialog::OnMailListRightClick()
{
    std::vector<CMailRecord*> opened;
    for (int32_t row : m_mailList.m_selection) {
        if (row < 0 || row >= m_mailList.RowCount())
            continue;
        const std::string uidl = m_mailList.Cell(row, CMailListModel::kUidl);
        for (CMailRecord* record = m_proxy.m_processedMails.first(); record;
             record = m_proxy.m_processedMails.next(record))
            if (record->m_strUidl.empty() || record->m_strUidl == uidl)
                opened.push_back(record);
    }
    return opened;
}

void CMainDialog::LogRulesEdit()
{
    AddLog(txt::kEditRules, true);
}
