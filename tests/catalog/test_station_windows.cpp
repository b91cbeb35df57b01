// Favorites, "Add Radio Station" and "Remove Radio" through the real
// windows: the messages in their order, the records written key by key, and
// the files left alone when something is refused.

#include "../playback/PlaybackFixture.h"
#include "catalog/StationEdits.h"
#include "catalog/TForm3.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

using namespace tolvane;
using namespace tolvane::test;

namespace {

// Works on the main list and on the Remove Radio window's.
template <typename List> void selectByName(List* list, const QString& name) {
    list->clearSelection();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->text(0) == name)
            list->topLevelItem(i)->setSelected(true);
    }
}

template <typename List> QStringList rowTexts(List* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const auto* item = list->topLevelItem(i);
        rows << item->text(0) + u'|' + item->text(1) + u'|' + item->text(2);
    }
    return rows;
}

TForm3* removeWindow(AppFixture& f) {
    return qobject_cast<TForm3*>(f.app->forms().Form3);
}

// Fills the lower panel of the add-station window.
void fillStation(TForm2* w, const QString& name, const QString& url, const QString& language,
                 const QString& genre, const QString& website) {
    w->Edit2->setText(name);
    w->Edit1->setText(url);
    w->ComboBox1->setEditText(language);
    w->ComboBox2->setEditText(genre);
    w->Edit3->setText(website);
}

} // namespace

class StationWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void addToFavorites_copiesRecordAndShowsMessagesInOrder();
    void addToFavorites_rowMissingFromCatalog_writesNothing();
    void clipboard_offersOnlyListedExtensions_data();
    void clipboard_offersOnlyListedExtensions();
    void addStation_checksInOrderThenWritesRecordKeyByKey();
    void addStation_testStreaming_fillsBitrateFromLoopbackStream();
    void removeWindow_listsFileAndErasesOnlyTheChosenSection();
};

void StationWindowsTest::addToFavorites_copiesRecordAndShowsMessagesInOrder() {
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    TForm1& form = f.form();

    // No row selected and no station: only the missing station is reported.
    form.ListView1->clearSelection();
    form.invoke("Button4");
    QCOMPARE(f.messages.texts(), QStringList{"No active radio station"});
    QVERIFY(!f.folder.exists("favorites.dat"));

    f.messages.clear();
    selectByName(form.ListView1, "Rock FM");
    form.invoke("Button4");
    QCOMPARE(f.messages.texts(), QStringList({"Rock FM has been added successfully to favorites",
                                              "No active radio station"}));
    const QByteArray record = "[Rock FM]\ngenre=Rock\nlanguage=English\n"
                              "website=http://rock.example\nstreaming=http://127.0.0.1:9/rock\n"
                              "bitrate=128\n";
    QCOMPARE(f.folder.read("favorites.dat"), record);

    // With a station current, a second addition replaces the record and
    // says nothing of the station.
    form.UseSelectedStation();
    f.messages.clear();
    form.invoke("Button4");
    QCOMPARE(f.messages.texts(), QStringList{"Rock FM has been added successfully to favorites"});
    QCOMPARE(f.folder.read("favorites.dat"), record);
    f.quit();
}

void StationWindowsTest::addToFavorites_rowMissingFromCatalog_writesNothing() {
    AppFixture f;
    f.installProgramFolder();
    const QByteArray favorites = "[Lost Station]\ngenre=Talk\nlanguage=German\n"
                                 "streaming=http://127.0.0.1:9/lost\nbitrate=48\n";
    f.folder.write("favorites.dat", favorites);
    QVERIFY(f.start());
    f.form().invoke("Button9");
    QCOMPARE(f.listNames(), QStringList{"Lost Station"});
    selectByName(f.form().ListView1, "Lost Station");
    f.form().Edit3->setText("Jazz Radio"); // a station is current
    f.form().invoke("Button4");
    QCOMPARE(f.messages.texts(), QStringList{catalog::notInCatalogText("Lost Station")});
    QCOMPARE(f.folder.read("favorites.dat"), favorites);
    f.quit();
}

void StationWindowsTest::clipboard_offersOnlyListedExtensions_data() {
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QString>("offered");
    QTest::newRow("pls") << "http://a.example/live.pls"
                         << "http://a.example/live.pls";
    QTest::newRow("m3u8 begins with m3u") << "http://a.example/x.m3u8"
                                          << "http://a.example/x.m3u8";
    QTest::newRow("wma") << "http://a.example/s.wma"
                         << "http://a.example/s.wma";
    QTest::newRow("acc") << "http://a.example/s.acc"
                         << "http://a.example/s.acc";
    QTest::newRow("ra") << "http://a.example/s.ra"
                        << "http://a.example/s.ra";
    QTest::newRow("ram") << "http://a.example/s.ram"
                         << "";
    QTest::newRow("mp3") << "http://a.example/s.mp3"
                         << "";
    QTest::newRow("upper case PLS") << "http://a.example/live.PLS"
                                    << "";
    QTest::newRow("no extension") << "stream"
                                  << "";
    QTest::newRow("dot only in host") << "http://radio.example/stream/"
                                      << "";
    QTest::newRow("port after last dot") << "http://radio.example:8000"
                                         << "";
    QTest::newRow("backslash after dot") << "C:\\x.pls\\a"
                                         << "";
    QTest::newRow("first non-empty line, trimmed")
        << "\n   \n  http://a.example/l.pls \r\nhttp://b.example/m.m3u"
        << "http://a.example/l.pls";
    QTest::newRow("later lines not searched") << "hello\nhttp://a.example/l.pls"
                                              << "";
}

void StationWindowsTest::clipboard_offersOnlyListedExtensions() {
    QFETCH(QString, clipboard);
    QFETCH(QString, offered);
    QCOMPARE(catalog::urlFromClipboard(clipboard), offered);
}

void StationWindowsTest::addStation_checksInOrderThenWritesRecordKeyByKey() {
    AppFixture f;
    f.installProgramFolder();
    QVERIFY(f.start());
    TForm1& form = f.form();
    TForm2* w = f.app->forms().Form2;

    // Opening offers a listed URL from the clipboard and hides the player.
    QGuiApplication::clipboard()->setText("  http://127.0.0.1:9/new.pls\n");
    form.invoke("Button6");
    QVERIFY(w->isVisible());
    QVERIFY(!form.isVisible());
    QCOMPARE(w->Edit1->text(), QString("http://127.0.0.1:9/new.pls"));
    QCOMPARE(w->ComboBox1->count(), 2); // the list file's lines, without "All"
    QCOMPARE(w->ComboBox2->itemText(2), QString("Rock"));
    QVERIFY(!w->Edit4->isVisibleTo(w));

    struct Case {
        QString name, url, language, genre, website, message;
    };
    const QList<Case> cases = {
        {"", "", "", "", "http://only.example", "You must fill all the data"},
        {"New FM", "", "English", "Rock", "", "Url streaming is empty"},
        {"", "http://x/a.pls", "", "", "", "Radio name is empty"},
        {"New FM", "http://x/a.pls", "", "Rock", "", "Language is not select"},
        {"New FM", "http://x/a.pls", "English", "", "", "Genre is not select"},
        {"Rock] FM", "http://x/a.pls", "English", "Rock", "", catalog::badNameText("Rock] FM")},
        {"   ", "http://x/a.pls", "English", "Rock", "", catalog::badNameText("   ")},
    };
    for (const Case& c : cases) {
        f.messages.clear();
        fillStation(w, c.name, c.url, c.language, c.genre, c.website);
        w->sBitBtn3->click();
        QCOMPARE(f.messages.texts(), QStringList{c.message});
        QVERIFY(w->isVisible());
        QVERIFY(!f.folder.exists("radiouser.dat"));
    }

    // Typed texts, not entries: a language the list lacks is kept as typed.
    f.messages.clear();
    fillStation(w, "New FM", "http://127.0.0.1:9/new.pls", "Klingon", "Rock", "");
    w->sBitBtn3->click();
    QCOMPARE(f.messages.texts(), QStringList{"Radio New FM has been added successfully"});
    QCOMPARE(f.folder.read("radiouser.dat"),
             QByteArray("[New FM]\ngenre=Rock\nlanguage=Klingon\nwebsite=\n"
                        "streaming=http://127.0.0.1:9/new.pls\nbitrate=\n"));
    QVERIFY(!w->isVisible());
    QVERIFY(form.isVisible());
    for (const QString& text : {w->Edit1->text(), w->Edit2->text(), w->Edit3->text(),
                                w->ComboBox1->currentText(), w->ComboBox2->currentText()})
        QVERIFY(text.isEmpty());

    // Not listed until the list is reloaded.
    QVERIFY(!f.listNames().contains("New FM"));
    form.invoke("Button8");
    QVERIFY(f.listNames().contains("New FM"));

    // A missing list file is reported at the opening; the box keeps its entries.
    QFile::remove(f.folder.file("settings/genre.dat"));
    QGuiApplication::clipboard()->setText("http://127.0.0.1:9/s.mp3");
    f.messages.clear();
    form.invoke("Button6");
    QCOMPARE(f.messages.texts(), QStringList{"Error: Genre.dat file is missing"});
    QVERIFY(w->Edit1->text().isEmpty());
    QCOMPARE(w->ComboBox2->count(), 3);
    w->sBitBtn4->click(); // Cancel writes nothing
    QVERIFY(form.isVisible());
    QCOMPARE(f.folder.read("radiouser.dat").count('['), 1);
    f.quit();
}

void StationWindowsTest::addStation_testStreaming_fillsBitrateFromLoopbackStream() {
    PlaybackFixture f;
    QVERIFY(f.startPlayer({{"Jazz FM", "/jazz"}}));
    StreamRoute route = f.audio();
    route.bitrate.clear();
    route.extraHeaders = {"icy-br:"}; // an empty bitrate header
    f.server.setRoute("/new", route);
    TForm2* w = f.app->forms().Form2;
    f.form().invoke("Button6");

    w->Edit1->clear();
    w->sBitBtn1->click();
    QCOMPARE(f.messages.texts(), QStringList{"URL stream is empty"});
    QCOMPARE(f.opener().runningWorkers(), 0);

    w->Edit1->setText(f.url("/new"));
    w->sBitBtn1->click();
    QCOMPARE(f.form().TestStreamUrl(), f.url("/new"));
    QVERIFY(waitFor([&] { return w->Edit4->text() == QLatin1String("n"); }, 15000));
    QVERIFY(w->Edit4->isVisibleTo(w));
    QVERIFY(waitFor([&] { return f.playing(f.form().CurrentStream); }, 15000));
    const std::uint32_t tested = f.form().CurrentStream;

    fillStation(w, "Loopback FM", f.url("/new"), "English", "Jazz", "http://loop.example");
    w->sBitBtn3->click();
    QVERIFY(f.folder.read("radiouser.dat").contains("\nbitrate=n\n"));
    QVERIFY(f.form().TestStreamUrl().isEmpty());
    QVERIFY(!f.playing(tested)); // OK stops the test

    // Cancel after a test leaves it playing and brings the player back.
    f.form().invoke("Button6");
    w->Edit1->setText(f.url("/new"));
    w->sBitBtn1->click();
    QVERIFY(waitFor([&] { return f.playing(f.form().CurrentStream); }, 15000));
    w->sBitBtn2->click();
    QVERIFY(f.form().isVisible());
    QVERIFY(f.form().TestStreamUrl().isEmpty());
    QVERIFY(f.playing(f.form().CurrentStream));
    QVERIFY(f.workersDone());
    f.timedQuit();
}

void StationWindowsTest::removeWindow_listsFileAndErasesOnlyTheChosenSection() {
    AppFixture f;
    f.installProgramFolder();
    const QByteArray user = "[Mine A]\r\nbitrate=96\r\ngenre=Pop\r\n"
                            "[Mine B]\r\ngenre=Talk\r\nstreaming=http://127.0.0.1:9/b\r\n"
                            "[Mine A]\r\nbitrate=1\r\n";
    f.folder.write("radiouser.dat", user);
    f.folder.write("favorites.dat", "[Only Favorite]");
    QVERIFY(f.start());
    TForm3* w = removeWindow(f);
    const QByteArray working = f.folder.read("temp.dat");

    f.form().invoke("Button7");
    QVERIFY(w->isVisible());
    QVERIFY(f.form().isVisible());
    // Values from the listed file; repeats kept, file order.
    QCOMPARE(rowTexts(w->ListView1),
             QStringList({"Mine A|96|Pop", "Mine B||Talk", "Mine A|96|Pop"}));
    // The working catalog is untouched: catalog stations stay playable.
    QCOMPARE(f.folder.read("temp.dat"), working);
    selectByName(f.form().ListView1, "Jazz Radio");
    f.form().UseSelectedStation();
    QCOMPARE(f.form().Edit1->text(), QString("http://127.0.0.1:9/jazz"));

    // Switching to the favorites while open lists them at once; one header
    // line is enough.
    f.form().invoke("Button5");
    QCOMPARE(rowTexts(w->ListView1), QStringList{"Only Favorite||"});
    f.form().invoke("Button7");

    // The question comes even without a selection; nothing is erased.
    w->ListView1->clearSelection();
    f.messages.answerNext(true);
    w->Button1->click();
    QCOMPARE(f.messages.texts(), QStringList{"Delete Selected?"});
    QCOMPARE(f.messages.messages().first().caption, QString("Confirm"));
    // Cancel erases nothing either.
    f.messages.clear();
    w->ListView1->topLevelItem(1)->setSelected(true);
    f.messages.answerNext(false);
    w->Button1->click();
    QCOMPARE(f.messages.texts(), QStringList{"Delete Selected?"});
    QCOMPARE(f.folder.read("radiouser.dat"), user);

    f.messages.clear();
    f.messages.answerNext(true);
    w->Button1->click();
    QCOMPARE(f.messages.texts(), QStringList({"Delete Selected?", "Radio has been deleted"}));
    QCOMPARE(f.folder.read("radiouser.dat"),
             QByteArray("[Mine A]\r\nbitrate=96\r\ngenre=Pop\r\n[Mine A]\r\nbitrate=1\r\n"));
    QCOMPARE(rowTexts(w->ListView1), QStringList({"Mine A|96|Pop", "Mine A|96|Pop"}));

    // Without a file chosen, both actions say so.
    w->Edit1->clear();
    f.messages.clear();
    w->Button2->click();
    w->Button1->click();
    QCOMPARE(f.messages.texts(), QStringList(2, catalog::NotAvailableText));
    f.quit();
}

QTEST_MAIN(StationWindowsTest)
#include "test_station_windows.moc"
