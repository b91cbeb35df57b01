#pragma once
// The main window's station list: a read-only, single-selection report view
// over a StationListModel, so filling it with a whole catalog costs no
// object per row. It also answers the item calls of a tree of items
// (topLevelItem, selectedItems, ...), through row handles made on demand,
// for code and tests that address rows that way.

#include "catalog/StationListModel.h"

#include <QTreeView>

#include <map>
#include <memory>

namespace tolvane {

class StationListView : public QTreeView {
public:
    explicit StationListView(QWidget* parent = nullptr);

    catalog::StationListModel& stations() { return model_; }
    // Replaces the rows; the selection and the current row go with them.
    void setRows(QVector<catalog::StationRow> rows);
    int rowCount() const { return model_.rowCount(); }
    QString name(int row) const { return model_.row(row).name; }
    // The selected row, or -1.
    int selectedRow() const;
    // Makes `row` the only selected row and the current one. The list
    // scrolls to it only when asked; otherwise it stays where it was.
    void selectOnly(int row, bool scroll);

    // A handle on one row, valid until the rows are replaced.
    class Item {
    public:
        QString text(int column) const;
        void setSelected(bool selected);
        bool isSelected() const;
        int row() const { return row_; }

    private:
        friend class StationListView;
        Item(StationListView* view, int row) : view_(view), row_(row) {}
        StationListView* view_;
        int row_;
    };
    int topLevelItemCount() const { return rowCount(); }
    Item* topLevelItem(int row);
    QList<Item*> selectedItems();
    int indexOfTopLevelItem(const Item* item) const { return item ? item->row() : -1; }
    QRect visualItemRect(const Item* item) const;
    void clear() { setRows({}); }

private:
    QModelIndex cell(int row, int column = 0) const { return model_.index(row, column); }

    catalog::StationListModel model_;
    std::map<int, std::unique_ptr<Item>> items_;
};

} // namespace tolvane
