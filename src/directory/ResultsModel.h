#pragma once
// The results of one search as the window's list shows them: the stations
// held so far (at most MaxResults), of which the list sees a page at a
// time as it scrolls. When the list has seen every station held and the
// directory may have more, the model asks for the next page (moreWanted),
// whose first rows show as soon as it arrives.

#include "Directory.h"

#include <QAbstractTableModel>

namespace tolvane::directory {

class ResultsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { NameColumn, CountryColumn, CodecColumn, BitrateColumn, TagsColumn, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    // Forgets every station (a new search).
    void clear();
    // Adds a page of `asked` results; fewer than asked means the last page.
    // Rows beyond MaxResults are dropped.
    void appendPage(const QVector<DirectoryStation>& stations, int asked);
    // Stations held, shown or not, and whether the directory may have more.
    int heldCount() const { return static_cast<int>(stations_.size()); }
    bool morePages() const { return morePages_; }
    // The station of a shown row, or nullptr.
    const DirectoryStation* station(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Shows the next page of what is held, or asks for the next one. Not
    // the item views' fetchMore: a tree view calls that while it lays itself
    // out, which would load pages nobody scrolled to.
    bool canShowMore() const { return shown_ < stations_.size() || morePages_; }
    void showMore();

signals:
    void moreWanted();

private:
    QVector<DirectoryStation> stations_;
    int shown_ = 0;
    bool morePages_ = false;
};

} // namespace tolvane::directory
