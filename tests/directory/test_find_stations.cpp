// "Find Stations" in the running player against a loopback directory: a new
// user's search, play, add and reload; pages loaded as the list scrolls, and
// a refused reply.

#include "../playback/PlaybackFixture.h"
#include "DirectoryServer.h"
#include "common/IniFile.h"
#include "directory/ResultsModel.h"
#include "directory/TForm11.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

using namespace tolvane;
using namespace tolvane::test;
using directory::ResultsModel;

namespace {

struct FindFixture : PlaybackFixture {
    DirectoryServer directory;

    bool startWithDirectory() {
        if (!directory.start())
            return false;
        QByteArray services = folder.read("settings/services.dat");
        services.replace("directory=http://127.0.0.1:9", "directory=" + directory.base().toUtf8());
        folder.write("settings/services.dat", services);
        folder.write("settings/settings.dat", "[radio]\n");
        if (!startPlayer({{"Rock FM", "/rock"}}))
            return false;
        window()->typingPauseMs = 50;
        window()->limits.totalTimeoutMs = 2000;
        return true;
    }
    TForm11* window() { return app->forms().Form11; }
    QString status() { return window()->statusLabel->text(); }
    bool settled() {
        return waitFor([this] { return !status().isEmpty() && status() != "Searching..."; }, 10000);
    }
    FakeStation station(const char* name, const char* country, const char* code) {
        FakeStation s;
        s.uuid = QStringLiteral("uuid-") + name;
        s.name = QString::fromLatin1(name);
        s.url = url("/jazz") + ".m3u";
        s.urlResolved = url("/jazz");
        s.homepage = QStringLiteral("https://jazz.example");
        s.tags = QStringLiteral("smooth,jazz");
        s.country = QString::fromLatin1(country);
        s.countryCode = QString::fromLatin1(code);
        s.language = QStringLiteral("dutch,english");
        return s;
    }
};

} // namespace

class FindStationsTest : public QObject {
    Q_OBJECT
private slots:
    void newUser_searchesPlaysAddsAndFindsItInTheList() {
        FindFixture f;
        QVERIFY(f.startWithDirectory());
        f.server.setRoute("/jazz", f.audio());
        f.directory.addStation(f.station("Jazz Lounge", "Netherlands", "NL"));
        f.directory.addStation(f.station("Jazz Paris", "France", "FR"));
        FakeStation broken = f.station("Jazz Gone", "Netherlands", "NL");
        broken.lastCheckOk = false;
        f.directory.addStation(broken);
        f.form().findChild<QAction*>("Findstationsonline1")->trigger(); // Ctrl+K
        TForm11* w = f.window();
        QVERIFY(w->isVisible());
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        QCOMPARE(a->role(), QAccessible::Dialog);
        QCOMPARE(a->text(QAccessible::Name), QStringLiteral("Find Stations"));
        QVERIFY(f.settled());
        QCOMPARE(f.status(), QStringLiteral("2 stations found"));

        QTest::keyClicks(w->nameEdit, "jazz l");
        QVERIFY(waitFor([&] { return f.status() == "1 station found"; }));
        w->nameEdit->clear();
        QTest::keyClicks(w->nameEdit, "jazz");
        QVERIFY(waitFor([&] { return w->countryBox->findText("France") > 0; }));
        w->countryBox->setCurrentIndex(w->countryBox->findText("Netherlands"));
        QVERIFY(waitFor([&] { return f.directory.targets().last().contains("countrycode=NL"); }));
        QVERIFY(f.settled());
        QCOMPARE(w->results().rowCount(), 1);
        QCOMPARE(w->results().station(0)->name, QStringLiteral("Jazz Lounge"));
        QVERIFY(f.directory.targets().last().contains("name=jazz&"));

        w->resultList->setFocus();
        QTest::keyClick(w->resultList, Qt::Key_Return);
        QVERIFY(waitFor([&] { return f.form().Label4->text() == "Loopback Radio"; }, 15000));
        QVERIFY(waitFor([&] { return f.playing(f.form().CurrentStream); }, 15000));
        QCOMPARE(f.form().Edit3->text(), QStringLiteral("Jazz Lounge"));
        QVERIFY(f.form().TestStreamUrl().isEmpty());
        QVERIFY(waitFor([&] { return f.directory.hits("/json/url/uuid-Jazz%20Lounge") == 1; }));

        w->addButton->click();
        QCOMPARE(f.messages.texts(), {"Radio Jazz Lounge has been added successfully"});
        const QByteArray record = "[Jazz Lounge]\ngenre=Jazz\nlanguage=English\nwebsite=https://"
                                  "jazz.example\nstreaming=" +
                                  f.url("/jazz").toUtf8() + "\nbitrate=128\n";
        QCOMPARE(f.folder.read("radiouser.dat"), record);
        f.messages.answerNext(false); // the name is there: keep the old record
        w->addButton->click();
        QCOMPARE(f.messages.texts().size(), 2);
        QCOMPARE(f.folder.read("radiouser.dat"), record);
        w->favoritesButton->click();
        QCOMPARE(f.folder.read("favorites.dat"), record);

        f.form().findChild<QAction*>("ReloadPlaylist1")->trigger(); // Ctrl+R
        QVERIFY(f.listNames().contains("Jazz Lounge"));
        QTest::keyClick(w, Qt::Key_Escape);
        QVERIFY(!w->isVisible());
        IniFile saved(f.folder.file("settings/settings.dat"));
        QCOMPARE(saved.ReadString("directory", "name"), QStringLiteral("jazz"));
        QCOMPARE(saved.ReadString("directory", "countrycode"), QStringLiteral("NL"));
        f.log.reset();
        f.quit();
    }

    void scrolling_loadsPageAfterPageUpToTheLast_refusedReplyShowsNothing() {
        FindFixture f;
        QVERIFY(f.startWithDirectory());
        f.directory.addNumberedStations(120);
        f.form().invoke("FindStations");
        QVERIFY(f.settled());
        ResultsModel& results = f.window()->results();
        QCOMPARE(results.rowCount(), 50);
        QCOMPARE(f.status(), QStringLiteral("50 stations found, more as you scroll"));
        QVERIFY(waitFor([&] {
            f.window()->resultList->scrollToBottom();
            return results.rowCount() == 120;
        }));
        QVERIFY(f.settled());
        QCOMPARE(f.status(), QStringLiteral("120 stations found"));
        QCOMPARE(results.station(119)->name, QStringLiteral("Station 120"));
        QCOMPARE(f.directory.hits("/json/stations/search"), 3);

        // A reply refused is never half shown, and nothing is left to add.
        f.directory.setBehaviour(DirectoryServer::Behaviour::Malformed);
        f.window()->brokenBox->setChecked(true);
        QVERIFY(waitFor([&] {
            return f.status().startsWith("The station directory's reply was "
                                         "refused: name is not a text");
        }));
        QCOMPARE(results.rowCount(), 0);
        f.window()->addButton->click();
        QCOMPARE(f.status(), QStringLiteral("Choose a station in the list first"));
        QVERIFY(!f.folder.exists("radiouser.dat"));
        f.log.reset();
        f.quit();
    }
};

QTEST_MAIN(FindStationsTest)
#include "test_find_stations.moc"
