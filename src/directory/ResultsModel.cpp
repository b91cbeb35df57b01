#include "ResultsModel.h"

#include <algorithm>

namespace tolvane::directory {

void ResultsModel::clear() {
    beginResetModel();
    stations_.clear();
    shown_ = 0;
    morePages_ = false;
    endResetModel();
}

void ResultsModel::appendPage(const QVector<DirectoryStation>& stations, int asked) {
    // The list asked for this page when it had shown every row: show it.
    const bool everyRowShown = shown_ == stations_.size();
    const qsizetype room = MaxResults - stations_.size();
    if (stations.size() <= room)
        stations_.append(stations);
    else
        stations_.append(stations.mid(0, std::max<qsizetype>(0, room)));
    morePages_ = stations.size() >= asked && stations_.size() < MaxResults;
    if (everyRowShown && shown_ < stations_.size())
        showMore();
}

const DirectoryStation* ResultsModel::station(int row) const {
    return row >= 0 && row < shown_ ? &stations_[row] : nullptr;
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
    const DirectoryStation* s = station(index.row());
    if (!s || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    switch (index.column()) {
    case NameColumn:
        return role == Qt::ToolTipRole && !s->homepage.isEmpty() ? s->name + u'\n' + s->homepage
                                                                 : s->name;
    case CountryColumn:
        return s->country.isEmpty() ? s->countryCode : s->country;
    case CodecColumn:
        return s->codec;
    case BitrateColumn:
        return s->bitrate > 0 ? QString::number(s->bitrate) : QString();
    case TagsColumn:
        return tagsText(*s);
    default:
        return {};
    }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const titles[] = {"Name", "Country", "Codec", "Bitrate", "Tags"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section])
                                                 : QVariant();
}

void ResultsModel::showMore() {
    if (shown_ < stations_.size()) {
        const int last = static_cast<int>(std::min<qsizetype>(shown_ + PageSize, stations_.size()));
        beginInsertRows({}, shown_, last - 1);
        shown_ = last;
        endInsertRows();
    } else if (morePages_) {
        emit moreWanted();
    }
}

} // namespace tolvane::directory
