// Favorites, "Add Radio Station" and "Remove Radio" through the real
// windows: the messages in their order, the records written key by key, and
// the files left alone when something is refused.

#include "../playback/PlaybackFixture.h"
#include "TlsProxy.h"
#include "catalog/StationEdits.h"
#include "catalog/TForm3.h"
#include "common/IniFile.h"

#include <QAccessible>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
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
    void addStation_testStreaming_saysWhatItFound_data();
    void addStation_testStreaming_saysWhatItFound();
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

    // A station's charset goes along with its record.
    f.folder.write("radiouser.dat", "[Radio Kyiv]\ngenre=Pop\nlanguage=Ukrainian\n"
                                    "streaming=http://127.0.0.1:9/kyiv\ncharset=windows-1251\n");
    form.invoke("Button3");
    selectByName(form.ListView1, "Radio Kyiv");
    form.invoke("Button4");
    IniFile favorites(f.folder.file("favorites.dat"));
    QCOMPARE(favorites.ReadString("Radio Kyiv", "charset"), QStringLiteral("windows-1251"));
    QCOMPARE(favorites.ReadString("Rock FM", "charset"), QString());
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

void StationWindowsTest::addStation_testStreaming_saysWhatItFound_data() {
    QTest::addColumn<int>("format"); // SampleFormat
    QTest::addColumn<int>("sampleRate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("encodedKbps");
    QTest::addColumn<bool>("tagged"); // Ogg comments carry a title
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<QString>("icyBr"); // empty: no icy-br header
    QTest::addColumn<int>("metaint");   // 0: no icy-metaint
    QTest::addColumn<QString>("way");   // how the test reaches the stream
    // {url}: the address that plays; {measured}: a measured rate.
    QTest::addColumn<QString>("expected");

    const int mp3 = int(SampleFormat::Mp3);
    const QString mpeg = QStringLiteral("audio/mpeg");
    const QString mp3Found =
        QStringLiteral("MP3 · 128 kbit/s · 44.1 kHz · stereo · titles in stream · {url}");
    QTest::newRow("MP3 over ICY") << mp3 << 44100 << 2 << 128 << false << mpeg << "128" << 8192
                                  << "direct" << mp3Found + " (not encrypted)";
    QTest::newRow("MP3, rate from its frames")
        << mp3 << 22050 << 1 << 64 << false << mpeg << "" << 0 << "direct"
        << "MP3 · 64 kbit/s · 22.05 kHz · mono · no titles in stream · {url} (not encrypted)";
    QTest::newRow("AAC") << int(SampleFormat::Aac) << 44100 << 2 << 128 << false << "audio/aac"
                         << "96" << 8192 << "direct"
                         << "AAC · 96 kbit/s · 44.1 kHz · stereo · titles in stream · {url} "
                            "(not encrypted)";
    QTest::newRow("WMA") << int(SampleFormat::Wma) << 44100 << 2 << 128 << false << "video/x-ms-asf"
                         << "128" << 0 << "direct"
                         << "WMA · 128 kbit/s · 44.1 kHz · stereo · no titles in stream · {url} "
                            "(not encrypted)";
    QTest::newRow("Ogg Vorbis, titles in its comments")
        << int(SampleFormat::Vorbis) << 44100 << 2 << 128 << true << "application/ogg"
        << "128" << 0 << "direct"
        << "Ogg Vorbis · 128 kbit/s · 44.1 kHz · stereo · titles in stream · {url} (not "
           "encrypted)";
    QTest::newRow("Ogg Opus, rate measured")
        << int(SampleFormat::Opus) << 44100 << 2 << 64 << false << "audio/ogg"
        << "" << 0 << "direct"
        << "Ogg Opus · about {measured} kbit/s (measured) · 48 kHz · stereo · no titles in "
           "stream · {url} (not encrypted)";
    QTest::newRow("playlist, redirect, stream")
        << mp3 << 44100 << 2 << 128 << false << mpeg << "128" << 8192 << "playlist"
        << mp3Found + " (not encrypted)";
    QTest::newRow("https") << mp3 << 44100 << 2 << 128 << false << mpeg << "128" << 8192 << "https"
                           << mp3Found + " (encrypted)";
    QTest::newRow("refused") << mp3 << 44100 << 2 << 128 << false << mpeg << "128" << 8192
                             << "refused"
                             << "not playing";
}

void StationWindowsTest::addStation_testStreaming_saysWhatItFound() {
    QFETCH(int, format);
    QFETCH(int, sampleRate);
    QFETCH(int, channels);
    QFETCH(int, encodedKbps);
    QFETCH(bool, tagged);
    QFETCH(QString, contentType);
    QFETCH(QString, icyBr);
    QFETCH(int, metaint);
    QFETCH(QString, way);
    QFETCH(QString, expected);

    PlaybackFixture f;
    QVERIFY(f.startPlayer({{"Jazz FM", "/jazz"}}));
    ToneShape shape;
    shape.sampleRate = sampleRate;
    shape.channels = channels;
    const std::string file =
        AudioSamples::tone(SampleFormat(format), shape, encodedKbps,
                           tagged ? "Loopback Artist" : "", tagged ? "Loopback Song" : "");
    QVERIFY2(!file.empty(), AudioSamples::lastError().c_str());
    StreamRoute route = StreamRoute::audio(file, true, metaint);
    route.contentType = contentType.toStdString();
    route.bitrate = icyBr.toStdString();
    route.name = "<b>Loopback</b> <Radio>"; // shown as sent, never as markup
    f.server.setRoute("/station", route);

    QString tested = f.url("/station");
    QString plays = tested;
    QTemporaryDir certificateDir;
    TlsProxy tls;
    if (way == QLatin1String("playlist")) {
        f.server.setRoute("/list.pls",
                          StreamRoute::playlist("[playlist]\nNumberOfEntries=1\nFile1=" +
                                                f.server.url("/moved") + "\n"));
        f.server.setRoute("/moved", StreamRoute::redirect(f.server.url("/station")));
        tested = f.url("/list.pls");
    } else if (way == QLatin1String("https")) {
        std::string error;
        const auto certificates =
            TestCertificates::make(certificateDir.path().toStdString(), &error);
        QVERIFY2(certificates, error.c_str());
        QVERIFY(tls.start(*certificates, f.server.port()));
        QVERIFY(f.engine().SetConfigPtr(engine::CONFIG_NET_CAFILE, certificates->caFile.c_str()));
        tested = plays = QString::fromStdString(tls.url("/station"));
    } else if (way == QLatin1String("refused")) {
        tested = QStringLiteral("http://127.0.0.1:%1/station").arg(refusingPort());
    }

    TForm2* w = f.app->forms().Form2;
    QLabel* found = w->TestFindings;
    f.form().invoke("Button6");
    w->Edit1->setText(tested);
    w->sBitBtn1->click();
    QString pattern = QRegularExpression::escape(expected);
    pattern.replace(QRegularExpression::escape(QStringLiteral("{url}")),
                    QRegularExpression::escape(plays));
    pattern.replace(QRegularExpression::escape(QStringLiteral("{measured}")),
                    QStringLiteral("[1-9][0-9]*"));
    const QRegularExpression whole(QLatin1Char('^') + pattern + QLatin1Char('$'));
    // A rate that must be measured shows once a little audio has decoded,
    // which may come after the stream started playing.
    QVERIFY(waitFor([&] { return !found->text().isEmpty(); }, 15000));
    QVERIFY2(waitFor([&] { return whole.match(found->text()).hasMatch(); }, 3000),
             qPrintable(found->text()));
    const QString text = found->text();
    if (way == QLatin1String("refused")) {
        QCOMPARE(text, f.form().Label4->text());
        QCOMPARE(f.messages.texts(), QStringList{"Service Unavailable   "});
    } else {
        QVERIFY(f.playing(f.form().CurrentStream));
        QCOMPARE(f.form().Label4->text(), QStringLiteral("<b>Loopback</b> <Radio>"));
        QCOMPARE(f.form().Label4->textFormat(), Qt::PlainText);
    }

    // Read by its text, and reachable from the keyboard while it says something.
    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(found);
    QVERIFY(reader);
    QCOMPARE(reader->text(QAccessible::Name), text);
    QVERIFY(found->textInteractionFlags() & Qt::TextSelectableByKeyboard);
    QCOMPARE(found->focusPolicy(), Qt::StrongFocus);

    // A new test starts afresh; a changed URL leaves nothing of the old one.
    w->sBitBtn1->click();
    QVERIFY(found->text().isEmpty());
    QVERIFY(reader->text(QAccessible::Name).isEmpty());
    QVERIFY(waitFor([&] { return !found->text().isEmpty(); }, 15000));
    w->Edit1->setText(tested + "?other");
    QVERIFY(found->text().isEmpty());
    QCOMPARE(found->focusPolicy(), Qt::NoFocus);
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
