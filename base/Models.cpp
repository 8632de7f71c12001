#include "base/Models.h"

int32_t CMailListModel::InsertRow(int32_t index, Row row)
{
    if (index < 0 || index > RowCount())
        index = RowCount();
    if (m_pRowObserver)
        m_pRowObserver->RowsAboutToBeInserted(index, index);
    m_rows.insert(m_rows.begin() + index, std::move(row));
    // Selected rows at or after the insertion move down by one.
    if (!m_selection.empty()) {
        std::set<int32_t> moved;
        for (int32_t s : m_selection)
            moved.insert(s >= index ? s + 1 : s);
        m_selection = std::move(moved);
    }
    if (m_pRowObserver)
        m_pRowObserver->RowsInserted(index, index);
    Changed();
    return index;
}

void CMailListModel::DeleteRow(int32_t index)
{
    if (index < 0 || index >= RowCount())
        return;
    if (m_pRowObserver)
        m_pRowObserver->RowsAboutToBeRemoved(index, index);
    m_rows.erase(m_rows.begin() + index);
    // The row leaves the selection; selected rows after it move up by one.
    if (!m_selection.empty()) {
        std::set<int32_t> moved;
        for (int32_t s : m_selection)
            if (s != index)
                moved.insert(s > index ? s - 1 : s);
        m_selection = std::move(moved);
    }
    if (m_pRowObserver)
        m_pRowObserver->RowsRemoved(index, index);
    Changed();
}

void CMailListModel::DeleteAllRows()
{
    if (m_pRowObserver)
        m_pRowObserver->ModelAboutToBeReset();
    m_rows.clear();
    m_selection.clear();
    if (m_pRowObserver)
        m_pRowObserver->ModelReset();
    Changed();
}

void CMailListModel::SetCell(int32_t index, int column, std::string text)
{
    if (index < 0 || index >= RowCount() || column < 0 || column >= kColumnCount)
        return;
    m_rows[static_cast<size_t>(index)][static_cast<size_t>(column)] = std::move(text);
    if (m_pRowObserver)
        m_pRowObserver->CellChanged(index, column);
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
    // After the equal entries already there.
    const auto at = std::upper_bound(m_entries.begin(), m_entries.end(), address);
    const auto index = static_cast<int32_t>(at - m_entries.begin());
    if (m_pRowObserver)
        m_pRowObserver->RowsAboutToBeInserted(index, index);
    m_entries.insert(at, address);
    if (m_pRowObserver)
        m_pRowObserver->RowsInserted(index, index);
    Changed();
}

bool CConnectionListModel::Remove(const std::string& address)
{
    const auto it = std::find(m_entries.begin(), m_entries.end(), address);
    if (it == m_entries.end())
        return false;
    const auto index = static_cast<int32_t>(it - m_entries.begin());
    if (m_pRowObserver)
        m_pRowObserver->RowsAboutToBeRemoved(index, index);
    m_entries.erase(it);
    if (m_pRowObserver)
        m_pRowObserver->RowsRemoved(index, index);
    Changed();
    return true;
}

void CConnectionListModel::Clear()
{
    if (m_pRowObserver)
        m_pRowObserver->ModelAboutToBeReset();
    m_entries.clear();
    if (m_pRowObserver)
        m_pRowObserver->ModelReset();
    Changed();
}
