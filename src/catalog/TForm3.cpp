#include "TForm3.h"

#include "app/WindowParts.h"
#include "catalog/StationEdits.h"
#include "common/Errors.h"
#include "common/Messages.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tolvane {

using namespace ui;

TForm3::TForm3() : QWidget(nullptr, Qt::Tool) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Remove Radio"));
    ui::closeOnEscape(this);
    auto* column = new QVBoxLayout(this);
    sLabelFX1 = heading("sLabelFX1", QStringLiteral("Remove radio station:"), this);
    column->addWidget(sLabelFX1);

    ListView1 = named(new QTreeWidget(this), "ListView1");
    ListView1->setAccessibleName(QStringLiteral("Stations"));
    ListView1->setHeaderLabels(
        {QStringLiteral("Radio station name"), QStringLiteral("Bitrate"), QStringLiteral("Genre")});
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setSectionsMovable(false);
    ListView1->setColumnWidth(0, 110);
    ListView1->setColumnWidth(1, 60);
    ListView1->setColumnWidth(2, 70);
    ListView1->setMinimumSize(260, 220);
    sLabelFX1->setBuddy(ListView1);
    column->addWidget(ListView1, 1);

    Button1 = named(new QPushButton(QStringLiteral("Delete Selected"), this), "Button1");
    Button1->setAccessibleName(Button1->text());
    Button1->setAutoDefault(false);
    column->addWidget(Button1, 0, Qt::AlignRight);
    Button2 = named(new QPushButton(QStringLiteral("Load List"), this), "Button2");
    Button2->hide();
    Edit1 = named(new QLineEdit(this), "Edit1");
    Edit1->hide();

    connect(Button1, &QPushButton::clicked, this,
            [this] { runGuarded([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { runGuarded([this] { Button2Click(); }); });
    // A fixed place on the screen, not centred.
    move(120, 120);
}

void TForm3::openFor(const QString& fileName) {
    Edit1->setText(fileName);
    if (isVisible()) {
        Button2Click();
        raise();
        activateWindow();
    } else {
        show(); // the showing lists the file
    }
}

void TForm3::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        runGuarded([this] { FormShow(); });
}

void TForm3::FormShow() {
    Button2Click();
}

void TForm3::Button2Click() {
    if (Edit1->text().isEmpty()) {
        ShowMessage(catalog::NotAvailableText);
        return;
    }
    // Read before the rows go, so an unreadable file keeps what is shown.
    const QVector<catalog::StationRow> rows = catalog::listStationFile(Edit1->text());
    ListView1->clear();
    QList<QTreeWidgetItem*> items;
    for (const catalog::StationRow& row : rows)
        items << new QTreeWidgetItem(QStringList{row.name, row.bitrate, row.genre});
    ListView1->addTopLevelItems(items);
}

void TForm3::Button1Click() {
    if (Edit1->text().isEmpty()) {
        ShowMessage(catalog::NotAvailableText);
        return;
    }
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    const int index = selected.isEmpty() ? -1 : ListView1->indexOfTopLevelItem(selected.first());
    const QString name = index < 0 ? QString() : selected.first()->text(0);
    if (!Confirm(catalog::DeleteQuestionText, ConfirmButtons::OkCancel, catalog::DeleteCaption) ||
        index < 0)
        return;
    catalog::eraseStation(Edit1->text(), name); // a failed write keeps the row
    // The question box let other events run: remove the row only if it is
    // still the one that was chosen.
    if (QTreeWidgetItem* row = ListView1->topLevelItem(index); row && row->text(0) == name)
        delete row;
    ShowMessage(catalog::DeletedText);
}

} // namespace tolvane
