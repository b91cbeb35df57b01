// Naming and filing recordings: a title becomes a file name the file system
// takes, a taken name gets a number, and filing never replaces a file nor
// loses the recording.

#include "TestSupport.h"
#include "common/Errors.h"
#include "common/WriteGate.h"
#include "recording/RecordingFiles.h"
#include "recording/RecordingTags.h"
#include "recording/SongSplit.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace tolvane;
using namespace tolvane::recording;
using tolvane::test::TestFolder;

class RecordingFilesTest : public QObject {
    Q_OBJECT
private slots:
    void safeFileName_makesAnyTitleOneName_data();
    void safeFileName_makesAnyTitleOneName();
    void fittedName_staysWithinNameLimitOnCharacterBoundary();
    void numberedBaseName_takesSmallestFreeNumber();
    void fileRecording_takenTitleGetsNumberAndOldFileKeepsContent();
    void fileRecording_titleThatIsNoFileNameIsFiledAnyway();
    void fileRecording_createsMissingParentFolders();
    void fileRecording_unusableFolderFallsBackAndNothingIsLost();
    void moveWithoutReplacing_acrossFileSystems();
    void splitDelay_convertsStrictlyAndBoundsTheInterval();
    void tagRecording_replacesTheFileWholeOrLeavesIt_data();
    void tagRecording_replacesTheFileWholeOrLeavesIt();
};

void RecordingFilesTest::safeFileName_makesAnyTitleOneName_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "Artist - Song"
                           << "Artist - Song";
    QTest::newRow("slash") << "AC/DC - Thunder"
                           << "AC_DC - Thunder";
    QTest::newRow("backslash") << "A\\B"
                               << "A_B";
    QTest::newRow("controls") << QStringLiteral("A\tB\nC\x01") << "A_B_C_";
    QTest::newRow("leading dots and blanks") << " ..hidden . "
                                             << "hidden .";
    QTest::newRow("only dots") << "..."
                               << "";
    QTest::newRow("parent folder") << "../../etc/passwd"
                                   << "_.._etc_passwd";
    QTest::newRow("non-ASCII kept")
        << QStringLiteral("Björk – Jóga ♪") << QStringLiteral("Björk – Jóga ♪");
}

void RecordingFilesTest::safeFileName_makesAnyTitleOneName() {
    QFETCH(QString, title);
    QFETCH(QString, name);
    QCOMPARE(safeFileName(title), name);
}

void RecordingFilesTest::fittedName_staysWithinNameLimitOnCharacterBoundary() {
    // 200 characters of 3 bytes and one outside the basic plane (4 bytes).
    const QString longTitle =
        QString(200, QChar(0x266A)) + QStringLiteral("\U0001F3B5") + QString(10, u'x');
    for (const QString& suffix : {QStringLiteral(".mp3"), QStringLiteral(" (12).mp3")}) {
        const QString name = fittedName(longTitle, suffix);
        QVERIFY(name.endsWith(suffix));
        QVERIFY(name.toUtf8().size() <= MaxNameBytes);
        QVERIFY(name.toUtf8().size() > MaxNameBytes - 4); // cut no more than needed
        QVERIFY(!name.chopped(suffix.size()).back().isHighSurrogate());
        QVERIFY(longTitle.startsWith(name.chopped(suffix.size())));
    }
    QCOMPARE(fittedName(QStringLiteral("short"), QStringLiteral(".mp3")),
             QStringLiteral("short.mp3"));

    // A name that long really is a file of this file system.
    TestFolder folder;
    const QString path = freeTargetPath(folder.path(), longTitle + longTitle);
    folder.write(QFileInfo(path).fileName(), "x");
    QVERIFY(QFileInfo::exists(path));
}

void RecordingFilesTest::numberedBaseName_takesSmallestFreeNumber() {
    TestFolder folder;
    QCOMPARE(numberedBaseName(folder.path()), QStringLiteral("Recorded_0"));
    for (const char* name :
         {"Recorded_0.mp3", "Recorded_1.mp3", "Recorded_2.mp3", "Recorded_4.mp3", "Recorded_3.txt"})
        folder.write(name, "x");
    QCOMPARE(numberedBaseName(folder.path()), QStringLiteral("Recorded_3"));
    QFile::remove(folder.file("Recorded_0.mp3"));
    QCOMPARE(numberedBaseName(folder.path()), QStringLiteral("Recorded_0"));
}

void RecordingFilesTest::fileRecording_takenTitleGetsNumberAndOldFileKeepsContent() {
    TestFolder folder;
    folder.write("Station/Artist - Song.mp3", "first");
    folder.write("Station/Artist - Song (2).mp3", "second");
    folder.write("Recording.mp3", "third");
    const Filing filing = fileRecording(folder.file("Recording.mp3"),
                                        QStringLiteral("Artist - Song"), {folder.file("Station")});
    QVERIFY(filing.filed);
    QVERIFY(filing.asPlanned);
    QCOMPARE(filing.path, folder.file("Station/Artist - Song (3).mp3"));
    QCOMPARE(folder.read("Station/Artist - Song.mp3"), QByteArray("first"));
    QCOMPARE(folder.read("Station/Artist - Song (2).mp3"), QByteArray("second"));
    QCOMPARE(folder.read("Station/Artist - Song (3).mp3"), QByteArray("third"));
    QVERIFY(!folder.exists("Recording.mp3"));

    // Without a title the numbered name is used.
    folder.write("Recording.mp3", "fourth");
    QCOMPARE(fileRecording(folder.file("Recording.mp3"), QString(), {folder.file("Station")}).path,
             folder.file("Station/Recorded_0.mp3"));
}

void RecordingFilesTest::fileRecording_titleThatIsNoFileNameIsFiledAnyway() {
    TestFolder folder;
    const QString title = QStringLiteral("../Who?/What: \"Live\"\r\n") + QString(300, u'y');
    folder.write("Recording.mp3", "audio");
    const Filing filing = fileRecording(folder.file("Recording.mp3"), title, {folder.file("S")});
    QVERIFY(filing.filed);
    QCOMPARE(QFileInfo(filing.path).dir().path(), folder.file("S"));
    QVERIFY(
        QFileInfo(filing.path).fileName().startsWith(QStringLiteral("_Who?_What: \"Live\"__yyy")));
    QCOMPARE(folder.read("S/" + QFileInfo(filing.path).fileName()), QByteArray("audio"));

    // A title of dots alone gets a numbered name.
    folder.write("Recording.mp3", "audio");
    QCOMPARE(
        fileRecording(folder.file("Recording.mp3"), QStringLiteral(".."), {folder.file("S")}).path,
        folder.file("S/Recorded_0.mp3"));
}

void RecordingFilesTest::fileRecording_createsMissingParentFolders() {
    TestFolder folder;
    folder.write("Recording.mp3", "audio");
    const QString deep = folder.file("Music/Radio/New/Station");
    const Filing filing =
        fileRecording(folder.file("Recording.mp3"), QStringLiteral("Song"), {deep});
    QVERIFY(filing.asPlanned);
    QCOMPARE(folder.read("Music/Radio/New/Station/Song.mp3"), QByteArray("audio"));
}

void RecordingFilesTest::fileRecording_unusableFolderFallsBackAndNothingIsLost() {
    TestFolder folder;
    // A file where a folder should be: no folder can be made under it, also
    // for root.
    folder.write("blocked", "a file");
    folder.write("Recording.mp3", "audio");
    Filing filing = fileRecording(folder.file("Recording.mp3"), QStringLiteral("Song"),
                                  {folder.file("blocked/Station"), folder.file("Fallback")});
    QVERIFY(filing.filed);
    QVERIFY(!filing.asPlanned);
    QCOMPARE(filing.path, folder.file("Fallback/Song.mp3"));
    QCOMPARE(folder.read("Fallback/Song.mp3"), QByteArray("audio"));

    // With no folder to take it, the recording stays whole where it was.
    folder.write("Recording.mp3", "kept");
    filing = fileRecording(folder.file("Recording.mp3"), QStringLiteral("Song"),
                           {folder.file("blocked/Station")});
    QVERIFY(!filing.filed);
    QCOMPARE(filing.path, folder.file("Recording.mp3"));
    QCOMPARE(folder.read("Recording.mp3"), QByteArray("kept"));
    QCOMPARE(folder.read("blocked"), QByteArray("a file"));
}

void RecordingFilesTest::moveWithoutReplacing_acrossFileSystems() {
    TestFolder folder;
    QTemporaryDir other(QStringLiteral("/dev/shm/tolvane-test-XXXXXX"));
    struct stat a {};
    struct stat b {};
    if (!other.isValid() || ::stat(QFile::encodeName(folder.path()), &a) != 0 ||
        ::stat(QFile::encodeName(other.path()), &b) != 0 || a.st_dev == b.st_dev)
        QSKIP("no second file system at /dev/shm");

    QByteArray audio(300 * 1024, '\0');
    for (int i = 0; i < audio.size(); ++i)
        audio[i] = static_cast<char>(i * 7);
    folder.write("Recording.mp3", audio);
    const QString target = other.filePath(QStringLiteral("Song.mp3"));
    QCOMPARE(moveWithoutReplacing(folder.file("Recording.mp3"), target), MoveResult::Moved);
    QVERIFY(!folder.exists("Recording.mp3"));
    QFile moved(target);
    QVERIFY(moved.open(QIODevice::ReadOnly));
    QCOMPARE(moved.readAll(), audio);
    QCOMPARE(QDir(other.path()).entryList(QDir::Files | QDir::Hidden).size(),
             1); // no leftover part

    // A taken name is never replaced, across file systems too.
    folder.write("Recording.mp3", "new");
    QCOMPARE(moveWithoutReplacing(folder.file("Recording.mp3"), target), MoveResult::TargetExists);
    QCOMPARE(folder.read("Recording.mp3"), QByteArray("new"));
    moved.seek(0);
    QCOMPARE(moved.readAll(), audio);
}

void RecordingFilesTest::splitDelay_convertsStrictlyAndBoundsTheInterval() {
    QCOMPARE(splitDelayMs(QStringLiteral("5")), 5000);
    QCOMPARE(splitDelayMs(QStringLiteral("0")), 0);
    QCOMPARE(splitDelayMs(QStringLiteral("-3")), 0);
    QCOMPARE(splitDelayMs(QStringLiteral("2147483647")), INT_MAX);
    QVERIFY_THROWS_EXCEPTION(ConvertError, splitDelayMs(QStringLiteral("5s")));
    QVERIFY_THROWS_EXCEPTION(ConvertError, splitDelayMs(QString()));
    QVERIFY(splitArms(true, QStringLiteral("true")));
    QVERIFY(!splitArms(true, QStringLiteral("True")));
    QVERIFY(!splitArms(false, QStringLiteral("true")));
}

void RecordingFilesTest::tagRecording_replacesTheFileWholeOrLeavesIt_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("result");
    QTest::newRow("tagged") << "" << int(TagResult::Tagged);
    QTest::newRow("disk full inside the tag") << "tag" << int(TagResult::Failed);
    QTest::newRow("disk full at the last byte") << "last byte" << int(TagResult::Failed);
    QTest::newRow("file replaced while copied") << "replaced" << int(TagResult::FileChanged);
}

void RecordingFilesTest::tagRecording_replacesTheFileWholeOrLeavesIt() {
    QFETCH(QString, fault);
    QFETCH(int, result);
    TestFolder folder;
    // An old tag (ID3v2.3 with 5 bytes of frames) before more audio than
    // one piece of the copy.
    QByteArray audio;
    for (int i = 0; audio.size() < 600 * 1024; ++i)
        audio += "frame " + QByteArray::number(i) + ";";
    const QByteArray original = QByteArray("ID3\x03\x00\x00\x00\x00\x00\x05", 10) + "12345" + audio;
    folder.write("Radio X/Song.mp3", original);
    const QString path = folder.file("Radio X/Song.mp3");
    const QByteArray replacement = "another file in its place";

    struct Reset {
        ~Reset() {
            clearWriteFault();
            setWritePacer(0, {});
        }
    } reset;
    if (fault == "tag")
        injectWriteFault({5, false, ENOSPC, QStringLiteral(".tagging")});
    else if (fault == "last byte")
        injectWriteFault({1, true, ENOSPC, QStringLiteral(".tagging")});
    else if (fault == "replaced")
        setWritePacer(64 * 1024, [&, done = false]() mutable {
            if (!std::exchange(done, true))
                folder.write("Radio X/Song.mp3", replacement);
        });

    const RecordingTags tags = recordingTags(
        QStringLiteral("Artist - Song"), QStringLiteral("Radio X"),
        QStringLiteral("http://x.example"), QDateTime::currentDateTime(), QByteArray("JPEG"));
    QCOMPARE(int(tagRecording(path, tags)), result);

    const QByteArray now = folder.read("Radio X/Song.mp3");
    if (result == int(TagResult::Tagged)) {
        // The new tag in place of the old one, the audio whole after it.
        const QByteArray tag = renderId3v2(tags);
        QVERIFY(tag.startsWith(QByteArray("ID3\x04", 4)));
        QCOMPARE(now.left(tag.size()), tag);
        QCOMPARE(now.mid(tag.size()), audio);
    } else {
        QCOMPARE(now, fault == "replaced" ? replacement : original);
    }
    QCOMPARE(QDir(folder.file("Radio X")).entryList(QDir::Files | QDir::Hidden),
             QStringList{"Song.mp3"});
}

QTEST_GUILESS_MAIN(RecordingFilesTest)
#include "test_recording_files.moc"
