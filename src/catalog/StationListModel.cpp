#include "StationListModel.h"

namespace tolvane::catalog {

void StationListModel::setRows(QVector<StationRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

int StationListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int StationListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

QVariant StationListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size() ||
        (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    const StationRow& r = rows_[index.row()];
    switch (index.column()) {
    case 0:
        return r.name;
    case 1:
        return r.bitrate;
    case 2:
        return r.genre;
    default:
        return {};
    }
}

QVariant StationListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const headers[] = {"Radio station name", "Bitrate", "Genre"};
    return section >= 0 && section < 3 ? QString::fromLatin1(headers[section]) : QVariant();
}

Qt::ItemFlags StationListModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren
                           : Qt::NoItemFlags;
}

} // namespace tolvane::catalog
