// The settings file's options as the Settings window reads and saves them.

#include "TestSupport.h"
#include "common/Errors.h"
#include "settings/SettingsFile.h"

#include <QtTest>

using namespace tolvane;
using namespace tolvane::settings;
using tolvane::test::TestFolder;

class SettingsFileTest : public QObject {
    Q_OBJECT
private slots:
    void readDialogOptions_takesOnlyExactTrueAndKeepsDelayTexts();
    void writeDialogOptions_writesEightKeysInOrderWithDefaultDelay();
    void writeDialogOptions_withoutFile_writesNothing();
    void readWholeNumber_isStrict();
};

void SettingsFileTest::readDialogOptions_takesOnlyExactTrueAndKeepsDelayTexts() {
    TestFolder folder;
    QVERIFY(!readDialogOptions()); // no file: nothing to show
    QVERIFY(readReconnect());      // reconnecting is on until the file says otherwise
    folder.write("settings/settings.dat", "[RADIO]\nautostart=true\nsongimage=True\n"
                                          "Separate=TRUE\nballoon = true \ninterval=abc\n"
                                          "[record]\nrecdir=/home/me/Music\n");
    const auto o = readDialogOptions();
    QVERIFY(o);
    QVERIFY(o->autostart);
    QVERIFY(!o->songimage);
    QVERIFY(!o->separate);
    QVERIFY(o->balloon); // blanks around a value are not part of it
    QCOMPARE(o->interval, QString("abc"));
    QCOMPARE(o->interval2, QString());
    QCOMPARE(o->recdir, QString("/home/me/Music"));
    QVERIFY(o->reconnect); // a missing key is on
    QVERIFY(readReconnect());
    QVERIFY(readFlag(RadioSection, AutostartKey));
    QVERIFY(!readFlag(RadioSection, SongImageKey));
}

void SettingsFileTest::writeDialogOptions_writesEightKeysInOrderWithDefaultDelay() {
    TestFolder folder;
    folder.write("settings/settings.dat", "[radio]\nVolume=40\nautostart=false\n");
    DialogOptions o;
    o.autostart = true;
    o.balloon = true;
    o.interval2 = "17";
    o.recdir = "  typed folder";
    o.reconnect = false;
    QVERIFY(writeDialogOptions(o));
    QCOMPARE(QString::fromUtf8(folder.read("settings/settings.dat")),
             QString("[radio]\nVolume=40\nautostart=true\nsongimage=false\nseparate=false\n"
                     "interval=2\ninterval2=17\nballoon=true\nreconnect=false\n[record]\n"
                     "recdir=  typed folder\nexact=false\nfromstart=false\nformat=lame\n"));
    auto back = readDialogOptions();
    QVERIFY(back);
    QCOMPARE(back->interval, QString("2"));
    QCOMPARE(back->interval2, QString("17"));
    QVERIFY(back->autostart && back->balloon && !back->separate && !back->reconnect);
    QVERIFY(!readReconnect());
}

void SettingsFileTest::writeDialogOptions_withoutFile_writesNothing() {
    TestFolder folder;
    QDir().mkpath(folder.file("settings"));
    DialogOptions o;
    o.autostart = true;
    QVERIFY(!writeDialogOptions(o));
    QVERIFY(!folder.exists("settings/settings.dat"));
}

void SettingsFileTest::readWholeNumber_isStrict() {
    TestFolder folder;
    folder.write("settings/settings.dat", "[radio]\ninterval=5\ninterval2=5s\n");
    QCOMPARE(readWholeNumber(RadioSection, IntervalKey), 5);
    QVERIFY_THROWS_EXCEPTION(ConvertError, readWholeNumber(RadioSection, Interval2Key));
    QVERIFY_THROWS_EXCEPTION(ConvertError, readWholeNumber(RadioSection, VolumeKey));
}

QTEST_GUILESS_MAIN(SettingsFileTest)
#include "test_settings_file.moc"
