#include "base/Models.h"

int32_t CMailListModel::InsertRow(int32_t index, Row row)
{
    if (index < 0 || index > RowCount())
        index = RowCount();
    m_rows.insert(m_rows.begin() + index, std::move(row));
    // Selected rows at or after the insertion move down by one.
    if (m_selection.empty()) {
        Changed();
        return index;
    }
    std::set<int32_t> moved;
    for (int32_t s : m_selection)
        moved.insert(s >= index ? s + 1 : s);
    m_selection = std::move(moved);
    Changed();
    return index;
}

void CMailListModel::DeleteRow(int32_t index)
{
    if (index < 0 || index >= RowCount())
        return;
    m_rows.erase(m_rows.begin() + index);
    if (m_selection.empty()) {
        Changed();
        return;
    }
    std::set<int32_t> moved;
    for (int32_t s : m_selection)
        if (s != index)
            moved.insert(s > index ? s - 1 : s);
    m_selection = std::move(moved);
    Changed();
}

void CMailListModel::DeleteAllRows()
{
    m_rows.clear();
    m_selection.clear();
    Changed();
}

void CMailListModel::SetCell(int32_t index, int column, std::string text)
{
    if (index < 0 || index >= RowCount() || column < 0 || column >= kColumnCount)
        return;
    m_rows[static_cast<size_t>(index)][static_cast<size_t>(column)] = std::move(text);
    Changed();
}

std::string CMailListModel::Cell(int32_t index, int column) const
{
    if (index < 0 || index >= RowCount() || column < 0 || column >= kColumnCount)
        return {};
    return m_rows[static_cast<size_t>(index)][static_cast<size_t>(column)];
}

int32_t CMailListModel::FindBySubject(const std::string& subject) const
{
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i][kSubject] == subject)
            return static_cast<int32_t>(i);
    return -1;
}

void CConnectionListModel::Add(const std::string& address)
{
    m_entries.insert(std::upper_bound(m_entries.begin(), m_entries.end(), address), address);
    Changed();
}

bool CConnectionListModel::Remove(const std::string& address)
{
    auto it = std::find(m_entries.begin(), m_entries.end(), address);
    if (it == m_entries.end())
        return false;
    m_entries.erase(it);
    Changed();
    return true;
}

void CConnectionListModel::Clear()
{
    m_entries.clear();
    Changed();
}
