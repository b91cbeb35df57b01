#include "TestSupport.h"
#include "common/Errors.h"
#include "common/IniFile.h"

#include <QFile>
#include <QtTest>

using namespace tolvane;
using tolvane::test::TestFolder;

class IniFileTest : public QObject {
    Q_OBJECT
private slots:
    void read_followsTheReadingRules_data();
    void read_followsTheReadingRules();
    void read_firstSectionOfRepeatedNameWins();
    void read_missingFileSectionOrKeyGivesDefault();
    void read_longValueIsCutAt2047();
    void read_folderOrUnreadableFileRaisesReadErrorNamingIt();
    void read_binaryJunkAndHugeLinesDoNotBreakLookups();
    void write_createsFileSectionAndKey();
    void write_replacesExistingKeyInFirstSectionOnly();
    void write_keepsLineEndingsAndOtherLines();
    void write_failureRaisesErrorAndLeavesFileUntouched();
    void eraseSection_removesHeaderAndKeysOfFirstSection();
    void write_refusesEntriesThatWouldAddLines_data();
    void write_refusesEntriesThatWouldAddLines();
};

void IniFileTest::read_followsTheReadingRules_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QByteArray("[radio]\nname=Jazz FM\n") << "radio"
                           << "name"
                           << "Jazz FM";
    QTest::newRow("section case ignored") << QByteArray("[Radio]\nname=x\n") << "RADIO"
                                          << "name"
                                          << "x";
    QTest::newRow("key case ignored") << QByteArray("[radio]\nVolume=40\n") << "radio"
                                      << "volume"
                                      << "40";
    QTest::newRow("blanks around key and value")
        << QByteArray("[radio]\n  name  =  Jazz FM  \n") << "radio"
        << "name"
        << "Jazz FM";
    QTest::newRow("one pair of quotes dropped") << QByteArray("[r]\nk=\"a b\"\n") << "r"
                                                << "k"
                                                << "a b";
    QTest::newRow("only outer pair dropped") << QByteArray("[r]\nk=\"\"a\"\"\n") << "r"
                                             << "k"
                                             << "\"a\"";
    QTest::newRow("lone quote kept") << QByteArray("[r]\nk=\"a\n") << "r"
                                     << "k"
                                     << "\"a";
    QTest::newRow("value holding =") << QByteArray("[r]\nk=a=b\n") << "r"
                                     << "k"
                                     << "a=b";
    QTest::newRow("CRLF endings") << QByteArray("[r]\r\nk=v\r\nj=w\r\n") << "r"
                                  << "j"
                                  << "w";
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF[r]\nk=v\n") << "r"
                                     << "k"
                                     << "v";
    QTest::newRow("utf8 name") << QByteArray("[Radio Bjørn]\nk=ø\n") << "radio bjørn"
                               << "k"
                               << "ø";
    QTest::newRow("latin1 file") << QByteArray("[r]\nk=caf\xE9\n") << "r"
                                 << "k" << QString::fromUtf8("café");
    QTest::newRow("line without =") << QByteArray("[r]\njunk\nk=v\n") << "r"
                                    << "junk"
                                    << "";
    QTest::newRow("key before any section") << QByteArray("k=v\n[r]\n") << "r"
                                            << "k"
                                            << "";
    QTest::newRow("first key line wins") << QByteArray("[r]\nk=1\nk=2\n") << "r"
                                         << "k"
                                         << "1";
    QTest::newRow("header with blank after bracket") << QByteArray("[Jazz] \nk=v\n") << "Jazz"
                                                     << "k"
                                                     << "v";
    QTest::newRow("empty value") << QByteArray("[r]\nk=\n") << "r"
                                 << "k"
                                 << "";
}

void IniFileTest::read_followsTheReadingRules() {
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    TestFolder folder;
    folder.write("a.dat", file);
    IniFile ini(folder.file("a.dat"));
    QCOMPARE(ini.ReadString(section, key, ""), expected);
}

void IniFileTest::read_firstSectionOfRepeatedNameWins() {
    TestFolder folder;
    folder.write(
        "t.dat",
        "[Rock FM]\nbitrate=128\n[Jazz]\nbitrate=64\n[ROCK FM]\nbitrate=320\ngenre=Rock\n");
    IniFile ini(folder.file("t.dat"));
    QCOMPARE(ini.ReadString("rock fm", "bitrate"), QString("128"));
    // A key only the second section has is not seen either.
    QCOMPARE(ini.ReadString("Rock FM", "genre"), QString());
}

void IniFileTest::read_missingFileSectionOrKeyGivesDefault() {
    TestFolder folder;
    IniFile missing(folder.file("none.dat"));
    QCOMPARE(missing.ReadString("r", "k", "dflt"), QString("dflt"));
    QVERIFY(!missing.exists());
    folder.write("a.dat", "[r]\nk=v\n");
    IniFile ini(folder.file("a.dat"));
    QCOMPARE(ini.ReadString("other", "k", ""), QString());
    QCOMPARE(ini.ReadString("r", "other", "d"), QString("d"));
}

void IniFileTest::read_longValueIsCutAt2047() {
    TestFolder folder;
    folder.write("a.dat", "[r]\nk=" + QByteArray(5000, 'x') + "\n");
    IniFile ini(folder.file("a.dat"));
    QCOMPARE(ini.ReadString("r", "k").size(), 2047);
}

void IniFileTest::read_folderOrUnreadableFileRaisesReadErrorNamingIt() {
    TestFolder folder;
    QDir().mkdir(folder.file("dir.dat"));
    IniFile dir(folder.file("dir.dat"));
    try {
        dir.ReadString("r", "k");
        QFAIL("reading a folder must fail");
    } catch (const FileReadError& e) {
        QVERIFY(e.message().contains(folder.file("dir.dat")));
    }
    if (geteuid() != 0) { // root reads files whatever their mode
        folder.write("locked.dat", "[r]\nk=v\n");
        QFile::setPermissions(folder.file("locked.dat"), QFileDevice::WriteOwner);
        IniFile locked(folder.file("locked.dat"));
        QVERIFY_THROWS_EXCEPTION(FileReadError, locked.ReadString("r", "k"));
    }
}

void IniFileTest::read_binaryJunkAndHugeLinesDoNotBreakLookups() {
    TestFolder folder;
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk.append(char(i * 37 % 256));
    QByteArray file =
        junk + "\n[ok]\nk=v\n" + QByteArray(3 * 1024 * 1024, 'y') + "\n[after]\nk=w\n";
    folder.write("a.dat", file);
    IniFile ini(folder.file("a.dat"));
    QCOMPARE(ini.ReadString("ok", "k"), QString("v"));
    QCOMPARE(ini.ReadString("after", "k"), QString("w"));
}

void IniFileTest::write_createsFileSectionAndKey() {
    TestFolder folder;
    {
        IniFile ini(folder.file("s.dat"));
        ini.WriteString("radio", "Volume", "40");
        ini.WriteString("radio", "station", "http://x/");
        ini.WriteString("record", "recdir", "");
    }
    IniFile again(folder.file("s.dat"));
    QCOMPARE(again.ReadString("radio", "volume"), QString("40"));
    QCOMPARE(again.ReadString("radio", "station"), QString("http://x/"));
    QCOMPARE(again.ReadSections(), QStringList({"radio", "record"}));
}

void IniFileTest::write_replacesExistingKeyInFirstSectionOnly() {
    TestFolder folder;
    folder.write("s.dat", "[radio]\nname=old\n\n[RADIO]\nname=second\n");
    IniFile ini(folder.file("s.dat"));
    ini.WriteString("Radio", "NAME", "new");
    ini.WriteString("radio", "added", "yes");
    const QString text = QString::fromUtf8(folder.read("s.dat"));
    QCOMPARE(text, QString("[radio]\nNAME=new\nadded=yes\n\n[RADIO]\nname=second\n"));
    QCOMPARE(IniFile(folder.file("s.dat")).ReadString("radio", "name"), QString("new"));
}

void IniFileTest::write_keepsLineEndingsAndOtherLines() {
    TestFolder folder;
    folder.write("s.dat", "; comment\r\n[r]\r\na=1\r\n");
    IniFile ini(folder.file("s.dat"));
    ini.WriteString("r", "b", "2");
    QCOMPARE(folder.read("s.dat"), QByteArray("; comment\r\n[r]\r\na=1\r\nb=2\r\n"));
}

void IniFileTest::write_failureRaisesErrorAndLeavesFileUntouched() {
    TestFolder folder;
    // The folder is missing: the write fails and names the file.
    IniFile nowhere(folder.file("settings/settings.dat"));
    try {
        nowhere.WriteString("radio", "Volume", "1");
        QFAIL("write into a missing folder must fail");
    } catch (const IniWriteError& e) {
        QCOMPARE(e.message(), "Unable to write to " + folder.file("settings/settings.dat"));
    }
    QVERIFY(!folder.exists("settings"));

    if (geteuid() != 0) {
        folder.write("ro/s.dat", "[r]\nk=v\n");
        QFile::setPermissions(folder.file("ro"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        IniFile ro(folder.file("ro/s.dat"));
        QVERIFY_THROWS_EXCEPTION(IniWriteError, ro.WriteString("r", "k", "changed"));
        QCOMPARE(folder.read("ro/s.dat"), QByteArray("[r]\nk=v\n"));
        QFile::setPermissions(folder.file("ro"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ExeOwner);
        // A read-only file in a writable folder is not replaced either.
        QFile::setPermissions(folder.file("ro/s.dat"), QFileDevice::ReadOwner);
        QVERIFY_THROWS_EXCEPTION(IniWriteError, ro.WriteString("r", "k", "changed"));
        QCOMPARE(folder.read("ro/s.dat"), QByteArray("[r]\nk=v\n"));
    }
}

void IniFileTest::eraseSection_removesHeaderAndKeysOfFirstSection() {
    TestFolder folder;
    folder.write("u.dat", "[A]\nk=1\n[B]\nk=2\n[a]\nk=3\n");
    IniFile ini(folder.file("u.dat"));
    ini.EraseSection("a");
    QCOMPARE(folder.read("u.dat"), QByteArray("[B]\nk=2\n[a]\nk=3\n"));
    QCOMPARE(ini.ReadString("A", "k"), QString("3"));
    ini.EraseSection("missing"); // nothing to do, no error
    QCOMPARE(folder.read("u.dat"), QByteArray("[B]\nk=2\n[a]\nk=3\n"));
}

void IniFileTest::write_refusesEntriesThatWouldAddLines_data() {
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("bracket in section") << "Rock] FM"
                                        << "genre"
                                        << "Rock";
    QTest::newRow("line break in section") << "Rock\n[radio"
                                           << "genre"
                                           << "Rock";
    QTest::newRow("line break in key") << "Rock"
                                       << "genre\nautostart"
                                       << "true";
    QTest::newRow("= in key") << "Rock"
                              << "genre=x"
                              << "Rock";
    QTest::newRow("LF in value") << "Rock"
                                 << "genre"
                                 << "Rock\n[radio]\nupdate=true";
    QTest::newRow("CR in value") << "Rock"
                                 << "genre"
                                 << "Rock\rstreaming=evil";
}

void IniFileTest::write_refusesEntriesThatWouldAddLines() {
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    TestFolder folder;
    const QByteArray before("[Rock]\ngenre=Jazz\n");
    folder.write("u.dat", before);
    IniFile ini(folder.file("u.dat"));
    QVERIFY_THROWS_EXCEPTION(IniWriteError, ini.WriteString(section, key, value));
    // Refused as a whole even when the bad entry comes after good ones.
    QVERIFY_THROWS_EXCEPTION(IniEntryError,
                             ini.WriteStrings(section.contains(']') || section.contains('\n')
                                                  ? section
                                                  : QString("Rock"),
                                              {{"language", "English"}, {key, value}}));
    QCOMPARE(folder.read("u.dat"), before);
    // The same keys without the fault go in one replacement, in order.
    ini.WriteStrings("New", {{"genre", "Pop"}, {"bitrate", ""}, {"genre", "Rock"}});
    QCOMPARE(folder.read("u.dat"), before + "[New]\ngenre=Rock\nbitrate=\n");
}

QTEST_GUILESS_MAIN(IniFileTest)
#include "test_inifile.moc"
