#include "ui/MailListItemModel.h"

#include "base/Texts.h"
#include "ui/UiText.h"

CMailListItemModel::CMailListItemModel(CMailListModel& rows, QObject* parent)
    : QAbstractTableModel(parent), m_rows(rows)
{
    m_rows.m_pRowObserver = this;
}

CMailListItemModel::~CMailListItemModel()
{
    if (m_rows.m_pRowObserver == this)
        m_rows.m_pRowObserver = nullptr;
}

int CMailListItemModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows.RowCount();
}

int CMailListItemModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : CMailListModel::kColumnCount;
}

QVariant CMailListItemModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    return ui::Text(m_rows.RowAt(index.row())[static_cast<size_t>(index.column())]);
}

QVariant CMailListItemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const kHeadings[CMailListModel::kColumnCount] = {
        txt::kColumnFrom, txt::kColumnSubject, txt::kColumnSpam,
        txt::kColumnUidl, txt::kColumnClientUid, txt::kColumnTo};
    if (orientation != Qt::Horizontal || section < 0 || section >= CMailListModel::kColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return ui::Text(kHeadings[section]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

void CMailListItemModel::RowsAboutToBeInserted(int32_t first, int32_t last)
{
    beginInsertRows({}, first, last);
}

void CMailListItemModel::RowsInserted(int32_t, int32_t)
{
    endInsertRows();
}

void CMailListItemModel::RowsAboutToBeRemoved(int32_t first, int32_t last)
{
    beginRemoveRows({}, first, last);
}

void CMailListItemModel::RowsRemoved(int32_t, int32_t)
{
    endRemoveRows();
}

void CMailListItemModel::CellChanged(int32_t row, int column)
{
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

void CMailListItemModel::ModelAboutToBeReset()
{
    beginResetModel();
}

void CMailListItemModel::ModelReset()
{
    endResetModel();
}
