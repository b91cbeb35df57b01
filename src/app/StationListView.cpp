#include "StationListView.h"

#include <QHeaderView>
#include <QScrollBar>

namespace tolvane {

StationListView::StationListView(QWidget* parent) : QTreeView(parent) {
    setModel(&model_);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(true);
    setSortingEnabled(false);
    // Handles address rows by position: new rows make them void.
    connect(&model_, &QAbstractItemModel::modelAboutToBeReset, this, [this] { items_.clear(); });
}

void StationListView::setRows(QVector<catalog::StationRow> rows) {
    model_.setRows(std::move(rows));
}

int StationListView::selectedRow() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void StationListView::selectOnly(int row, bool scroll) {
    if (row < 0 || row >= rowCount())
        return;
    // Making a row current scrolls to it; keep the scroll unless asked.
    const int top = verticalScrollBar()->value();
    const int left = horizontalScrollBar()->value();
    selectionModel()->setCurrentIndex(cell(row), QItemSelectionModel::ClearAndSelect |
                                                     QItemSelectionModel::Rows);
    if (scroll) {
        scrollTo(cell(row), QAbstractItemView::EnsureVisible);
    } else {
        verticalScrollBar()->setValue(top);
        horizontalScrollBar()->setValue(left);
    }
}

StationListView::Item* StationListView::topLevelItem(int row) {
    if (row < 0 || row >= rowCount())
        return nullptr;
    std::unique_ptr<Item>& item = items_[row];
    if (!item)
        item.reset(new Item(this, row));
    return item.get();
}

QList<StationListView::Item*> StationListView::selectedItems() {
    QList<Item*> items;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        items << topLevelItem(index.row());
    return items;
}

QRect StationListView::visualItemRect(const Item* item) const {
    if (!item)
        return {};
    const QRect first = visualRect(cell(item->row(), 0));
    const QRect last = visualRect(cell(item->row(), model_.columnCount() - 1));
    return first.united(last);
}

QString StationListView::Item::text(int column) const {
    const catalog::StationRow& r = view_->model_.row(row_);
    return column == 0 ? r.name : column == 1 ? r.bitrate : column == 2 ? r.genre : QString();
}

void StationListView::Item::setSelected(bool selected) {
    view_->selectionModel()->select(view_->cell(row_), (selected ? QItemSelectionModel::Select
                                                                 : QItemSelectionModel::Deselect) |
                                                           QItemSelectionModel::Rows);
}

bool StationListView::Item::isSelected() const {
    return view_->selectionModel()->isRowSelected(row_);
}

} // namespace tolvane
