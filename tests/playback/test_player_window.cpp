// The main window's player controls that need no stream: the elapsed-time
// clock and its commands, and the song change's steps in their order with
// the settings that steer them.

#include "../app/AppFixture.h"
#include "app/Forms.h"
#include "online/TForm6.h"
#include "online/TForm7.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace tolvane;
using namespace tolvane::test;

class PlayerWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void clock_ticksAndCarries();
    void clock_rollsOverAfter23_59_59();
    void startClock_zeroesCountersAndRuns_resetClock_stopsAndKeepsCounters();
    void songChange_runsItsStepsInOrder();
    void songChange_whileRecordingWithSplit_armsSplitTimers();
    void songChange_badSplitInterval_endsBeforeLyricsAndPicture();
    void songChange_withoutRecording_ignoresSplitSettings();
    void songChange_withSongImage_startsPictureTimer();

private:
    void writeSettings(const QByteArray& radioKeys) {
        f->folder.write("settings/settings.dat", "[radio]\r\n" + radioKeys);
    }
    // Records the commands the song change reaches, in order.
    QStringList* recordCommands();

    std::unique_ptr<AppFixture> f;
    QStringList commands_;
    QLabel* songTipLabel_ = nullptr;
};

void PlayerWindowTest::init() {
    f = std::make_unique<AppFixture>();
    f->installProgramFolder();
    QVERIFY(f->start());
    commands_.clear();
}

void PlayerWindowTest::cleanup() {
    if (f && f->app)
        f->quit();
    f.reset();
}

QStringList* PlayerWindowTest::recordCommands() {
    TForm1& form = f->form();
    for (const char* name : {"Button11", "Button15"}) {
        QObject::connect(form.command(QString::fromLatin1(name)), &QAction::triggered,
                         [this, name] { commands_ << QString::fromLatin1(name); });
    }
    // The lyrics window's refresh command and the popup's label.
    QObject::connect(f->app->forms().Form6->Button1, &QPushButton::clicked,
                     [this] { commands_ << "Lyrics.Button1"; });
    songTipLabel_ = f->app->forms().Form7->Label1;
    songTipLabel_->resize(300, 20);
    return &commands_;
}

void PlayerWindowTest::clock_ticksAndCarries() {
    TForm1& form = f->form();
    form.invoke(QStringLiteral("Button11"));
    form.Timer3->fire();
    QCOMPARE(form.Timer->text(), QStringLiteral("00:00:01"));
    form.ClockHours = 0;
    form.ClockMinutes = 59;
    form.ClockSeconds = 59;
    form.Timer3->fire();
    QCOMPARE(form.Timer->text(), QStringLiteral("01:00:00"));
    form.ClockMinutes = 9;
    form.ClockSeconds = 58;
    form.Timer3->fire();
    QCOMPARE(form.Timer->text(), QStringLiteral("01:09:59"));
}

void PlayerWindowTest::clock_rollsOverAfter23_59_59() {
    TForm1& form = f->form();
    form.ClockHours = 23;
    form.ClockMinutes = 59;
    form.ClockSeconds = 59;
    form.Timer3->fire();
    QCOMPARE(form.Timer->text(), QStringLiteral("00:00:00"));
    form.Timer3->fire();
    QCOMPARE(form.Timer->text(), QStringLiteral("00:00:01"));
}

void PlayerWindowTest::startClock_zeroesCountersAndRuns_resetClock_stopsAndKeepsCounters() {
    TForm1& form = f->form();
    form.ClockHours = 3;
    form.ClockMinutes = 4;
    form.ClockSeconds = 5;
    form.invoke(QStringLiteral("Button12"));
    QCOMPARE(form.Timer->text(), QStringLiteral("00:00:00"));
    QVERIFY(!form.Timer3->isTicking());
    QCOMPARE(form.ClockMinutes, 4); // counters left alone

    form.invoke(QStringLiteral("Button11"));
    QVERIFY(form.Timer3->isTicking());
    QCOMPARE(form.Timer3->Interval(), 1000);
    QCOMPARE(form.ClockHours + form.ClockMinutes + form.ClockSeconds, 0);
    QVERIFY(QTest::qWaitFor([&] { return form.Timer->text() == QLatin1String("00:00:01"); }, 2500));
}

void PlayerWindowTest::songChange_runsItsStepsInOrder() {
    recordCommands();
    TForm1& form = f->form();
    QPixmap picture(8, 8);
    picture.fill(Qt::red);
    form.Image2->setPixmap(picture);
    form.Image1->clear();
    form.setSongTitle(QStringLiteral("Artist - Song"));
    QCOMPARE(commands_, (QStringList{"Button11", "Lyrics.Button1", "Button15"}));
    QCOMPARE(songTipLabel_->width(), 121);
    // The default picture is back in the station picture.
    QCOMPARE(form.Image1->pixmap().toImage(), picture.toImage());
    QVERIFY(form.Timer3->isTicking());
    QVERIFY(!form.Timer5->Enabled());

    // Setting the same title again is no song change.
    commands_.clear();
    form.setSongTitle(QStringLiteral("Artist - Song"));
    QVERIFY(commands_.isEmpty());
    // Emptying it is one, with every step but the split of the title.
    form.setSongTitle(QString());
    QCOMPARE(commands_, (QStringList{"Button11", "Lyrics.Button1", "Button15"}));
}

void PlayerWindowTest::songChange_whileRecordingWithSplit_armsSplitTimers() {
    writeSettings("separate=true\r\ninterval=5\r\ninterval2=7\r\n");
    TForm1& form = f->form();
    form.IsRecording = true;
    form.setSongTitle(QStringLiteral("Song"));
    form.IsRecording = false;
    QCOMPARE(form.Timer4->Interval(), 5000);
    QCOMPARE(form.Timer6->Interval(), 7000);
    QVERIFY(form.Timer4->Enabled());
    QVERIFY(!form.Timer6->Enabled()); // the split itself starts it
    QVERIFY(f->messages.texts().isEmpty());
}

void PlayerWindowTest::songChange_badSplitInterval_endsBeforeLyricsAndPicture() {
    writeSettings("separate=true\r\ninterval=5s\r\ninterval2=7\r\nsongimage=true\r\n");
    recordCommands();
    TForm1& form = f->form();
    form.IsRecording = true;
    form.setSongTitle(QStringLiteral("Song"));
    form.IsRecording = false;
    QCOMPARE(f->messages.texts(), QStringList{QStringLiteral("'5s' is not a valid integer value")});
    QVERIFY(!form.Timer4->Enabled());
    // The title was published and the clock restarted; steps 5 and 6 did not run.
    QCOMPARE(form.SongTitle(), QStringLiteral("Song"));
    QCOMPARE(commands_, QStringList{"Button11"});
    QVERIFY(!form.Timer5->Enabled());

    // An empty value fails the same way.
    f->messages.clear();
    writeSettings("separate=true\r\ninterval=5\r\n");
    form.IsRecording = true;
    form.setSongTitle(QStringLiteral("Other"));
    form.IsRecording = false;
    QCOMPARE(f->messages.texts(), QStringList{QStringLiteral("'' is not a valid integer value")});
}

void PlayerWindowTest::songChange_withoutRecording_ignoresSplitSettings() {
    writeSettings("separate=true\r\ninterval=junk\r\n");
    TForm1& form = f->form();
    form.setSongTitle(QStringLiteral("Song"));
    QVERIFY(f->messages.texts().isEmpty());
    QVERIFY(!form.Timer4->Enabled());
    // "True" is not "true".
    writeSettings("separate=True\r\ninterval=junk\r\n");
    form.IsRecording = true;
    form.setSongTitle(QStringLiteral("Other"));
    form.IsRecording = false;
    QVERIFY(f->messages.texts().isEmpty());
}

void PlayerWindowTest::songChange_withSongImage_startsPictureTimer() {
    writeSettings("songimage=true\r\n");
    recordCommands();
    TForm1& form = f->form();
    form.setSongTitle(QStringLiteral("Song"));
    QVERIFY(form.Timer5->Enabled());
    QCOMPARE(form.Timer5->Interval(), 1500);
    QCOMPARE(commands_, (QStringList{"Button11", "Lyrics.Button1"}));
    QCOMPARE(songTipLabel_->width(), 300);
}

QTEST_MAIN(PlayerWindowTest)
#include "test_player_window.moc"
