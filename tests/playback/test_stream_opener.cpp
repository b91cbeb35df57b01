// Playing a station through the real main window: Run and its worker on the
// engine's null output, against a loopback stream server. What the window
// shows, what it plays, what it frees, and that quitting never hangs.

#include "PlaybackFixture.h"
#include "TlsProxy.h"
#include "online/TForm6.h"

#include <QDeadlineTimer>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace tolvane;
using namespace tolvane::test;

namespace {

const QRegularExpression BufferingText(QStringLiteral("^buffering\\.\\.\\. (-?\\d+)%$"));

// The percentages of the "buffering... N%" texts, in order.
QList<int> percentages(const QStringList& statuses) {
    QList<int> values;
    for (const QString& s : statuses) {
        const QRegularExpressionMatch m = BufferingText.match(s);
        if (m.hasMatch())
            values << m.captured(1).toInt();
    }
    return values;
}

} // namespace

class StreamOpenerTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void run_showsConnectingThenBufferingThenStationName();
    void run_showsBitrateInLabelAndDialog();
    void run_emptyBitrate_givesDialogN();
    void run_withoutNameLine_keepsLastBufferingPercentage();
    void run_httpResponse_takesHeadersFromHttpLines();
    void title_reachesLabelAndSongTitle_andFollowsTheStation();
    void songChange_onlyWhenTitleDiffers();
    void songChange_splitsTitleForLyricsWindow();
    void run_refusedConnection_showsServiceUnavailable();
    void run_untrustedCertificate_saysSoInTheStatus();
    void run_emptyUrl_refusesWithoutWorker();
    void run_testStreamUrl_playsInPlaceOfStation();
    void run_testStreamUrl_fillsEmptyUrlKeepsName();
    void run_withoutTestUrl_playsSelectedRow();
    void run_withoutConnection_keepsPlayingStream();
    void run_whileNothingPlays_connectsAtOnceInTheSameOrder();
    void run_connectionTestFailsAfterEarlyConnect_reportsNothingOfIt();
    void manyQuickRuns_endWithOneStreamPlaying();
    void stop_duringBuffering_nothingStartsPlaying();
    void stop_keepsLabelsAndResetsClock();
    void levelMeter_followsPlayingStream();
    void quit_whileConnecting_endsPromptly();
    void quit_whileBuffering_endsPromptly();

private:
    std::unique_ptr<PlaybackFixture> f;
};

void StreamOpenerTest::init() {
    f = std::make_unique<PlaybackFixture>();
    QVERIFY(f->startPlayer({{QStringLiteral("Jazz FM"), "/jazz"},
                            {QStringLiteral("Rock FM"), "/rock"},
                            {QStringLiteral("Test Station"), "/test"}}));
}

void StreamOpenerTest::cleanup() {
    if (f && f->app)
        f->timedQuit();
    f.reset();
}

void StreamOpenerTest::run_showsConnectingThenBufferingThenStationName() {
    StreamRoute route = f->audio(40000, 8192);
    route.name = "Jazz FM Live";
    f->server.setRoute("/jazz", route);
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().sListView1DblClick();

    QVERIFY(
        waitFor([&] { return f->form().Label4->text() == QLatin1String("Jazz FM Live"); }, 20000));
    QStringList statuses = f->log->statuses();
    // The connection test and the clock's reset come before any status.
    QCOMPARE(statuses.takeFirst(), QStringLiteral("No active station"));
    QCOMPARE(statuses.first(), QStringLiteral("connecting..."));
    QCOMPARE(statuses.last(), QStringLiteral("Jazz FM Live"));
    // Everything in between is buffering progress, which stays at 60 or
    // below until its last pass.
    const QList<int> values = percentages(statuses);
    QCOMPARE(values.size(), statuses.size() - 2);
    QVERIFY2(values.size() >= 2, qPrintable(statuses.join(u'|')));
    for (int i = 0; i + 1 < values.size(); ++i)
        QVERIFY2(values[i] <= 60, qPrintable(statuses.join(u'|')));
    QVERIFY(values.last() > 60);

    // It plays, and the clock runs from the end of buffering.
    const std::uint32_t handle = f->form().CurrentStream.load();
    QVERIFY(handle != 0);
    QVERIFY(waitFor([&] { return f->playing(handle); }));
    QVERIFY(f->form().Timer3->isTicking());
    QVERIFY(f->workersDone());
}

void StreamOpenerTest::run_showsBitrateInLabelAndDialog() {
    f->server.setRoute("/jazz", f->audio());
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().sListView1DblClick();
    QVERIFY(waitFor([&] { return f->form().Label5->text() == QLatin1String("bitrate: 128"); }));
    // The status line came first, from the download callback.
    QVERIFY2(f->log->bitrates().contains(QStringLiteral("ICY 200 OK")),
             qPrintable(f->log->bitrates().join(u'|')));
    QCOMPARE(f->log->bitrates().last(), QStringLiteral("bitrate: 128"));
    TForm2* dialog = f->app->forms().Form2;
    QCOMPARE(dialog->Edit4->text(), QStringLiteral("128"));
    QVERIFY(dialog->Edit4->isVisibleTo(dialog)); // shown by its change
    QCOMPARE(f->form().Label4->text(), QStringLiteral("Loopback Radio"));
    QVERIFY(dialog->Label7->text().isEmpty()); // the name empties the dialog's progress
}

void StreamOpenerTest::run_emptyBitrate_givesDialogN() {
    StreamRoute route = f->audio();
    route.bitrate.clear();
    route.extraHeaders = {"icy-br:"};
    f->server.setRoute("/jazz", route);
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().sListView1DblClick();
    QVERIFY(waitFor([&] { return f->form().Label5->text() == QLatin1String("bitrate: "); }));
    QCOMPARE(f->app->forms().Form2->Edit4->text(), QStringLiteral("n"));
}

void StreamOpenerTest::run_withoutNameLine_keepsLastBufferingPercentage() {
    StreamRoute route = f->audio();
    route.name.clear();
    f->server.setRoute("/jazz", route);
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().sListView1DblClick();
    QVERIFY(waitFor([&] { return f->form().Label5->text() == QLatin1String("bitrate: 128"); }));
    QVERIFY(f->workersDone());
    const QRegularExpressionMatch m = BufferingText.match(f->form().Label4->text());
    QVERIFY2(m.hasMatch(), qPrintable(f->form().Label4->text()));
    QVERIFY(m.captured(1).toInt() > 60);
}

void StreamOpenerTest::run_httpResponse_takesHeadersFromHttpLines() {
    StreamRoute route = f->audio();
    route.icy = false;
    route.name = "Http Station";
    route.bitrate = "96";
    f->server.setRoute("/jazz", route);
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().sListView1DblClick();
    QVERIFY(waitFor([&] { return f->form().Label4->text() == QLatin1String("Http Station"); }));
    QVERIFY(waitFor([&] { return f->form().Label5->text() == QLatin1String("bitrate: 96"); }));
    QVERIFY(f->log->bitrates().contains(QStringLiteral("HTTP/1.0 200 OK")));
}

void StreamOpenerTest::title_reachesLabelAndSongTitle_andFollowsTheStation() {
    f->server.setTitle("Artist - Song");
    f->server.setRoute("/jazz", f->audio(32000, 16384));
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().sListView1DblClick();
    QVERIFY(
        waitFor([&] { return f->form().Label3->text() == QLatin1String("Artist - Song"); }, 20000));
    QCOMPARE(f->form().SongTitle(), QStringLiteral("Artist - Song"));

    // A later title arrives through the engine's metadata callback.
    f->server.setTitle("Next Artist - Next Song");
    QVERIFY(waitFor(
        [&] { return f->form().Label3->text() == QLatin1String("Next Artist - Next Song"); },
        20000));
    QCOMPARE(f->form().SongTitle(), QStringLiteral("Next Artist - Next Song"));
}

void StreamOpenerTest::songChange_onlyWhenTitleDiffers() {
    int changes = 0;
    QStringList seen;
    QObject::connect(f->form().Edit5, &QLineEdit::textChanged, [&](const QString& t) {
        ++changes;
        seen << t;
    });
    f->server.setTitle("First");
    f->server.setRoute("/jazz", f->audio(32000, 16384));
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().sListView1DblClick();
    QVERIFY(waitFor([&] { return f->form().SongTitle() == QLatin1String("First"); }, 20000));
    // The same title in block after block is no change; the clock runs on.
    QTest::qWait(1500);
    QCOMPARE(changes, 1);
    QVERIFY(f->form().Timer->text() != QLatin1String("00:00:00"));

    f->server.setTitle("Second");
    QVERIFY(waitFor([&] { return f->form().SongTitle() == QLatin1String("Second"); }, 20000));
    QCOMPARE(changes, 2);
    // The song change restarted the clock.
    QVERIFY(f->form().Timer3->isTicking());
    QCOMPARE(f->form().ClockMinutes, 0);
    QVERIFY(f->form().ClockSeconds <= 1);

    // Opening again empties the title first: a song change with no title.
    f->form().sListView1DblClick();
    QVERIFY(waitFor([&] { return changes == 4; }, 20000));
    QCOMPARE(seen, (QStringList{"First", "Second", "", "Second"}));
}

void StreamOpenerTest::songChange_splitsTitleForLyricsWindow() {
    QLineEdit* artist = f->app->forms().Form6->Edit1;
    QLineEdit* song = f->app->forms().Form6->Edit2;

    f->server.setTitle("A - B - C");
    f->server.setRoute("/jazz", f->audio());
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().sListView1DblClick();
    QVERIFY(waitFor([&] { return f->form().SongTitle() == QLatin1String("A - B - C"); }, 20000));
    QCOMPARE(artist->text(), QStringLiteral("A - B "));
    QCOMPARE(song->text(), QStringLiteral(" C"));

    // An empty title leaves both fields as they were.
    f->form().setSongTitle(QString());
    QCOMPARE(artist->text(), QStringLiteral("A - B "));
    QCOMPARE(song->text(), QStringLiteral(" C"));
}

void StreamOpenerTest::run_refusedConnection_showsServiceUnavailable() {
    // A title from before: emptying it at "connecting..." restarts the clock.
    f->form().setSongTitle(QStringLiteral("Earlier Song"));
    f->form().Edit1->setText(QStringLiteral("http://127.0.0.1:%1/radio").arg(refusingPort()));
    f->invokeRun();
    QVERIFY(waitFor([&] { return f->form().Label4->text() == QLatin1String("not playing"); }));
    QVERIFY(f->workersDone());
    // Nothing plays: the clock stands at zero, whatever the title did.
    QVERIFY(!f->form().Timer3->isTicking());
    QCOMPARE(f->form().Timer->text(), QStringLiteral("00:00:00"));
    QVERIFY(f->form().SongTitle().isEmpty());
    const QList<Message> messages = f->messages.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().text, QStringLiteral("Service Unavailable   "));
    QCOMPARE(messages.first().kind, MessageKind::Plain);
    QVERIFY(f->log->statuses().contains(QStringLiteral("connecting...")));
    QVERIFY(f->opener().openedStreams().isEmpty());
}

void StreamOpenerTest::run_untrustedCertificate_saysSoInTheStatus() {
    // An https station whose certificate no authority of the system vouches for.
    QTemporaryDir dir;
    std::string error;
    const auto certificates = TestCertificates::make(dir.path().toStdString(), &error);
    QVERIFY2(certificates, error.c_str());
    TlsProxy tls;
    QVERIFY(tls.start(*certificates, f->server.port()));
    f->server.setRoute("/jazz", f->audio());
    f->form().Edit1->setText(QString::fromStdString(tls.url("/jazz")));
    f->invokeRun();
    QVERIFY(f->workersDone(20000));
    QCOMPARE(f->form().Label4->text(),
             QStringLiteral("not playing: the station's certificate is not trusted"));
    QCOMPARE(f->messages.texts(), QStringList{QStringLiteral("Service Unavailable   ")});
    QCOMPARE(f->server.requests("/jazz"), 0);
    QCOMPARE(tls.refusedHandshakes(), 1);
}

void StreamOpenerTest::run_emptyUrl_refusesWithoutWorker() {
    // Enter in the list before any station was current: nothing to play.
    f->selectRow(QStringLiteral("Jazz FM"));
    f->invokeRun();
    QCOMPARE(f->messages.texts(), QStringList{QStringLiteral("Radio streaming does not exist")});
    QCOMPARE(f->opener().runningWorkers(), 0);
    QTest::qWait(200);
    QCOMPARE(f->server.requests("/jazz"), 0);
    QCOMPARE(f->form().Label4->text(), QStringLiteral("No active station"));
}

void StreamOpenerTest::run_testStreamUrl_playsInPlaceOfStation() {
    f->server.setRoute("/jazz", f->audio());
    f->server.setRoute("/test", f->audio());
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().UseSelectedStation();
    f->form().Edit8->setText(f->url("/test"));
    f->invokeRun();
    QVERIFY(waitFor([&] { return f->form().Label5->text() == QLatin1String("bitrate: 128"); }));
    QCOMPARE(f->server.requests("/test"), 1);
    QCOMPARE(f->server.requests("/jazz"), 0);
    // The tested URL is now the current one; the name stays.
    QCOMPARE(f->form().Edit1->text(), f->url("/test"));
    QCOMPARE(f->form().Edit3->text(), QStringLiteral("Jazz FM"));
}

void StreamOpenerTest::run_testStreamUrl_fillsEmptyUrlKeepsName() {
    f->server.setRoute("/test", f->audio());
    f->form().Edit8->setText(f->url("/test"));
    f->invokeRun();
    QVERIFY(waitFor([&] { return f->server.requests("/test") == 1; }));
    QCOMPARE(f->form().Edit1->text(), f->url("/test"));
    QVERIFY(f->form().Edit3->text().isEmpty());
    QVERIFY(f->messages.texts().isEmpty());
}

void StreamOpenerTest::run_withoutTestUrl_playsSelectedRow() {
    f->server.setRoute("/jazz", f->audio());
    f->server.setRoute("/rock", f->audio());
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().UseSelectedStation();
    f->selectRow(QStringLiteral("Rock FM"));
    f->invokeRun(); // Enter: Run makes the selected row current itself
    QVERIFY(waitFor([&] { return f->server.requests("/rock") == 1; }));
    QCOMPARE(f->server.requests("/jazz"), 0);
    QCOMPARE(f->form().Edit3->text(), QStringLiteral("Rock FM"));
}

void StreamOpenerTest::run_withoutConnection_keepsPlayingStream() {
    f->server.setRoute("/jazz", f->audio());
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().sListView1DblClick();
    QVERIFY(f->workersDone());
    const std::uint32_t handle = f->form().CurrentStream.load();
    QVERIFY(waitFor([&] { return f->playing(handle); }));

    f->connected = false;
    f->selectRow(QStringLiteral("Rock FM"));
    f->form().sListView1DblClick();
    QVERIFY(waitFor([&] { return !f->messages.texts().isEmpty(); }));
    QCOMPARE(f->messages.texts(), QStringList{QStringLiteral("No internet connection!")});
    QVERIFY(f->workersDone());
    QCOMPARE(f->form().CurrentStream.load(), handle);
    QVERIFY(f->playing(handle));
    QCOMPARE(f->server.requests("/rock"), 0);
}

// The window handles nothing for a while after Run: the connection is made
// and its head read meanwhile, yet the window hears of it only after its own
// first steps ("connecting..." empties the bitrate label first).
void StreamOpenerTest::run_whileNothingPlays_connectsAtOnceInTheSameOrder() {
    f->server.setRoute("/jazz", f->audio());
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().sListView1DblClick();
    QDeadlineTimer deadline(5000);
    while (f->server.requests("/jazz") == 0 && !deadline.hasExpired())
        QThread::msleep(5);
    QThread::msleep(200);
    QCOMPARE(f->server.requests("/jazz"), 1);
    QVERIFY(f->log->statuses().size() <= 1);
    QVERIFY(waitFor([&] { return f->form().Label5->text() == QLatin1String("bitrate: 128"); }));
    QCOMPARE(f->log->statuses().mid(1, 1), QStringList{QStringLiteral("connecting...")});
    QCOMPARE(
        f->log->bitrates().mid(f->log->bitrates().indexOf(QString())),
        (QStringList{QString(), QStringLiteral("ICY 200 OK"), QStringLiteral("bitrate: 128")}));
}

void StreamOpenerTest::run_connectionTestFailsAfterEarlyConnect_reportsNothingOfIt() {
    f->server.setRoute("/jazz", f->audio());
    int tests = 0;
    f->form().IsConnected = [&] { return ++tests == 1; }; // Run's look, then the worker's
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().sListView1DblClick();
    QVERIFY(waitFor([&] { return !f->messages.texts().isEmpty(); }));
    QVERIFY(f->workersDone());
    QCOMPARE(f->messages.texts(), QStringList{QStringLiteral("No internet connection!")});
    QCOMPARE(f->server.requests("/jazz"), 1);
    QCOMPARE(f->form().CurrentStream.load(), 0u);
    QVERIFY(!f->log->statuses().contains(QStringLiteral("connecting...")));
    QVERIFY(!f->log->bitrates().contains(QStringLiteral("ICY 200 OK")));
}

void StreamOpenerTest::manyQuickRuns_endWithOneStreamPlaying() {
    f->server.setRoute("/jazz", f->audio(64000, 16384));
    f->server.setRoute("/rock", f->audio(64000, 16384));
    for (int i = 0; i < 20; ++i) {
        f->selectRow(i % 2 ? QStringLiteral("Rock FM") : QStringLiteral("Jazz FM"));
        f->form().sListView1DblClick();
        // Let some of them get as far as connecting or buffering.
        QTest::qWait(i % 3 == 0 ? 60 : 5);
    }
    // Ten more while the window handles no events in between: each worker
    // gets as far as asking the window to show its status. The stale ones
    // end by themselves all the same; none waits for a window call that no
    // longer matters.
    for (int i = 0; i < 10; ++i) {
        f->selectRow(i % 2 ? QStringLiteral("Rock FM") : QStringLiteral("Jazz FM"));
        f->form().sListView1DblClick();
        QThread::msleep(30);
    }
    QDeadlineTimer staleGone(10000);
    while (f->opener().runningWorkers() > 1 && !staleGone.hasExpired())
        QThread::msleep(10);
    QCOMPARE_LE(f->opener().runningWorkers(), 1);
    QVERIFY(f->workersDone(30000));
    // The last one plays (Rock FM, the 20th) ...
    QVERIFY(waitFor([&] { return f->form().Label4->text() == QLatin1String("Loopback Radio"); }));
    QCOMPARE(f->form().Edit3->text(), QStringLiteral("Rock FM"));
    const std::uint32_t current = f->form().CurrentStream.load();
    QVERIFY(current != 0);
    QVERIFY(waitFor([&] { return f->playing(current); }));
    // ... and every other stream opened on the way is freed, its
    // connection closed.
    const QList<std::uint32_t> opened = f->opener().openedStreams();
    QVERIFY(opened.contains(current));
    for (std::uint32_t h : opened) {
        if (h != current)
            QVERIFY2(f->freed(h), qPrintable(QString::number(h)));
    }
    QVERIFY(waitFor([&] { return f->server.activeConnections() == 1; }, 10000));
    // The clock runs for the stream that plays.
    QVERIFY(f->form().Timer3->isTicking());
}

void StreamOpenerTest::stop_duringBuffering_nothingStartsPlaying() {
    f->server.setRoute("/jazz", f->audio(20000, 4096));
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().sListView1DblClick();
    QVERIFY(
        waitFor([&] { return BufferingText.match(f->form().Label4->text()).hasMatch(); }, 20000));
    f->form().stopClick();
    QVERIFY(f->workersDone());
    QVERIFY(f->freed(f->form().CurrentStream.load()));
    QVERIFY(waitFor([&] { return f->server.activeConnections() == 0; }));
    QCOMPARE(f->form().Timer->text(), QStringLiteral("00:00:00"));
    QVERIFY(!f->form().Timer3->isTicking());
}

void StreamOpenerTest::stop_keepsLabelsAndResetsClock() {
    f->server.setTitle("Kept Title");
    f->server.setRoute("/jazz", f->audio());
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().sListView1DblClick();
    QVERIFY(waitFor([&] { return f->form().SongTitle() == QLatin1String("Kept Title"); }, 20000));
    QVERIFY(f->workersDone());
    const std::uint32_t handle = f->form().CurrentStream.load();
    QVERIFY(waitFor([&] { return f->playing(handle); }));

    f->form().stopClick();
    QVERIFY(!f->playing(handle));
    QVERIFY(!f->freed(handle)); // stopped, not freed
    QCOMPARE(f->form().Label4->text(), QStringLiteral("Loopback Radio"));
    QCOMPARE(f->form().Label3->text(), QStringLiteral("Kept Title"));
    QCOMPARE(f->form().SongTitle(), QStringLiteral("Kept Title"));
    QCOMPARE(f->form().Timer->text(), QStringLiteral("00:00:00"));
    QVERIFY(!f->form().Timer3->isTicking());

    // Play starts the selected station again.
    f->form().playClick();
    QVERIFY(waitFor([&] { return f->form().CurrentStream.load() != handle; }));
    QVERIFY(f->workersDone());
    QVERIFY(waitFor([&] { return f->playing(f->form().CurrentStream.load()); }));
    QVERIFY(f->freed(handle));
}

void StreamOpenerTest::levelMeter_followsPlayingStream() {
    TForm1& form = f->form();
    // No stream: the engine cannot measure; that is silence, not a peak.
    form.Timer8->fire();
    QCOMPARE(form.sGauge1->value(), 0);
    QCOMPARE(form.LevelPeak, 0);

    // The sample tone's left channel peaks at half of full scale.
    f->server.setRoute("/jazz", f->audio());
    f->selectRow(QStringLiteral("Jazz FM"));
    form.sListView1DblClick();
    QVERIFY(f->workersDone());
    QVERIFY(waitFor([&] {
        form.Timer8->fire();
        return form.LevelPeak > 12000;
    }));
    QVERIFY2(form.LevelPeak < 20000, qPrintable(QString::number(form.LevelPeak)));
    for (int i = 0; i < 10; ++i) {
        QTest::qWait(25);
        form.Timer8->fire();
    }
    // The gauge's scale follows the peak; a steady tone keeps the bar high.
    QVERIFY(form.sGauge1->maximum() > 12000);
    QVERIFY(form.sGauge1->maximum() <= form.LevelPeak);
    QVERIFY(form.sGauge1->value() > form.sGauge1->maximum() / 2);

    // Stopped: the bar drops to nothing, the peak stays.
    const int peak = form.LevelPeak;
    form.stopClick();
    form.Timer8->fire();
    QCOMPARE(form.sGauge1->value(), 0);
    QCOMPARE(form.LevelPeak, peak);
}

void StreamOpenerTest::quit_whileConnecting_endsPromptly() {
    f->server.setRoute("/jazz", StreamRoute::fault(StreamRoute::Kind::Stall));
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().sListView1DblClick();
    QVERIFY(waitFor([&] { return f->server.requests("/jazz") == 1; }));
    QVERIFY(waitFor([&] { return f->form().Label4->text() == QLatin1String("connecting..."); }));
    QVERIFY(f->opener().runningWorkers() == 1);
    const qint64 ms = f->timedQuit();
    QVERIFY2(ms < 3000, qPrintable(QString::number(ms)));
}

void StreamOpenerTest::quit_whileBuffering_endsPromptly() {
    f->server.setTitle("Title");
    f->server.setRoute("/jazz", f->audio(8000, 4096));
    f->selectRow(QStringLiteral("Jazz FM"));
    f->form().sListView1DblClick();
    QVERIFY(
        waitFor([&] { return BufferingText.match(f->form().Label4->text()).hasMatch(); }, 20000));
    QVERIFY(f->opener().runningWorkers() == 1);
    const qint64 ms = f->timedQuit();
    QVERIFY2(ms < 3000, qPrintable(QString::number(ms)));
}

QTEST_MAIN(StreamOpenerTest)
#include "test_stream_opener.moc"
