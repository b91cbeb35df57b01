// The lyrics window's browser comes from the web view module, which the
// player loads only at the window's first showing: a player that plays a
// station with the window never shown has neither the module nor the browser
// engine in memory. Without the module the window says that lyrics cannot be
// shown, and the rest of the player goes on working. On a private X display,
// so that what reaches the screen is what is checked.

#include "../app/XvfbDesktop.h"
#include "../playback/PlaybackFixture.h"
#include "HttpTestServer.h"
#include "online/TForm6.h"
#include "online/WebViewModule.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QScreen>
#include <QtTest>

#include <unistd.h>

using namespace tolvane;
using namespace tolvane::test;

namespace {

// Whether a file whose path holds `part` is mapped into this process.
bool mapped(const QByteArray& part) {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        qFatal("cannot read /proc/self/maps");
    return maps.readAll().contains(part);
}

const QByteArray ModuleFile = webview::moduleFileName().toUtf8();
const QByteArray BrowserEngine = "libQt6WebEngineCore";
// The lyrics page: one colour from edge to edge, to be seen on the screen.
const QColor PageColour(0x2a, 0x6f, 0x4e);

Desktop* desktop = nullptr;

// The colour on the screen at the middle of a widget.
QColor onScreen(QWidget* w) {
    const QImage shot = w->screen()->grabWindow(w->winId()).toImage();
    return shot.isNull() ? QColor() : shot.pixelColor(shot.width() / 2, shot.height() / 2);
}

// The player playing a loopback station whose song is "Artist - Song", with
// the lyrics service on a loopback site of its own.
struct LyricsFixture : PlaybackFixture {
    HttpTestServer site;
    bool startPlaying() {
        site.setRoute("/winamp03/plugin/",
                      "<html><body style=\"background:" + PageColour.name().toLatin1() +
                          "\"><h1>Song</h1></body></html>");
        server.setTitle("Artist - Song");
        pointServicesAt(site.url(""));
        if (!startPlayer({{QStringLiteral("Jazz FM"), "/jazz"}}))
            return false;
        server.setRoute("/jazz", audio(32000, 16384));
        selectRow(QStringLiteral("Jazz FM"));
        form().sListView1DblClick();
        return waitFor([&] { return form().Label3->text() == QLatin1String("Artist - Song"); },
                       20000);
    }
    TForm6* showLyrics() {
        form().findChild<QAction*>(QStringLiteral("Lyrics1"))->trigger();
        return app->forms().Form6;
    }
};

} // namespace

class LyricsModuleTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!desktop->ready() || QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("no Xvfb on this machine");
    }
    // Runs first: once loaded, the module stays in the process.
    void withoutTheModule_theWindowSaysLyricsCannotBeShown();
    void asRootWithoutTheSwitch_theWindowSaysWhyAndLoadsNothing();
    void module_isLoadedOnlyAtTheFirstShowing();
    void cleanup() { webview::setModuleFolder({}); }
};

void LyricsModuleTest::withoutTheModule_theWindowSaysLyricsCannotBeShown() {
    LyricsFixture f;
    webview::setModuleFolder(f.folder.file("no-module-here"));
    QVERIFY(f.startPlaying());
    TForm6* lyrics = f.showLyrics();
    QVERIFY(QTest::qWaitForWindowExposed(lyrics));
    auto* notice = qobject_cast<QLabel*>(lyrics->WebBrowser1);
    QVERIFY(notice);
    QVERIFY2(notice->text().startsWith(QLatin1String("Lyrics cannot be shown")),
             qPrintable(notice->text()));
    QCOMPARE(notice->accessibleName(), notice->text());
    QVERIFY(!mapped(ModuleFile));
    // The query is still made, for the page that cannot be shown; the share
    // panel works as before.
    QVERIFY(lyrics->query().toString().contains(QLatin1String("artist=Artist&title=Song")));
    f.form().findChild<QAction*>(QStringLiteral("ShareonFacebookandTwitter1"))->trigger();
    QVERIFY(f.form().share->isVisible());
    f.timedQuit();
}

void LyricsModuleTest::asRootWithoutTheSwitch_theWindowSaysWhyAndLoadsNothing() {
    if (::geteuid() != 0)
        QSKIP("needs the superuser");
    qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
    LyricsFixture f;
    webview::setModuleFolder(QStringLiteral(WEBVIEW_MODULE_DIR));
    QVERIFY(f.startPlaying());
    TForm6* lyrics = f.showLyrics();
    QVERIFY(QTest::qWaitForWindowExposed(lyrics));
    auto* notice = qobject_cast<QLabel*>(lyrics->WebBrowser1);
    QVERIFY(notice);
    QVERIFY2(notice->text().contains(QLatin1String("runs as root")) &&
                 notice->text().contains(QLatin1String("QTWEBENGINE_DISABLE_SANDBOX=1")),
             qPrintable(notice->text()));
    QVERIFY(!mapped(ModuleFile));
    QVERIFY(!mapped(BrowserEngine));
    f.timedQuit();
}

void LyricsModuleTest::module_isLoadedOnlyAtTheFirstShowing() {
    // As root (this machine's tests) the view is made only with the switch.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    LyricsFixture f;
    webview::setModuleFolder(QStringLiteral(WEBVIEW_MODULE_DIR));
    QVERIFY(QFile::exists(QStringLiteral(WEBVIEW_MODULE_DIR "/") + webview::moduleFileName()));
    QVERIFY(f.startPlaying());
    const std::uint32_t stream = f.form().CurrentStream.load();
    QVERIFY(waitFor([&] { return f.playing(stream); }));
    // Playing, song changed, lyrics asked for: no browser yet.
    QCOMPARE(f.app->forms().Form6->WebBrowser1, nullptr);
    QVERIFY(!mapped(ModuleFile));
    QVERIFY(!mapped(BrowserEngine));
    QCOMPARE(f.site.hits("/winamp03/plugin/"), 0);

    // The first showing loads the module and the browser, which fetches the
    // page of the song asked for last.
    TForm6* lyrics = f.showLyrics();
    QVERIFY(QTest::qWaitForWindowExposed(lyrics));
    QCOMPARE(lyrics->size(), QSize(336, 512));
    QVERIFY(lyrics->WebBrowser1);
    QVERIFY2(lyrics->WebBrowser1->inherits("QWebEngineView"),
             lyrics->WebBrowser1->metaObject()->className());
    QVERIFY(mapped(ModuleFile));
    QVERIFY(mapped(BrowserEngine));
    QVERIFY(waitFor([&] { return f.site.hits("/winamp03/plugin/") > 0; }, 30000));
    QVERIFY(f.site.targets().contains("/winamp03/plugin/?artist=Artist&title=Song"));
    // ...and draws it on the screen.
    QTRY_COMPARE_WITH_TIMEOUT(onScreen(lyrics->WebBrowser1), PageColour, 30000);
    QVERIFY(f.playing(stream));
    f.timedQuit();
}

int main(int argc, char** argv) {
    Desktop x(false);
    desktop = &x;
    QApplication app(argc, argv);
    LyricsModuleTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_lyrics_window_xvfb.moc"
