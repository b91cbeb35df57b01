#pragma once
// The station list's rows as a table model over the rows in memory: name,
// bitrate and genre. Filling it with tens of thousands of stations is one
// move of a vector, and nothing is allocated per row.

#include "Catalog.h"

#include <QAbstractTableModel>

namespace tolvane::catalog {

class StationListModel : public QAbstractTableModel {
public:
    // No signals or slots of its own: no meta-object needed.
    using QAbstractTableModel::QAbstractTableModel;

    // Replaces every row (views drop their selection and current row).
    void setRows(QVector<StationRow> rows);
    const QVector<StationRow>& rows() const { return rows_; }
    const StationRow& row(int index) const { return rows_[index]; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QVector<StationRow> rows_;
};

} // namespace tolvane::catalog
