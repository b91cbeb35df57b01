// The shipped program folder (data/): the station catalog and its filter
// lists, the installed settings and service files, the skins, the pictures
// and the clock font. These files are read by the program as they are, so
// a slip in them is a fault users see.

#include "TestSupport.h"
#include "common/IniFile.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

using namespace tolvane;

namespace {

QString dataPath(const QString& name) {
    return test::sourceDir() + QStringLiteral("/data/") + name;
}

QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// Lines of a shipped file, which must use CR LF throughout.
QStringList crlfLines(const QString& path) {
    const QByteArray bytes = readBytes(path);
    if (bytes.isEmpty())
        return {};
    if (!bytes.endsWith("\r\n"))
        return {QStringLiteral("<no final CR LF>")};
    if (bytes.count('\n') != bytes.count("\r\n"))
        return {QStringLiteral("<bare LF line ending>")};
    QStringList lines = QString::fromUtf8(bytes).split(QStringLiteral("\r\n"));
    lines.removeLast();
    return lines;
}

bool isWebAddress(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") &&
           !url.host().isEmpty() && !text.contains(u' ');
}

// Counts the style-sheet parse warnings Qt prints while a test runs.
int g_parseWarnings = 0;
QtMessageHandler g_previousHandler = nullptr;
void countParseWarnings(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
    if (msg.contains(QStringLiteral("Could not parse")))
        ++g_parseWarnings;
    if (g_previousHandler)
        g_previousHandler(type, context, msg);
}

// Builds a few widgets like the main window's, applies the sheet to the
// application and polishes them, which makes Qt parse every rule.
struct SkinnedWindow {
    QWidget window;
    QLabel* clock = nullptr;

    explicit SkinnedWindow(const QString& sheet) {
        auto* layout = new QVBoxLayout(&window);
        auto* panel = new QWidget;
        panel->setObjectName(QStringLiteral("sPanel1"));
        layout->addWidget(panel);
        clock = new QLabel(QStringLiteral("00:00:00"));
        clock->setObjectName(QStringLiteral("Timer"));
        QFont f(QStringLiteral("DSEG7 Classic"));
        f.setPointSize(13);
        clock->setFont(f);
        layout->addWidget(clock);
        auto* gauge = new QProgressBar;
        gauge->setObjectName(QStringLiteral("sGauge1"));
        gauge->setOrientation(Qt::Vertical);
        layout->addWidget(gauge);
        layout->addWidget(new QPushButton(QStringLiteral("play")));
        layout->addWidget(new QComboBox);
        auto* list = new QTreeWidget;
        list->setHeaderLabels({QStringLiteral("Radio station name")});
        layout->addWidget(list);
        qApp->setStyleSheet(sheet);
        window.show();
        for (QWidget* w : window.findChildren<QWidget*>())
            w->ensurePolished();
        QApplication::processEvents();
    }
    ~SkinnedWindow() { qApp->setStyleSheet(QString()); }
};

} // namespace

class TestShippedData : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(countParseWarnings); }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }

    // ---- station catalog ----

    void radiolist_recordsAreCompleteAndInWriterKeyOrder() {
        const QStringList lines = crlfLines(dataPath(QStringLiteral("radiolist.dat")));
        QVERIFY2(!lines.isEmpty() && !lines.first().startsWith(u'<'), qPrintable(lines.value(0)));
        QCOMPARE(lines.size() % 6, 0);

        const QStringList keys = {QStringLiteral("genre"), QStringLiteral("language"),
                                  QStringLiteral("website"), QStringLiteral("streaming"),
                                  QStringLiteral("bitrate")};
        QSet<QString> names;
        for (int i = 0; i < lines.size(); i += 6) {
            const QString header = lines[i];
            QVERIFY2(header.startsWith(u'[') && header.endsWith(u']'), qPrintable(header));
            const QString name = header.mid(1, header.size() - 2);
            QVERIFY2(!name.isEmpty() && name == name.trimmed(), qPrintable(header));
            QVERIFY2(!names.contains(name.toCaseFolded()), qPrintable("repeated: " + name));
            names.insert(name.toCaseFolded());
            for (int k = 0; k < keys.size(); ++k) {
                const QString line = lines[i + 1 + k];
                QVERIFY2(line.startsWith(keys[k] + u'='), qPrintable(name + ": " + line));
                const QString value = line.mid(keys[k].size() + 1);
                QVERIFY2(!value.isEmpty() && value == value.trimmed(),
                         qPrintable(name + ": " + line));
            }
        }
        QVERIFY2(names.size() >= 40, qPrintable(QString::number(names.size())));
    }

    void radiolist_addressesAndBitratesAreWellFormed() {
        IniFile ini(dataPath(QStringLiteral("radiolist.dat")));
        const IniDocument& doc = ini.document();
        const QStringList sections = doc.sectionNames();
        QVERIFY(!sections.isEmpty());
        for (const QString& name : sections) {
            const QString stream = doc.value(name, QStringLiteral("streaming"));
            QVERIFY2(isWebAddress(stream), qPrintable(name + ": " + stream));
            QVERIFY2(isWebAddress(doc.value(name, QStringLiteral("website"))), qPrintable(name));
            bool ok = false;
            const int bitrate = doc.value(name, QStringLiteral("bitrate")).toInt(&ok);
            QVERIFY2(ok && bitrate >= 16 && bitrate <= 320, qPrintable(name));
        }
    }

    // Every value a station carries is offered by its filter box, and every
    // entry of a box lists at least one station.
    void filterLists_matchTheCatalogExactly_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("listFile");
        QTest::addColumn<int>("minimumEntries");
        QTest::newRow("language") << "language"
                                  << "settings/language.dat" << 5;
        QTest::newRow("genre") << "genre"
                               << "settings/genre.dat" << 8;
    }

    void filterLists_matchTheCatalogExactly() {
        QFETCH(QString, key);
        QFETCH(QString, listFile);
        QFETCH(int, minimumEntries);

        const QStringList entries = crlfLines(dataPath(listFile));
        QVERIFY2(entries.size() >= minimumEntries, qPrintable(entries.join(u',')));
        QStringList sorted = entries;
        sorted.sort(Qt::CaseInsensitive);
        QCOMPARE(entries, sorted);
        QCOMPARE(QSet<QString>(entries.begin(), entries.end()).size(), entries.size());
        QVERIFY(!entries.contains(QStringLiteral("All")));

        IniFile ini(dataPath(QStringLiteral("radiolist.dat")));
        QSet<QString> used;
        for (const QString& name : ini.document().sectionNames())
            used.insert(ini.document().value(name, key));
        for (const QString& value : used)
            QVERIFY2(entries.contains(value), qPrintable(value + " is not offered"));
        for (const QString& entry : entries)
            QVERIFY2(used.contains(entry), qPrintable(entry + " lists no station"));
    }

    // ---- settings and services ----

    void installedSettings_holdUpdateSiteAndNothingElse() {
        IniFile ini(dataPath(QStringLiteral("settings/settings.dat")));
        const IniDocument& doc = ini.document();
        QCOMPARE(doc.sectionNames(),
                 QStringList({QStringLiteral("radio"), QStringLiteral("record")}));
        const QString site = doc.value(QStringLiteral("radio"), QStringLiteral("website"));
        QVERIFY2(isWebAddress(site) && !site.endsWith(u'/'), qPrintable(site));
        QCOMPARE(doc.value(QStringLiteral("radio"), QStringLiteral("update")),
                 QStringLiteral("false"));
        QVERIFY(doc.find(QStringLiteral("record"), QStringLiteral("recdir")).has_value());
        QCOMPARE(doc.value(QStringLiteral("record"), QStringLiteral("recdir")), QString());
        // New installations cut recordings exactly at song changes.
        QCOMPARE(doc.value(QStringLiteral("record"), QStringLiteral("exact")),
                 QStringLiteral("true"));
        // The keys the first shutdown writes must not be preset.
        for (const char* key : {"Volume", "station", "name", "version", "sajtstanice", "skin"})
            QVERIFY2(!doc.find(QStringLiteral("radio"), QString::fromLatin1(key)), key);
    }

    void services_everyKeyIsPresent() {
        IniFile ini(dataPath(QStringLiteral("settings/services.dat")));
        for (const char* key : {"main", "radio", "site", "lyrics", "facebook", "twitter",
                                "facebookpage", "twitterpage", "directory"}) {
            const QString value =
                ini.document().value(QStringLiteral("services"), QString::fromLatin1(key));
            QVERIFY2(isWebAddress(value) && !value.endsWith(u'/'), key);
        }
    }

    // ---- skins ----

    void skins_folderHoldsOnlyStyleSheets() {
        // The skin list takes every entry of the folder but plain
        // sub-folders, so anything else would show up as a skin.
        const QDir dir(dataPath(QStringLiteral("Skins")));
        const QStringList all = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
        QVERIFY2(all.size() >= 3, qPrintable(all.join(u',')));
        for (const QString& name : all)
            QVERIFY2(name.endsWith(QStringLiteral(".qss")) && !name.startsWith(u'.'),
                     qPrintable(name));
    }

    void skins_parseAndLeaveTheClockFontAlone_data() {
        QTest::addColumn<QString>("file");
        const QDir dir(dataPath(QStringLiteral("Skins")));
        for (const QString& name : dir.entryList({QStringLiteral("*.qss")}, QDir::Files))
            QTest::newRow(qPrintable(name)) << dir.filePath(name);
    }

    void skins_parseAndLeaveTheClockFontAlone() {
        QFETCH(QString, file);
        const QString sheet = QString::fromUtf8(readBytes(file));
        QVERIFY(!sheet.isEmpty());
        QVERIFY(QFontDatabase::addApplicationFont(dataPath("Fonts/DSEG7Classic-Bold.ttf")) >= 0);

        g_parseWarnings = 0;
        SkinnedWindow window(sheet);
        QCOMPARE(g_parseWarnings, 0);
        // The program sets the clock's font in code; a skin must not replace it.
        QCOMPARE(QFontInfo(window.clock->font()).family(), QStringLiteral("DSEG7 Classic"));
    }

    // The parse check above can fail: a broken sheet is noticed.
    void skins_brokenSheetIsNoticed() {
        g_parseWarnings = 0;
        SkinnedWindow window(QStringLiteral("QWidget { color: red; ]]] {"));
        QVERIFY(g_parseWarnings > 0);
    }

    // ---- pictures and font ----

    void pictures_loadWithTheirSizes_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("size");
        QTest::newRow("default station picture") << "Images/station.png" << QSize(80, 80);
        QTest::newRow("icon 64") << "Images/tolvane-64.png" << QSize(64, 64);
        QTest::newRow("icon 256") << "Images/tolvane-256.png" << QSize(256, 256);
        QTest::newRow("share on Facebook") << "Images/share-facebook.png" << QSize(40, 40);
        QTest::newRow("share on Twitter") << "Images/share-twitter.png" << QSize(40, 40);
        QTest::newRow("update loader") << "Images/loader.png" << QSize(345, 193);
    }

    void pictures_loadWithTheirSizes() {
        QFETCH(QString, file);
        QFETCH(QSize, size);
        QImage image;
        QVERIFY2(image.load(dataPath(file), "PNG"), qPrintable(file));
        QCOMPARE(image.size(), size);
    }

    void clockFont_loadsWithItsLicence() {
        const int id = QFontDatabase::addApplicationFont(dataPath("Fonts/DSEG7Classic-Bold.ttf"));
        QVERIFY(id >= 0);
        QCOMPARE(QFontDatabase::applicationFontFamilies(id),
                 QStringList(QStringLiteral("DSEG7 Classic")));
        const QByteArray licence = readBytes(dataPath("Fonts/DSEG-LICENSE.txt"));
        QVERIFY(licence.contains("SIL OPEN FONT LICENSE Version 1.1"));
    }
};

QTEST_MAIN(TestShippedData)
#include "test_shipped_data.moc"
