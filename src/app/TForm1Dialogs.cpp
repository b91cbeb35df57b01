// Favorites and the windows that add and remove stations, as the main
// window reaches them.

#include "TForm1.h"

#include "Forms.h"
#include "StationListView.h"
#include "catalog/Catalog.h"
#include "catalog/StationEdits.h"
#include "catalog/TForm2.h"
#include "catalog/TForm3.h"
#include "common/Messages.h"
#include "directory/TForm11.h"

#include <QLineEdit>

namespace tolvane {

void TForm1::Button4Click() {
    const int row = ListView1->selectedRow();
    if (row >= 0 && catalog::workingCatalogExists()) {
        const QString name = ListView1->name(row);
        // A row the working catalog lacks (a listed favorite that left the
        // catalog) would copy empty values over the favorite: refuse it.
        if (catalog::addFavorite(name))
            ShowMessage(catalog::addedToFavoritesText(name));
        else
            ShowMessage(catalog::notInCatalogText(name));
    }
    if (Edit3->text().isEmpty())
        ShowMessage(catalog::NoActiveStationText);
}

namespace {

void openRemoveWindow(Forms* forms, const QString& fileName) {
    if (auto* window = forms ? qobject_cast<TForm3*>(forms->Form3) : nullptr)
        window->openFor(fileName);
}

} // namespace

void TForm1::Button5Click() {
    openRemoveWindow(forms_, QStringLiteral("favorites.dat"));
}

void TForm1::Button6Click() {
    if (!forms_ || !forms_->Form2)
        return;
    forms_->Form2->show();
    forms_->Form2->raise();
    forms_->Form2->activateWindow();
    hide();
}

void TForm1::FindStationsClick() {
    if (!forms_ || !forms_->Form11)
        return;
    forms_->Form11->show();
    forms_->Form11->raise();
    forms_->Form11->activateWindow();
}

void TForm1::Button7Click() {
    openRemoveWindow(forms_, QStringLiteral("radiouser.dat"));
}

} // namespace tolvane
