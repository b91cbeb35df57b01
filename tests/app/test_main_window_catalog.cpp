#include "AppFixture.h"
#include "app/QtMessageSink.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

using namespace tolvane;
using tolvane::test::AppFixture;
using tolvane::test::waitFor;

namespace {

int selectedRow(TForm1& form) {
    const auto items = form.ListView1->selectedItems();
    return items.isEmpty() ? -1 : form.ListView1->indexOfTopLevelItem(items.first());
}

} // namespace

class MainWindowCatalogTest : public QObject {
    Q_OBJECT
private slots:
    void typingInLanguageBox_loadsForEachEditAndMatchesExactly();
    void loadFavorites_resetsFiltersAndKeepsFavoritesOwnColumns();
    void reloadList_withGenreListMissing_reloadsThenReports();
    void unreadableStationFile_keepsRowsAndNamesTheFile();
    void nextAndPrevious_followSteppingRulesAndMakeRowCurrent();
    void search_stepsThroughMatchesThenFirstRow();
    void doubleClick_makesSelectedRowCurrentAndRuns();
    void filterBoxes_typedWithFocus_oneLoadPerKeyAndTextAsTyped();
    void steppingAndFailedSearch_keepTheScrollPosition();
    void doubleClickBelowRows_actsOnSelectedRow();
    void messageBoxes_areOwnedByTheMainWindow();
};

void MainWindowCatalogTest::typingInLanguageBox_loadsForEachEditAndMatchesExactly() {
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    QSignalSpy loads(f.form().command("Button3"), &QAction::triggered);
    QLineEdit* edit = f.form().ComboBox1->lineEdit();
    edit->clear();
    QCOMPARE(loads.count(), 1); // emptying the text is an edit too
    QCOMPARE(f.listNames().size(), 3);
    QTest::keyClicks(edit, "Eng");
    QCOMPARE(loads.count(), 4);
    QCOMPARE(f.listNames(), QStringList());
    QTest::keyClicks(edit, "lish");
    QCOMPARE(f.listNames(), QStringList({"ambient waves", "Rock FM"}));
    edit->setText("english"); // letter case counts
    QCOMPARE(f.listNames(), QStringList());
    f.quit();
}

void MainWindowCatalogTest::loadFavorites_resetsFiltersAndKeepsFavoritesOwnColumns() {
    AppFixture f;
    f.installProgramFolder();
    f.folder.write("favorites.dat", "[Rock FM]\ngenre=Rock\nbitrate=128\n"
                                    "[Lost Station]\ngenre=Talk\nlanguage=German\nbitrate=48\n");
    QVERIFY(f.start());
    f.form().ComboBox2->setCurrentIndex(1); // Jazz
    QCOMPARE(f.listNames(), QStringList({"Jazz Radio"}));
    f.form().invoke("Button9");
    QCOMPARE(f.form().ComboBox2->currentText(), QString("All"));
    QCOMPARE(f.listNames(), QStringList({"Lost Station", "Rock FM"}));
    // A favorite the working catalog lacks keeps its own bitrate and genre.
    QCOMPARE(f.form().ListView1->topLevelItem(0)->text(1), QString("48"));
    QCOMPARE(f.form().ListView1->topLevelItem(0)->text(2), QString("Talk"));
    QVERIFY(f.messages.texts().isEmpty());

    QFile::remove(f.folder.file("favorites.dat"));
    f.form().invoke("Button9");
    QCOMPARE(f.messages.texts(), QStringList{"You dont have favorite radio stations!"});
    QCOMPARE(f.listNames(), QStringList());
    f.quit();
}

void MainWindowCatalogTest::reloadList_withGenreListMissing_reloadsThenReports() {
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    f.form().ComboBox1->setCurrentIndex(1); // French
    QCOMPARE(f.listNames(), QStringList({"Jazz Radio"}));
    QFile::remove(f.folder.file("settings/genre.dat"));
    f.folder.write("radiouser.dat", "[Added]\ngenre=Rock\n");
    f.form().invoke("Button8");
    QCOMPARE(f.listNames(), QStringList({"Added", "ambient waves", "Jazz Radio", "Rock FM"}));
    QCOMPARE(f.messages.texts(),
             QStringList{"Some files are missing, try to reinstall the program"});
    QCOMPARE(f.form().ComboBox1->currentText(), QString("All"));
    QCOMPARE(f.form().ComboBox2->count(), 4); // entries kept
    f.quit();
}

void MainWindowCatalogTest::unreadableStationFile_keepsRowsAndNamesTheFile() {
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    QCOMPARE(f.listNames().size(), 3);
    QDir().mkdir(f.folder.file("radiouser.dat")); // a folder where a file should be
    f.form().invoke("Button3");
    QCOMPARE(f.listNames().size(), 3);
    QCOMPARE(f.messages.texts().size(), 1);
    QVERIFY(f.messages.texts().first().contains(f.folder.file("radiouser.dat")));
    f.quit();
}

void MainWindowCatalogTest::nextAndPrevious_followSteppingRulesAndMakeRowCurrent() {
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    TForm1& form = f.form();
    QSignalSpy runs(form.command("Run"), &QAction::triggered);

    form.PreviousStation(); // no selection: nothing
    QCOMPARE(runs.count(), 0);
    form.NextStation(); // no selection: the first row
    QCOMPARE(selectedRow(form), 0);
    QCOMPARE(form.Edit1->text(), QString("http://127.0.0.1:9/ambient"));
    QCOMPARE(form.Edit3->text(), QString("ambient waves"));
    QCOMPARE(form.Edit4->text(), QString());
    QCOMPARE(runs.count(), 1);
    form.NextStation();
    form.NextStation();
    QCOMPARE(selectedRow(form), 2);
    QCOMPARE(form.Edit4->text(), QString("http://rock.example"));
    form.NextStation(); // last row: nothing, no wrap-around
    QCOMPARE(selectedRow(form), 2);
    QCOMPARE(runs.count(), 3);
    form.PreviousStation();
    QCOMPARE(selectedRow(form), 1);
    QCOMPARE(form.Edit3->text(), QString("Jazz Radio"));
    form.PreviousStation();
    form.PreviousStation(); // first row: nothing
    QCOMPARE(selectedRow(form), 0);
    QCOMPARE(runs.count(), 5);

    // Without the working catalog the steps do nothing at all.
    QFile::remove(f.folder.file("temp.dat"));
    form.NextStation();
    QCOMPARE(selectedRow(form), 0);
    QCOMPARE(runs.count(), 5);
    f.quit();
}

void MainWindowCatalogTest::search_stepsThroughMatchesThenFirstRow() {
    AppFixture f;
    f.folder.write("radiolist.dat", "[Zulu]\n[Rock FM]\n[Beta]\n[Alpha fm]\n[Jazz FM]\n[Gamma]\n");
    QVERIFY(f.start());
    TForm1& form = f.form();
    // Sorted: Alpha fm, Beta, Gamma, Jazz FM, Rock FM, Zulu.
    QTest::keyClicks(form.Edit2, "fm");
    QTest::keyClick(form.Edit2, Qt::Key_Return);
    // The search starts after the first row, so "Alpha fm" is skipped.
    QCOMPARE(selectedRow(form), 3);
    form.searchbutton->click();
    QCOMPARE(selectedRow(form), 4);
    form.FindStation();
    QCOMPARE(selectedRow(form), 0); // no more matches: the first row
    form.FindStation();
    QCOMPARE(selectedRow(form), 3);

    // Enter in an empty search box does nothing; the button selects row 0.
    form.Edit2->clear();
    QTest::keyClick(form.Edit2, Qt::Key_Return);
    QCOMPARE(selectedRow(form), 3);
    form.FindStation();
    QCOMPARE(selectedRow(form), 0);
    f.quit();
}

void MainWindowCatalogTest::doubleClick_makesSelectedRowCurrentAndRuns() {
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    TForm1& form = f.form();
    QSignalSpy runs(form.command("Run"), &QAction::triggered);
    form.sListView1DblClick(); // nothing selected
    QCOMPARE(runs.count(), 0);
    form.ListView1->topLevelItem(1)->setSelected(true);
    form.sListView1DblClick();
    QCOMPARE(form.Edit1->text(), QString("http://127.0.0.1:9/jazz"));
    QCOMPARE(runs.count(), 1);
    // Enter in the list runs without making the row current first.
    form.ListView1->topLevelItem(2)->setSelected(true);
    QTest::keyClick(form.ListView1, Qt::Key_Return);
    QCOMPARE(runs.count(), 2);
    QCOMPARE(form.Edit3->text(), QString("Jazz Radio"));
    f.quit();
}

void MainWindowCatalogTest::filterBoxes_typedWithFocus_oneLoadPerKeyAndTextAsTyped() {
    AppFixture f;
    f.installProgramFolder();
    f.folder.write("settings/genre.dat", "German Pop\r\nRock\r\n");
    QVERIFY(f.start());
    TForm1& form = f.form();
    form.Timer2->stop(); // the update window would take the activation
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QSignalSpy loads(form.command("Button3"), &QAction::triggered);
    for (QComboBox* box : {form.ComboBox1, form.ComboBox2}) {
        loads.clear();
        box->setFocus();
        QVERIFY(waitFor([&] { return box->hasFocus(); }));
        box->lineEdit()->clear();
        loads.clear();
        QTest::keyClicks(box, box == form.ComboBox1 ? "Eng" : "ger");
        QCOMPARE(loads.count(), 3);
        QCOMPARE(box->currentText(), box == form.ComboBox1 ? QString("Eng") : QString("ger"));
        // Enter and leaving the box keep the text as typed.
        QTest::keyClick(box, Qt::Key_Return);
        form.ListView1->setFocus();
        QCOMPARE(box->currentText(), box == form.ComboBox1 ? QString("Eng") : QString("ger"));
        QCOMPARE(loads.count(), 3);
        QCOMPARE(f.listNames(), QStringList());
        box->setCurrentIndex(box->count() - 1); // back to "All"
    }
    QCOMPARE(form.ListView1->columnWidth(0), 110);
    QCOMPARE(form.ListView1->columnWidth(1), 50);
    QCOMPARE(form.ListView1->columnWidth(2), 80);
    f.quit();
}

void MainWindowCatalogTest::steppingAndFailedSearch_keepTheScrollPosition() {
    AppFixture f;
    QByteArray catalog;
    for (int i = 0; i < 80; ++i)
        catalog += QStringLiteral("[Station %1]\nstreaming=http://127.0.0.1:9/%1\n")
                       .arg(i, 2, 10, QChar(u'0'))
                       .toUtf8();
    f.folder.write("radiolist.dat", catalog);
    QVERIFY(f.start());
    TForm1& form = f.form();
    QScrollBar* bar = form.ListView1->verticalScrollBar();
    QVERIFY(waitFor([&] { return bar->maximum() > 0; }));
    form.ListView1->topLevelItem(0)->setSelected(true);
    bar->setValue(0);
    // Step well past the visible rows: the new row is selected, not shown.
    for (int i = 0; i < 40; ++i)
        form.next->click();
    QCOMPARE(selectedRow(form), 40);
    QCOMPARE(bar->value(), 0);
    for (int i = 0; i < 5; ++i)
        form.SpeedButton3->click();
    QCOMPARE(selectedRow(form), 35);
    QCOMPARE(bar->value(), 0);

    // A search without a match selects the first row where the list stands;
    // a match is scrolled to.
    bar->setValue(bar->maximum());
    form.Edit2->setText("nothing like it");
    form.searchbutton->click();
    QCOMPARE(selectedRow(form), 0);
    QCOMPARE(bar->value(), bar->maximum());
    form.Edit2->setText("station 3");
    form.searchbutton->click();
    QCOMPARE(selectedRow(form), 30);
    QVERIFY(form.ListView1->visualItemRect(form.ListView1->topLevelItem(30)).top() >= 0);
    QVERIFY(bar->value() < bar->maximum());
    f.quit();
}

void MainWindowCatalogTest::doubleClickBelowRows_actsOnSelectedRow() {
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    TForm1& form = f.form();
    QSignalSpy runs(form.command("Run"), &QAction::triggered);
    QWidget* viewport = form.ListView1->viewport();
    const QRect lastRow = form.ListView1->visualItemRect(form.ListView1->topLevelItem(2));
    const QPoint below(lastRow.center().x(), lastRow.bottom() + 20);
    QVERIFY(viewport->rect().contains(below));

    QTest::mouseDClick(viewport, Qt::LeftButton, {}, below); // nothing selected
    QCOMPARE(runs.count(), 0);
    // A click on a row selects it; a click below keeps it selected.
    QTest::mouseClick(viewport, Qt::LeftButton, {},
                      form.ListView1->visualItemRect(form.ListView1->topLevelItem(1)).center());
    QTest::mouseClick(viewport, Qt::LeftButton, {}, below);
    QCOMPARE(selectedRow(form), 1);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, below);
    QCOMPARE(form.Edit3->text(), QString("Jazz Radio"));
    QCOMPARE(form.Edit1->text(), QString("http://127.0.0.1:9/jazz"));
    QCOMPARE(runs.count(), 1);
    // A double click on a row (its first press selects it) acts once on it.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, lastRow.center());
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, lastRow.center());
    QCOMPARE(form.Edit3->text(), QString("Rock FM"));
    QCOMPARE(runs.count(), 2);
    f.quit();
}

void MainWindowCatalogTest::messageBoxes_areOwnedByTheMainWindow() {
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    f.form().Timer2->stop();
    QWidget* other = f.app->forms().Settings;
    other->show();
    other->activateWindow();
    QVERIFY(waitFor([&] { return QApplication::activeWindow() == other; }));
    QList<QWidget*> owners;
    auto answer = [&] {
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                owners << box->parentWidget();
                box->accept();
            }
        });
    };
    QtMessageSink sink;
    answer();
    sink.show({MessageKind::Information, "shown", {}});
    answer();
    sink.confirm("asked?", "Confirm", ConfirmButtons::OkCancel);
    QCOMPARE(owners, QList<QWidget*>({&f.form(), &f.form()}));
    f.quit();
}

QTEST_MAIN(MainWindowCatalogTest)
#include "test_main_window_catalog.moc"
