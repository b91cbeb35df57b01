// The station list: loading the catalog and the favorites through the
// filters, making a row the current station, stepping and searching.

#include "TForm1.h"

#include "catalog/Catalog.h"
#include "common/IniFile.h"
#include "common/Messages.h"
#include "common/Paths.h"

#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTreeWidget>

namespace tolvane {

namespace {

int selectedIndex(const QTreeWidget* list) {
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->indexOfTopLevelItem(selected.first());
}

catalog::Filter boxFilter(const QComboBox* language, const QComboBox* genre) {
    return catalog::Filter::fromBoxTexts(language->currentText(), genre->currentText());
}

} // namespace

void TForm1::showRows(const QVector<catalog::StationRow>& rows) {
    ListView1->setUpdatesEnabled(false);
    ListView1->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(rows.size());
    for (const catalog::StationRow& row : rows)
        items << new QTreeWidgetItem(QStringList{row.name, row.bitrate, row.genre});
    ListView1->addTopLevelItems(items);
    ListView1->setUpdatesEnabled(true);
}

void TForm1::fillFilterBoxes(const QStringList& languages, const QStringList& genres) {
    // Filling the boxes from code is no change of a filter: no load runs.
    const QSignalBlocker b1(ComboBox1), b2(ComboBox2);
    ComboBox1->clear();
    ComboBox1->addItems(languages);
    ComboBox1->addItem(catalog::AllEntry);
    ComboBox2->clear();
    ComboBox2->addItems(genres);
    ComboBox2->addItem(catalog::AllEntry);
    selectLastEntries();
}

void TForm1::selectLastEntries() {
    const QSignalBlocker b1(ComboBox1), b2(ComboBox2);
    ComboBox1->setCurrentIndex(ComboBox1->count() - 1);
    ComboBox2->setCurrentIndex(ComboBox2->count() - 1);
}

void TForm1::Button3Click() {
    // The files are read and temp.dat written before the list changes, so a
    // failed load keeps the rows shown.
    const catalog::LoadResult result =
        catalog::loadPlaylist(boxFilter(ComboBox1, ComboBox2), ShowMessage);
    showRows(result.rows);
}

void TForm1::duplicatesClick() {
    // The list as it stands, sorted and without repeated names; values come
    // from the working catalog.
    if (ListView1->topLevelItemCount() < 2)
        return;
    QVector<catalog::StationRow> rows;
    rows.reserve(ListView1->topLevelItemCount());
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ListView1->topLevelItem(i);
        rows.push_back({item->text(0), item->text(1), item->text(2)});
    }
    IniFile working(ProgramPath(catalog::WorkingCatalogFile));
    showRows(catalog::sortAndDropRepeats(rows, working.document()));
}

void TForm1::Button9Click() {
    selectLastEntries();
    const catalog::LoadResult result =
        catalog::loadFavorites(boxFilter(ComboBox1, ComboBox2), ShowMessage);
    showRows(result.rows);
}

void TForm1::Button8Click() {
    selectLastEntries();
    const int languageAt = ComboBox1->currentIndex();
    const int genreAt = ComboBox2->currentIndex();
    Button3Click();
    if (auto lists = catalog::readFilterLists())
        fillFilterBoxes(lists->first, lists->second);
    else
        ShowMessage(catalog::ListFilesMissingText);
    const QSignalBlocker b1(ComboBox1), b2(ComboBox2);
    ComboBox1->setCurrentIndex(languageAt);
    ComboBox2->setCurrentIndex(genreAt);
}

void TForm1::selectRow(int index, bool scroll) {
    QTreeWidgetItem* item = ListView1->topLevelItem(index);
    if (!item)
        return;
    // Making a row current scrolls to it; unless asked, the list stays where
    // the user left it.
    const int top = ListView1->verticalScrollBar()->value();
    const int left = ListView1->horizontalScrollBar()->value();
    ListView1->clearSelection();
    ListView1->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    item->setSelected(true);
    if (scroll) {
        ListView1->scrollToItem(item, QAbstractItemView::EnsureVisible);
    } else {
        ListView1->verticalScrollBar()->setValue(top);
        ListView1->horizontalScrollBar()->setValue(left);
    }
    ListView1->setFocus();
}

namespace {

// Makes a row the current station: its stream URL and website come from
// the working catalog under the row's name.
void makeCurrent(TForm1& form, const QString& name) {
    const catalog::StationLink link = catalog::readStationLink(name);
    form.Edit1->setText(link.streaming);
    form.Edit3->setText(name);
    form.Edit4->setText(link.website);
}

} // namespace

void TForm1::UseSelectedStation() {
    if (!catalog::workingCatalogExists())
        return;
    const int row = selectedIndex(ListView1);
    if (row < 0)
        return;
    makeCurrent(*this, ListView1->topLevelItem(row)->text(0));
}

void TForm1::sListView1DblClick() {
    if (!catalog::workingCatalogExists() || selectedIndex(ListView1) < 0)
        return;
    UseSelectedStation();
    invoke(QStringLiteral("Run"));
}

void TForm1::stepToStation(std::optional<int> (*step)(int selected, int rowCount)) {
    if (!catalog::workingCatalogExists())
        return;
    const auto row = step(selectedIndex(ListView1), ListView1->topLevelItemCount());
    if (!row)
        return;
    makeCurrent(*this, ListView1->topLevelItem(*row)->text(0));
    selectRow(*row, false); // selected and focused, but not scrolled to
    invoke(QStringLiteral("Run"));
}

void TForm1::NextStation() {
    stepToStation(catalog::nextStationRow);
}

void TForm1::PreviousStation() {
    stepToStation(catalog::previousStationRow);
}

void TForm1::FindStation() {
    const int count = ListView1->topLevelItemCount();
    if (count == 0)
        return;
    QStringList captions;
    captions.reserve(count);
    for (int i = 0; i < count; ++i)
        captions << ListView1->topLevelItem(i)->text(0);
    if (const auto row = catalog::findStationRow(captions, selectedIndex(ListView1), Edit2->text()))
        selectRow(*row, true);
    else
        selectRow(0, false);
}

} // namespace tolvane
