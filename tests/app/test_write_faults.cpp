// Every kind of file the player writes, with the write failing part-way
// (nothing written, a few bytes, all but the last byte): the old file stays
// byte for byte, no temporary file is left beside it, and where a window
// wrote, the user reads "Unable to write to <path>".

#include "AppFixture.h"
#include "StreamServer.h"
#include "app/Forms.h"
#include "catalog/TForm2.h"
#include "common/WriteGate.h"
#include "online/WebService.h"
#include "recording/RecordingFiles.h"
#include "settings/TSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <sys/stat.h>

using namespace tolvane;
using namespace tolvane::test;

namespace {

enum class Kind { Settings, UserStations, Favorites, WorkingCatalog, Download, RecordingCopy };

// Bytes that only the old file holds, so a partly replaced file shows.
const QByteArray OldSettings = "[radio]\nautostart=false\nVolume=77\nname=Kept FM\n"
                               "[record]\nrecdir=\n";
const QByteArray OldStation = "[Kept Station]\ngenre=Talk\nlanguage=English\n"
                              "website=\nstreaming=http://127.0.0.1:9/kept\nbitrate=32\n";
const QByteArray NewDownload = QByteArray(3000, 'n') + "end of the new download";

bool sameFileSystem(const QString& a, const QString& b) {
    struct stat sa {
    }, sb{};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

template <typename List> void selectByName(List* list, const QString& name) {
    list->clearSelection();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->text(0) == name)
            list->topLevelItem(i)->setSelected(true);
    }
}

} // namespace

Q_DECLARE_METATYPE(Kind)

class WriteFaultsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { clearWriteFault(); }
    void failedWrite_keepsOldFileWholeAndSaysSo_data();
    void failedWrite_keepsOldFileWholeAndSaysSo();
};

void WriteFaultsTest::failedWrite_keepsOldFileWholeAndSaysSo_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<bool>("fromEnd");
    const QList<std::pair<const char*, Kind>> kinds = {
        {"settings", Kind::Settings},
        {"radiouser.dat", Kind::UserStations},
        {"favorites.dat", Kind::Favorites},
        {"temp.dat", Kind::WorkingCatalog},
        {"download", Kind::Download},
        {"recording copied to another disk", Kind::RecordingCopy}};
    for (const auto& [name, kind] : kinds) {
        QTest::addRow("%s: nothing written", name) << kind << qint64{0} << false;
        QTest::addRow("%s: mid-file", name) << kind << qint64{9} << false;
        QTest::addRow("%s: all but the last byte", name) << kind << qint64{1} << true;
    }
}

void WriteFaultsTest::failedWrite_keepsOldFileWholeAndSaysSo() {
    QFETCH(Kind, kind);
    QFETCH(qint64, bytes);
    QFETCH(bool, fromEnd);

    AppFixture f;
    f.installProgramFolder();
    f.folder.write("settings/settings.dat", OldSettings);
    f.folder.write("radiouser.dat", OldStation);
    f.folder.write("favorites.dat", OldStation);
    QVERIFY(f.start());
    f.messages.clear();

    QString path;     // the file that must stay as it was
    bool told = true; // whether a window reports the failure
    std::function<void()> act;
    std::unique_ptr<StreamServer> server;
    QTemporaryDir otherDisk(QStringLiteral("/dev/shm/tolvane-faults-XXXXXX"));

    switch (kind) {
    case Kind::Settings:
        path = f.folder.file("settings/settings.dat");
        act = [&] {
            f.form().findChild<QAction*>("Settings1")->trigger();
            auto* w = qobject_cast<TSettings*>(f.app->forms().Settings);
            w->CheckBox1->setChecked(true);
            w->sButton2->click(); // Save
        };
        break;
    case Kind::UserStations:
        path = f.folder.file("radiouser.dat");
        act = [&] {
            TForm2* w = f.app->forms().Form2;
            f.form().invoke("Button6");
            w->Edit2->setText("New FM");
            w->Edit1->setText("http://127.0.0.1:9/new.pls");
            w->ComboBox1->setEditText("English");
            w->ComboBox2->setEditText("Rock");
            w->sBitBtn3->click(); // Save
        };
        break;
    case Kind::Favorites:
        path = f.folder.file("favorites.dat");
        act = [&] {
            selectByName(f.form().ListView1, "Rock FM");
            f.form().invoke("Button4");
        };
        break;
    case Kind::WorkingCatalog:
        path = f.folder.file("temp.dat");
        act = [&] { f.form().invoke("Button3"); }; // Load Playlist
        break;
    case Kind::Download: {
        path = f.folder.file("songimage.jpg");
        f.folder.write("songimage.jpg", OldStation);
        server = std::make_unique<StreamServer>();
        server->setRoute("/new", StreamRoute::playlist(NewDownload.toStdString()));
        // A download does not know its size before it arrives: count here.
        if (fromEnd) {
            bytes = NewDownload.size() - bytes;
            fromEnd = false;
        }
        told = false; // a download that fails is skipped without a word
        act = [&] { QVERIFY(!DownloadToFile(QString::fromStdString(server->url("/new")), path)); };
        break;
    }
    case Kind::RecordingCopy: {
        if (!otherDisk.isValid() || sameFileSystem(otherDisk.path(), f.folder.path()))
            QSKIP("no second file system at /dev/shm to move a recording across");
        f.folder.write("Recorded/Recording.mp3", NewDownload);
        path = otherDisk.filePath("Radio X/Song.mp3");
        QVERIFY(QDir().mkpath(otherDisk.filePath("Radio X")));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write(OldStation) == OldStation.size());
        old.close();
        told = false;
        act = [&] {
            // The copy to the user's folder fails: the recording is filed in
            // the default folder instead, whole.
            const recording::Filing filing = recording::fileRecording(
                f.folder.file("Recorded/Recording.mp3"), QStringLiteral("Song"),
                {otherDisk.filePath("Radio X"), f.folder.file("Recorded/Radio X")});
            QVERIFY(filing.filed);
            QVERIFY(!filing.asPlanned);
            QCOMPARE(f.folder.read("Recorded/Radio X/Song.mp3"), NewDownload);
        };
        break;
    }
    }

    const QByteArray before = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    QVERIFY(!before.isEmpty());
    const QString folder = QFileInfo(path).absolutePath();
    const QStringList listed = entries(folder);

    WriteFault fault;
    fault.bytes = bytes;
    fault.fromEnd = fromEnd;
    // The recording's copy is written under a name of its own beside the
    // target; every other file is replaced under its own path.
    fault.pathContains = kind == Kind::RecordingCopy ? folder : u'/' + QFileInfo(path).fileName();
    injectWriteFault(fault);
    act();
    clearWriteFault();
    if (QTest::currentTestFailed())
        return;

    QFile after(path);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), before);
    QCOMPARE(entries(folder), listed);
    const QStringList expected =
        told ? QStringList{QStringLiteral("Unable to write to ") + path} : QStringList{};
    QCOMPARE(f.messages.texts(), expected);
    f.quit();
}

QTEST_MAIN(WriteFaultsTest)
#include "test_write_faults.moc"
