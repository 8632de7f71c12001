#include "base/Models.h"

int32_t CMailListModel::InsertRow(int32_t index, Row row)
{
    if (index < 0 || index > RowCount())
        index = RowCount();
    Report(EChange::kInsert, index, [&] {
        m_rows.insert(m_rows.begin() + index, std::move(row));
        // Selected rows at or after the insertion move down by one.
        std::set<int32_t> moved;
        for (int32_t s : m_selection)
            moved.insert(s >= index ? s + 1 : s);
        m_selection = std::move(moved);
    });
    return index;
}

void CMailListModel::DeleteRow(int32_t index)
{
    if (index < 0 || index >= RowCount())
        return;
    Report(EChange::kRemove, index, [&] {
        m_rows.erase(m_rows.begin() + index);
        // The row leaves the selection; selected rows after it move up by one.
        std::set<int32_t> moved;
        for (int32_t s : m_selection)
            if (s != index)
                moved.insert(s > index ? s - 1 : s);
        m_selection = std::move(moved);
    });
}

void CMailListModel::DeleteAllRows()
{
    Report(EChange::kReset, -1, [&] {
        m_rows.clear();
        m_selection.clear();
    });
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
    Report(EChange::kInsert, index, [&] { m_entries.insert(at, address); });
}

bool CConnectionListModel::Remove(const std::string& address)
{
    const auto it = std::find(m_entries.begin(), m_entries.end(), address);
    if (it == m_entries.end())
        return false;
    Report(EChange::kRemove, static_cast<int32_t>(it - m_entries.begin()), [&] { m_entries.erase(it); });
    return true;
}

void CConnectionListModel::Clear()
{
    Report(EChange::kReset, -1, [&] { m_entries.clear(); });
}
