// The online services through the real windows, against a loopback site of
// the test's own: the song picture and its popup, the lyrics query, the
// share pages, the banner rotation and its clicks, About and Help, and the
// update pass after a message box of the first showing.

#include "../app/AppFixture.h"
#include "HttpTestServer.h"
#include "UrlRecorder.h"
#include "app/Forms.h"
#include "common/IniFile.h"
#include "online/Pictures.h"
#include "online/TForm10.h"
#include "online/TForm6.h"
#include "online/TForm7.h"
#include "online/TForm9.h"
#include "update/TForm5.h"

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include <sys/stat.h>

using namespace tolvane;
using tolvane::test::AppFixture;
using tolvane::test::HttpTestServer;
using tolvane::test::UrlRecorder;

namespace {

QRgb centre(const QPixmap& p) {
    const QImage i = p.toImage();
    return i.pixel(i.width() / 2, i.height() / 2);
}

// A running program whose outside services all lie on a loopback site.
struct OnlineFixture : AppFixture {
    HttpTestServer site;
    explicit OnlineFixture(const QByteArray& settings = "[radio]\n") {
        pointServicesAt(site.url(""));
        installProgramFolder();
        folder.write("settings/settings.dat", settings);
    }
    Forms& forms() { return app->forms(); }
    // A song change as the stream's title brings it.
    void songChange(const QString& title) {
        form().Label3->setText(title);
        form().setSongTitle(title);
    }
};

} // namespace

class OnlineServicesTest : public QObject {
    Q_OBJECT
private slots:
    void songPicture_data();
    void songPicture();
    void lyricsQuery_followsTheSongSplit_data();
    void lyricsQuery_followsTheSongSplit();
    void share_opensEncodedPagesForTheCurrentStation_data();
    void share_opensEncodedPagesForTheCurrentStation();
    void boundedPicture_refusesWhatIsTooLargeOrNoFile_data();
    void boundedPicture_refusesWhatIsTooLargeOrNoFile();
    void banners_rotateAndOpenOnlyWebAddresses_data();
    void banners_rotateAndOpenOnlyWebAddresses();
    void aboutAndHelp_showTheirTextsAndOpenTheirLinks();
    void updatePass_runsOnceAfterAMessageBoxOfTheFirstShowing();
};

void OnlineServicesTest::songPicture_data() {
    QTest::addColumn<QByteArray>("lookup");  // reply of getimage.php
    QTest::addColumn<QByteArray>("picture"); // reply of imgsize.php
    QTest::addColumn<QString>("balloon");
    QTest::addColumn<QString>("shown"); // "song", "default" or "unchanged"
    QTest::addColumn<bool>("popup");

    const QByteArray red = test::solidJpeg(Qt::red, QSize(100, 80));
    QTest::newRow("picture and popup") << QByteArray("pic/one two.jpg\n") << red << "true"
                                       << "song" << true;
    QTest::newRow("two lines, no popup") << QByteArray("a\nb\n") << red << "false"
                                         << "song" << false;
    QTest::newRow("balloon True is off") << QByteArray("a\n") << red << "True"
                                         << "song" << false;
    QTest::newRow("empty lookup: no picture request") << QByteArray() << red << "true"
                                                      << "unchanged" << true;
    QTest::newRow("undecodable picture: the default one")
        << QByteArray("a\n") << QByteArray("not a jpeg") << "true"
        << "default" << true;
    QTest::newRow("picture wider than 4096 pixels: the default one")
        << QByteArray("a\n") << test::solidJpeg(Qt::red, QSize(4097, 8)) << "true"
        << "default" << true;
    QTest::newRow("lookup reply over 4 KB: no picture request")
        << QByteArray(4097, 'a') << red << "true"
        << "unchanged" << true;
}

void OnlineServicesTest::songPicture() {
    QFETCH(QByteArray, lookup);
    QFETCH(QByteArray, picture);
    QFETCH(QString, balloon);
    QFETCH(QString, shown);
    QFETCH(bool, popup);

    OnlineFixture f("[radio]\nsongimage=true\nballoon=" + balloon.toUtf8() + "\n");
    f.site.setRoute("/Download/getimage/getimage.php", lookup);
    f.site.setRoute("/Download/getimage/imgsize.php", picture);
    f.folder.write("songimage.jpg", "from the song before");
    QVERIFY(f.start());
    TForm1& form = f.form();
    QPixmap before(40, 40);
    before.fill(Qt::blue);
    form.Image1->setPixmap(before);

    QSignalSpy songTips(form.command("Button15"), &QAction::triggered);
    const QString title = QStringLiteral("AC/DC & Friends - T.N.T #1");
    f.songChange(title);
    QVERIFY(form.Timer5->Enabled());
    QCOMPARE(form.Timer5->Interval(), 1500);
    // The popup's turn comes once the picture is in.
    QVERIFY(test::waitFor([&] { return songTips.count() == 1; }, 8000));
    QVERIFY(!form.Timer5->Enabled());
    QCOMPARE(f.site.hits("/Download/getimage/getimage.php"), 1);

    // The title went whole into the lookup; the reply, line by line with
    // CR LF, into the picture request.
    const QList<QByteArray> targets = f.site.targets();
    QVERIFY(targets.contains(
        "/Download/getimage/getimage.php?name=AC%2FDC%20%26%20Friends%20-%20T.N.T%20%231"));
    QString reference;
    for (const QByteArray& line : lookup.split('\n'))
        if (!line.isEmpty())
            reference += QString::fromUtf8(line) + "\r\n";
    const int pictureRequests = f.site.hits("/Download/getimage/imgsize.php");
    // A lookup reply over 4 KB is no reply.
    QCOMPARE(pictureRequests, lookup.isEmpty() || lookup.size() > 4096 ? 0 : 1);
    if (pictureRequests)
        QCOMPARE(targets.last(), "/Download/getimage/imgsize.php?w=100&h=100&constrain=1&img=" +
                                     QUrl::toPercentEncoding(reference));
    // The old picture file never stays behind.
    QCOMPARE(f.folder.exists("songimage.jpg"), pictureRequests == 1);

    if (shown == "song")
        QCOMPARE(QColor(centre(form.Image1->pixmap())).red() > 200, true);
    else if (shown == "default")
        QCOMPARE(form.Image1->pixmap().toImage(), form.Image2->pixmap().toImage());
    else
        QCOMPARE(form.Image1->pixmap().toImage(), before.toImage());

    TForm7* tip = f.forms().Form7;
    QCOMPARE(tip->isVisible(), popup);
    if (popup) {
        QCOMPARE(tip->Label1->text(), title);
        QCOMPARE(tip->Label1->accessibleName(), title);
        QCOMPARE(tip->Image1->pixmap().isNull(), form.Image1->pixmap().isNull());
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(tip->frameGeometry().topLeft(),
                 screen.topLeft() + TForm7::placement(screen.size(), tip->frameGeometry().size()));
        QVERIFY(tip->Timer1->Enabled());
        QCOMPARE(tip->Timer1->Interval(), 4000);
        // Shown again while up: only the text changes, the count goes on.
        const QPoint place = tip->pos();
        f.songChange(QStringLiteral("Next"));
        form.Timer5->fire();
        QCOMPARE(tip->Label1->text(), QStringLiteral("Next"));
        QCOMPARE(tip->pos(), place);
        tip->Timer1->fire();
        QVERIFY(!tip->isVisible());
        QVERIFY(!tip->Timer1->Enabled());
    }
    f.quit();
}

void OnlineServicesTest::lyricsQuery_followsTheSongSplit_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("query"); // after the lyrics host; empty: none made
    QTest::newRow("artist and song") << "Artist - Song"
                                     << "?artist=Artist&title=Song";
    QTest::newRow("last dash") << "A - B - C"
                               << "?artist=A%20-%20B&title=C";
    QTest::newRow("no dash") << "News"
                             << "?artist=&title=News";
    QTest::newRow("song of blanks") << "Band -   "
                                    << "?artist=Band&title=";
    QTest::newRow("signs in the title") << "R&B - #1 + more"
                                        << "?artist=R%26B&title=%231%20%2B%20more";
    QTest::newRow("empty title") << ""
                                 << "";
}

void OnlineServicesTest::lyricsQuery_followsTheSongSplit() {
    QFETCH(QString, title);
    QFETCH(QString, query);
    OnlineFixture f;
    QVERIFY(f.start());
    TForm6* lyrics = f.forms().Form6;
    f.songChange(title);
    const QString page = query.isEmpty() ? QString() : f.site.url("/winamp03/plugin/" + query);
    QCOMPARE(lyrics->query().toString(QUrl::FullyEncoded), page);
    // Hidden all along: the browser engine was never started.
    QCOMPARE(lyrics->WebBrowser1, nullptr);

    // The first showing makes the view and loads the song asked for last.
    QStringList loaded;
    TForm6::viewMaker() = [&](QWidget* parent) {
        return TForm6::View{new QWidget(parent),
                            [&](const QUrl& u) { loaded << u.toString(QUrl::FullyEncoded); }};
    };
    lyrics->show();
    QVERIFY(lyrics->WebBrowser1);
    QCOMPARE(loaded, page.isEmpty() ? QStringList{} : QStringList{page});
    // From then on it follows the songs, shown or not.
    lyrics->hide();
    f.songChange("Later - Tune");
    QCOMPARE(loaded.last(), f.site.url("/winamp03/plugin/?artist=Later&title=Tune"));
    TForm6::viewMaker() = nullptr;
    f.quit();
}

void OnlineServicesTest::share_opensEncodedPagesForTheCurrentStation_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("website");
    QTest::addColumn<QStringList>("opened"); // after the hosts
    QTest::addColumn<QString>("message");
    QTest::newRow("plain")
        << "Jazz FM"
        << "http://jazz.example"
        << QStringList{"/sharer.php?u=http%3A%2F%2Fjazz.example&t=listen%20to%20Jazz%20FM",
                       "/home?status=Listen%20to%20Jazz%20FM%28http%3A%2F%2Fjazz.example%29%"
                       "20through%20Tolvane-free%20internet%20radio%20player"}
        << "";
    QTest::newRow("signs")
        << "R&B #1"
        << "http://a.example/?x=1&y=2"
        << QStringList{"/sharer.php?u=http%3A%2F%2Fa.example%2F%3Fx%3D1%26y%3D2&t=listen%20to%20R%"
                       "26B%20%231",
                       "/home?status=Listen%20to%20R%26B%20%231%28http%3A%2F%2Fa.example%2F%3Fx%"
                       "3D1%26y%3D2%29%20through%20Tolvane-free%20internet%20radio%20player"}
        << "";
    QTest::newRow("no name: panel, no pages") << ""
                                              << "http://a.example" << QStringList{} << "";
    QTest::newRow("no website: not active") << "Jazz FM"
                                            << "" << QStringList{} << "Radio station is not active";
}

void OnlineServicesTest::share_opensEncodedPagesForTheCurrentStation() {
    QFETCH(QString, name);
    QFETCH(QString, website);
    QFETCH(QStringList, opened);
    QFETCH(QString, message);
    UrlRecorder browser;
    OnlineFixture f;
    QVERIFY(f.start());
    TForm1& form = f.form();
    form.Edit3->setText(name);
    form.Edit4->setText(website);
    f.messages.clear();
    form.findChild<QAction*>("ShareonFacebookandTwitter1")->trigger();
    QCOMPARE(form.share->isVisible(), message.isEmpty());
    QCOMPARE(f.messages.texts(), message.isEmpty() ? QStringList{} : QStringList{message});
    QTest::mouseClick(form.Image4, Qt::LeftButton);
    QTest::keyClick(form.Image5, Qt::Key_Return); // by keyboard too
    QStringList expected;
    for (const QString& page : opened)
        expected << f.site.url(page);
    QCOMPARE(browser.openedText(), expected);
    // Neither picture hides the panel; "Close" does.
    QCOMPARE(form.share->isVisible(), message.isEmpty());
    QTest::mouseClick(form.sWebLabel1, Qt::LeftButton);
    QVERIFY(!form.share->isVisible());
    f.quit();
}

void OnlineServicesTest::boundedPicture_refusesWhatIsTooLargeOrNoFile_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("decoded");
    QTest::addColumn<bool>("program"); // one of the program folder's pictures
    QTest::newRow("4096 x 16") << "png" << QSize(4096, 16) << true << false;
    QTest::newRow("16 x 4097") << "png" << QSize(16, 4097) << false << false; // width: songPicture
    QTest::newRow("over the byte limit") << "big" << QSize(64, 64) << false << false;
    QTest::newRow("a FIFO") << "fifo" << QSize() << false << false;
    QTest::newRow("a folder") << "folder" << QSize() << false << false;
    // An update may replace Images/: the window's own pictures are bounded too.
    QTest::newRow("program 1024 x 8") << "png" << QSize(1024, 8) << true << true;
    QTest::newRow("program 8 x 1025") << "png" << QSize(8, 1025) << false << true;
    QTest::newRow("program FIFO") << "fifo" << QSize() << false << true;
}

void OnlineServicesTest::boundedPicture_refusesWhatIsTooLargeOrNoFile() {
    QFETCH(QString, kind);
    QFETCH(QSize, size);
    QFETCH(bool, decoded);
    QFETCH(bool, program);
    test::TestFolder folder;
    const QString path = folder.file("picture.png");
    PictureLimits limits;
    if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == "folder")
        QVERIFY(QDir().mkpath(path));
    else
        QVERIFY(QImage(size, QImage::Format_RGB32).save(path));
    if (kind == "big")
        limits.maxBytes = QFileInfo(path).size() - 1;
    QImage image;
    if (program) {
        const QString before = QDir::currentPath();
        QDir::setCurrent(folder.path());
        image = ProgramPicture(QStringLiteral("\\Picture.PNG")).toImage();
        QDir::setCurrent(before);
    } else {
        image = ReadPictureOffThread(path, "png", {}, limits);
    }
    QCOMPARE(image.size(), decoded ? size : QSize(0, 0));
}

void OnlineServicesTest::banners_rotateAndOpenOnlyWebAddresses_data() {
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QStringList>("headings"); // Label6 after each tick
    // Section 1 is words alone, with neither a website nor a picture.
    QTest::newRow("sections 1 to 3")
        << QByteArray("[1]\nname=one\ntext=words\n[2]\nname=two\nwebsite=http://"
                      "two.example\n"
                      " [x]\n[3]\nname=three\nwebsite=http://three.example\n")
        << QStringList{"", "one", "two", "three", "", ""};
    QTest::newRow("sections 0 to 2")
        << QByteArray("[0]\nname=zero\nwebsite=http://zero.example\n[1]\nname=one\nwebsite=http://"
                      "one.example\n"
                      "[2]\nname=two\nwebsite=http://two.example\n")
        << QStringList{"zero", "one", "two", "", "", "zero"};
}

void OnlineServicesTest::banners_rotateAndOpenOnlyWebAddresses() {
    QFETCH(QByteArray, list);
    QFETCH(QStringList, headings);
    UrlRecorder browser;
    OnlineFixture f;
    f.folder.write("reklame.dat", list);
    QVERIFY(f.start());
    TForm1& form = f.form();
    // At start the text panel is in front, with both labels empty.
    QVERIFY(form.sPanel5->isVisible());
    QCOMPARE(form.Label6->text() + form.Label7->text(), QString());
    form.invoke("Button13");
    QCOMPARE(form.BannerCount, 3);
    QVERIFY(form.Timer7->Enabled());
    QCOMPARE(form.Timer7->Interval(), 8000);
    QStringList seen;
    for (int i = 0; i < headings.size(); ++i) {
        form.Timer7->fire();
        seen << form.Label6->text();
        QVERIFY(form.sPanel5->isVisible()); // no picture ad: the words show
    }
    QCOMPARE(seen, headings);

    // A text ad opens its site from either label; an ad without a website
    // and a site that is no web address open nothing.
    f.folder.write("reklame.dat",
                   "[0]\nname=Text ad\ntext=Words\nwebsite=http://ad.example/?a=1\n"
                   "[1]\nname=Picture ad\nimage=ad.png\nwebsite=https://pic.example\n"
                   "[2]\nimage=ad.png\n[3]\nname=Local\nwebsite=file:///etc/passwd\n"
                   "[4]\nimage=../outside.png\n");
    QImage picture(281, 57, QImage::Format_RGB32);
    picture.fill(Qt::green);
    QDir(f.folder.path()).mkpath("banners");
    QVERIFY(picture.save(f.folder.file("banners/ad.png")));
    QVERIFY(picture.save(f.folder.file("outside.png")));
    form.invoke("Button13");
    form.Timer7->fire(); // 0: text ad
    QVERIFY(form.sPanel5->isVisible());
    QVERIFY(!form.Image3->isVisible());
    QCOMPARE(form.Label7->text(), QString("Words"));
    QTest::mouseClick(form.Label6, Qt::LeftButton);
    QTest::mouseClick(form.Label7, Qt::LeftButton);
    form.Timer7->fire(); // 1: picture ad
    QVERIFY(!form.sPanel5->isVisible());
    QVERIFY(form.Image3->isVisible());
    QCOMPARE(QColor(centre(form.Image3->pixmap())).green() > 200, true);
    QTest::mouseClick(form.Image3, Qt::LeftButton);
    form.Timer7->fire(); // 2: picture without a website
    QVERIFY(form.Image3->isVisible());
    QTest::mouseClick(form.Image3, Qt::LeftButton);
    form.Timer7->fire(); // 3: a local file
    QTest::mouseClick(form.Label6, Qt::LeftButton);
    form.Timer7->fire(); // 4: a picture outside banners/ is none
    QVERIFY(!form.Image3->isVisible());
    QCOMPARE(browser.openedText(), (QStringList{"http://ad.example/?a=1", "http://ad.example/?a=1",
                                                "https://pic.example"}));
    f.quit();
}

void OnlineServicesTest::aboutAndHelp_showTheirTextsAndOpenTheirLinks() {
    UrlRecorder browser;
    OnlineFixture f;
    QVERIFY(f.start());
    TForm10* help = f.forms().Form10;
    QCOMPARE(help->windowTitle(), QString("Help"));
    const QStringList memo1 = help->Memo1->toPlainText().split('\n');
    QCOMPARE(memo1.size(), 7);
    QCOMPARE(memo1.first(), QString("Supported formats: acc, wma, m3u"));
    QCOMPARE(memo1.last(),
             QString("All radio station that you have added, you can delete later ."));
    const QStringList memo2 = help->Memo2->toPlainText().split('\n');
    QCOMPARE(memo2.size(), 11);
    for (int line : {3, 5, 7, 9})
        QVERIFY2(memo2[line - 1].endsWith(' ') && !memo2[line - 1].endsWith("  "),
                 qPrintable(memo2[line - 1]));
    QCOMPARE(memo2.last(), QString("More options you can  found in the settings."));
    help->sWebLabel1Click();

    TForm9* about = f.forms().Form9;
    QPixmap picture(89, 81);
    picture.fill(Qt::yellow);
    f.form().Image2->setPixmap(picture);
    f.form().findChild<QAction*>("About1")->trigger();
    QVERIFY(about->isVisible());
    QCOMPARE(about->windowTitle(), QString("About"));
    QCOMPARE(about->Label1->text(), QString("Tolvane 1.3"));
    // The main window's default picture.
    QCOMPARE(about->Image1->pixmap().toImage(), picture.toImage());
    for (QToolButton* link : {about->Image2, about->Image3, about->Image4}) {
        QVERIFY(!link->accessibleName().isEmpty());
        link->click();
    }
    const QString base = f.site.url("");
    QCOMPARE(browser.openedText(), (QStringList{base + "/forum", base, base, base}));
    f.quit();
}

void OnlineServicesTest::updatePass_runsOnceAfterAMessageBoxOfTheFirstShowing() {
    // Message boxes that, like real ones, run an event loop while open.
    struct PumpingSink : MessageSink {
        QStringList texts;
        void show(const Message& m) override {
            texts << m.text;
            QTest::qWait(400);
        }
        bool confirm(const QString& text, const QString&, ConfirmButtons) override {
            texts << text;
            return false;
        }
    } sink;
    OnlineFixture f;
    f.runUpdatePass = true;
    f.connected = false;
    MessageSink* previous = setMessageSink(&sink);
    QVERIFY(f.start());
    QAction* update = f.form().command("Button10");
    QSignalSpy updates(update, &QAction::triggered);
    // Timer2 ticked inside the first showing's box; the pass still comes.
    QVERIFY(test::waitFor([&] { return sink.texts.size() == 2; }, 5000));
    QCOMPARE(sink.texts, (QStringList{"There is no active internet connection!",
                                      "No active internet connection"}));
    QCOMPARE(updates.count(), 1);
    QVERIFY(!f.form().Timer2->Enabled());
    QVERIFY(test::waitFor([&] { return !f.forms().Form5->isVisible(); }));
    QTest::qWait(300);
    QCOMPARE(updates.count(), 1);
    setMessageSink(previous);
    f.quit();
}

QTEST_MAIN(OnlineServicesTest)
#include "test_online_services.moc"
