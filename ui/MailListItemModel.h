// The mail list as a Qt table model: the hub's CMailListModel, followed row by
// row through its events, so a view keeps its selection and scroll position
// while rows come and go.
#pragma once

#include "base/Models.h"

#include <QAbstractTableModel>

class CMailListItemModel : public QAbstractTableModel, private IRowObserver
{
    Q_OBJECT
public:
    explicit CMailListItemModel(CMailListModel& rows, QObject* parent = nullptr);
    ~CMailListItemModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void RowsAboutToBeInserted(int32_t first, int32_t last) override;
    void RowsInserted(int32_t first, int32_t last) override;
    void RowsAboutToBeRemoved(int32_t first, int32_t last) override;
    void RowsRemoved(int32_t first, int32_t last) override;
    void CellChanged(int32_t row, int column) override;
    void ModelAboutToBeReset() override;
    void ModelReset() override;

    CMailListModel& m_rows;
};
