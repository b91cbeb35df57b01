// The station list: loading the catalog and the favorites through the
// filters, making a row the current station, stepping and searching.

#include "TForm1.h"

#include "StationListView.h"
#include "catalog/Catalog.h"
#include "common/IniFile.h"
#include "common/Messages.h"
#include "common/Paths.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

namespace tolvane {

namespace {

catalog::Filter boxFilter(const QComboBox* language, const QComboBox* genre) {
    return catalog::Filter::fromBoxTexts(language->currentText(), genre->currentText());
}

} // namespace

void TForm1::showRows(const QVector<catalog::StationRow>& rows) {
    ListView1->setRows(rows);
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
    const QVector<catalog::StationRow>& rows = ListView1->stations().rows();
    if (rows.size() < 2)
        return;
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

namespace {

// Makes a row the current station: its stream URL and website come from
// the working catalog under the row's name.
void makeCurrent(TForm1& form, const QString& name) {
    const catalog::StationLink link = catalog::readStationLink(name);
    form.Edit1->setText(link.streaming);
    form.Edit3->setText(name);
    form.Edit4->setText(link.website);
    form.CurrentCharset = link.charset;
}

} // namespace

void TForm1::UseSelectedStation() {
    if (!catalog::workingCatalogExists())
        return;
    const int row = ListView1->selectedRow();
    if (row < 0)
        return;
    makeCurrent(*this, ListView1->name(row));
}

void TForm1::sListView1DblClick() {
    if (!catalog::workingCatalogExists() || ListView1->selectedRow() < 0)
        return;
    UseSelectedStation();
    invoke(QStringLiteral("Run"));
}

void TForm1::stepToStation(std::optional<int> (*step)(int selected, int rowCount)) {
    if (!catalog::workingCatalogExists())
        return;
    const auto row = step(ListView1->selectedRow(), ListView1->rowCount());
    if (!row)
        return;
    makeCurrent(*this, ListView1->name(*row));
    // Selected and focused, but not scrolled to.
    ListView1->selectOnly(*row, false);
    ListView1->setFocus();
    invoke(QStringLiteral("Run"));
}

void TForm1::NextStation() {
    stepToStation(catalog::nextStationRow);
}

void TForm1::PreviousStation() {
    stepToStation(catalog::previousStationRow);
}

void TForm1::FindStation() {
    const QVector<catalog::StationRow>& rows = ListView1->stations().rows();
    if (rows.isEmpty())
        return;
    QStringList captions;
    captions.reserve(rows.size());
    for (const catalog::StationRow& row : rows)
        captions << row.name;
    const auto match = catalog::findStationRow(captions, ListView1->selectedRow(), Edit2->text());
    // A match is scrolled to; without one the first row is selected where
    // the list stands.
    ListView1->selectOnly(match.value_or(0), match.has_value());
    ListView1->setFocus();
}

} // namespace tolvane
