// scripts/layout.sh, which lays out the program folder <build>/Tolvane/ from
// the shipped data/ and the built programs, run on a build folder of the
// test's own.

#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

using tolvane::test::TestFolder;

namespace {

struct Run {
    int exitCode = -1;
    QString output;
};

Run layout(const QStringList& arguments) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("bash"),
            QStringList{tolvane::test::sourceDir() + QStringLiteral("/scripts/layout.sh")} +
                arguments);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(5000);
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAll())};
}

QString dataDir() {
    return tolvane::test::sourceDir() + QStringLiteral("/data");
}

QStringList shippedFiles() {
    QStringList files;
    QDirIterator it(dataDir(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dataDir()).relativeFilePath(it.next());
    files.sort();
    return files;
}

QByteArray readBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

void makeExecutable(const QString& path) {
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser);
}

void makeProgram(const QString& path) {
    writeBytes(path, "#!/bin/sh\nexit 0\n");
    makeExecutable(path);
}

// Every entry of the folder with what identifies its state: contents and
// modification time for files, the target for links.
QStringList snapshot(const QString& root) {
    QStringList rows;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QString row = QDir(root).relativeFilePath(info.filePath());
        if (info.isSymLink())
            row += QStringLiteral(" -> ") + info.symLinkTarget();
        else if (info.isFile())
            row += QStringLiteral(" %1 %2")
                       .arg(qHash(readBytes(info.filePath())))
                       .arg(info.lastModified().toMSecsSinceEpoch());
        rows << row;
    }
    rows.sort();
    return rows;
}

} // namespace

class TestLayout : public QObject {
    Q_OBJECT

private slots:
    void layout_copiesEveryShippedFileAndLinksTheEncoder() {
        TestFolder folder;
        const Run run = layout({folder.file("build")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.output));

        const QString dest = folder.file("build/Tolvane");
        const QStringList files = shippedFiles();
        QVERIFY(files.contains(QStringLiteral("radiolist.dat")));
        QVERIFY(files.contains(QStringLiteral("settings/settings.dat")));
        for (const QString& f : files)
            QVERIFY2(readBytes(dest + u'/' + f) == readBytes(dataDir() + u'/' + f), qPrintable(f));

        const QFileInfo lame(dest + QStringLiteral("/system/lame"));
        QVERIFY(lame.isSymLink());
        QCOMPARE(lame.symLinkTarget(), QStringLiteral("/usr/bin/lame"));
        // Nothing was built, so no program is linked.
        QVERIFY(!QFileInfo(dest + QStringLiteral("/tolvane")).exists());
        QVERIFY(!QFileInfo(dest + QStringLiteral("/tolvane")).isSymLink());
    }

    // The folder links the built programs and the web view module rather
    // than holding copies: the player writes in that folder, so a program
    // there could be replaced through it. A copy an older layout left
    // becomes a link.
    void layout_linksTheBuiltPrograms() {
        TestFolder folder;
        makeProgram(folder.file("build/src/app/tolvane"));
        makeProgram(folder.file("build/src/app/libtolvane-webview.so"));
        makeProgram(folder.file("build/src/update/TolvaneUpdate"));
        makeProgram(folder.file("build/Tolvane/tolvane")); // an old copy
        for (int run = 0; run < 2; ++run) {
            const Run r = layout({folder.file("build")});
            QVERIFY2(r.exitCode == 0, qPrintable(r.output));
            for (const auto& [built, placed] :
                 {std::pair{"build/src/app/tolvane", "build/Tolvane/tolvane"},
                  std::pair{"build/src/app/libtolvane-webview.so",
                            "build/Tolvane/libtolvane-webview.so"},
                  std::pair{"build/src/update/TolvaneUpdate", "build/Tolvane/TolvaneUpdate"}}) {
                const QFileInfo link(folder.file(placed));
                QVERIFY2(link.isSymLink(), placed);
                QCOMPARE(link.symLinkTarget(), QFileInfo(folder.file(built)).canonicalFilePath());
            }
        }
    }

    // The user's settings and stations survive a new layout; shipped files
    // are put back; nothing else in the folder is touched.
    void layout_keepsTheUsersFilesAndRestoresShippedOnes() {
        TestFolder folder;
        const QString dest = folder.file("build/Tolvane");
        const QByteArray settings = "[radio]\r\nVolume=40\r\nskin=Ocean\r\n";
        writeBytes(dest + QStringLiteral("/settings/settings.dat"), settings);
        writeBytes(dest + QStringLiteral("/radiouser.dat"), "[Mine]\r\nstreaming=http://x\r\n");
        writeBytes(dest + QStringLiteral("/favorites.dat"), "[Fav]\r\n");
        writeBytes(dest + QStringLiteral("/Recorded/Mine/song.mp3"), "ID3");
        writeBytes(dest + QStringLiteral("/radiolist.dat"), "damaged");
        writeBytes(dest + QStringLiteral("/Skins/Midnight.qss"), "old skin");

        const Run run = layout({folder.file("build")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.output));

        QCOMPARE(readBytes(dest + QStringLiteral("/settings/settings.dat")), settings);
        QCOMPARE(readBytes(dest + QStringLiteral("/radiouser.dat")),
                 QByteArray("[Mine]\r\nstreaming=http://x\r\n"));
        QCOMPARE(readBytes(dest + QStringLiteral("/favorites.dat")), QByteArray("[Fav]\r\n"));
        QCOMPARE(readBytes(dest + QStringLiteral("/Recorded/Mine/song.mp3")), QByteArray("ID3"));
        QCOMPARE(readBytes(dest + QStringLiteral("/radiolist.dat")),
                 readBytes(dataDir() + QStringLiteral("/radiolist.dat")));
        QCOMPARE(readBytes(dest + QStringLiteral("/Skins/Midnight.qss")),
                 readBytes(dataDir() + QStringLiteral("/Skins/Midnight.qss")));
    }

    void layout_runTwiceChangesNothing() {
        TestFolder folder;
        makeProgram(folder.file("build/src/app/tolvane"));
        QCOMPARE(layout({folder.file("build")}).exitCode, 0);
        const QStringList first = snapshot(folder.file("build/Tolvane"));
        QTest::qWait(20); // a rewrite would show as a later modification time
        QCOMPARE(layout({folder.file("build")}).exitCode, 0);
        QCOMPARE(snapshot(folder.file("build/Tolvane")), first);
    }

    void layout_withoutBuildFolderArgumentFails() {
        TestFolder folder;
        const Run run = layout({});
        QVERIFY(run.exitCode != 0);
        QVERIFY2(run.output.contains(QStringLiteral("usage")), qPrintable(run.output));
        QVERIFY(!QFileInfo::exists(folder.file("Tolvane")));
    }
};

QTEST_GUILESS_MAIN(TestLayout)
#include "test_layout.moc"
