// Loading the station list: the header and filter rules, the working
// catalog, the sorting step, favorites, and bad station files.

#include "MessageRecorder.h"
#include "TestSupport.h"
#include "catalog/Catalog.h"
#include "catalog/Collation.h"
#include "common/Errors.h"
#include "common/IniFile.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <numeric>

#include <sys/stat.h>

using namespace tolvane;
using namespace tolvane::catalog;
using tolvane::test::MessageRecorder;
using tolvane::test::TestFolder;

namespace {

QStringList names(const QVector<StationRow>& rows) {
    QStringList out;
    for (const StationRow& r : rows)
        out << r.name;
    return out;
}

QByteArray station(const QByteArray& name, const QByteArray& bitrate, const QByteArray& genre,
                   const QByteArray& language = "English") {
    return "[" + name + "]\ngenre=" + genre + "\nlanguage=" + language + "\nwebsite=http://" +
           name.toLower().replace(' ', '-') + ".example\nstreaming=http://" +
           name.toLower().replace(' ', '-') + ".example/live\nbitrate=" + bitrate + "\n";
}

const Notify ignore = [](const QString&) {};

// Restores the default locale after a test that sets one.
struct LocaleGuard {
    QLocale saved;
    explicit LocaleGuard(const QString& name) { QLocale::setDefault(QLocale(name)); }
    ~LocaleGuard() { QLocale::setDefault(saved); }
};

} // namespace

class CatalogLoadingTest : public QObject {
    Q_OBJECT
private slots:
    void stationNameFromHeader_followsTheHeaderRule_data();
    void stationNameFromHeader_followsTheHeaderRule();
    void filter_comparesExactlyAndTreatsAllOrEmptyAsNoFilter_data();
    void filter_comparesExactlyAndTreatsAllOrEmptyAsNoFilter();

    void loadPlaylist_catalogOfFewerThanTwoLinesListsNothing_data();
    void loadPlaylist_catalogOfFewerThanTwoLinesListsNothing();
    void loadPlaylist_writesJoinedLinesWithoutMergingTheFiles();
    void loadPlaylist_keepsRadiolistValuesForNameRepeatedInRadiouser();
    void loadPlaylist_caseVariantsOfOneNameGiveOneRow_data();
    void loadPlaylist_caseVariantsOfOneNameGiveOneRow();
    void loadPlaylist_sortsNonAsciiNamesByTheUserLocale();
    void loadPlaylist_filtersExactlyOnLanguageAndGenre_data();
    void loadPlaylist_filtersExactlyOnLanguageAndGenre();
    void loadPlaylist_headerWithTrailingBlankKeepsBracketAndFindsNoValues();
    void loadPlaylist_readsLineEndingsByteOrderMarksAndLatin1();
    void loadPlaylist_survivesHugeLinesAndBinaryJunk();
    void loadPlaylist_recordWithManyKeysReadsFirstLineOfEachKey();
    void loadPlaylist_listsWhatTheReadingRulesFindInAnyCatalog();
    void loadPlaylist_missingRadiolistIsReportedAndUserStationsListed();
    void loadPlaylist_bothFilesMissingWritesEmptyCatalog();
    void loadPlaylist_unreadableStationFileStopsBeforeWriting_data();
    void loadPlaylist_unreadableStationFileStopsBeforeWriting();
    void loadPlaylist_missingMessageComesBeforeTheReadError();
    void loadPlaylist_unwritableWorkingCatalogLosesNothing();

    void loadFavorites_singleFavoriteShowsFavoritesValues();
    void loadFavorites_takesValuesFromFavoritesEvenWhenCatalogLacksOrDiffers();
    void loadFavorites_missingFileIsReportedAndListsNothing();
    void loadFavorites_filtersOnFavoritesValuesAndLeavesWorkingCatalogAlone();
    void loadFavorites_folderInPlaceOfFileRaisesReadError();

    void sortAndDropRepeats_keepsFirstOfGroupAndReadsValuesByName();
    void collatedDistinctOrder_isTheCollatorsOrder_data();
    void collatedDistinctOrder_isTheCollatorsOrder();
    void readFilterLists_needsBothFiles();
    void readStationLink_looksUpWorkingCatalogByName();
};

void CatalogLoadingTest::stationNameFromHeader_followsTheHeaderRule_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("isHeader");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "[Rock FM]" << true << "Rock FM";
    QTest::newRow("blank after bracket keeps bracket") << "[Jazz] " << true << "Jazz]";
    QTest::newRow("no closing bracket loses last letter") << "[Rock FM" << true << "Rock F";
    QTest::newRow("blanks and tabs trimmed") << "[ \tPop 1 ]" << true << "Pop 1";
    QTest::newRow("control characters trimmed")
        << QString("[\x01Jazz\x1f]") << true << QString("Jazz");
    QTest::newRow("no-break space is kept")
        << QString::fromUtf8("[\u00A0Jazz]") << true << QString::fromUtf8("\u00A0Jazz");
    QTest::newRow("empty brackets") << "[]" << true << "";
    QTest::newRow("lone bracket") << "[" << true << "";
    QTest::newRow("blank before bracket is no header") << " [Jazz]" << false << "";
    QTest::newRow("key line") << "genre=Jazz" << false << "";
    QTest::newRow("empty line") << "" << false << "";
}

void CatalogLoadingTest::stationNameFromHeader_followsTheHeaderRule() {
    QFETCH(QString, line);
    QFETCH(bool, isHeader);
    QFETCH(QString, name);
    const std::optional<QString> got = stationNameFromHeader(line);
    QCOMPARE(got.has_value(), isHeader);
    if (isHeader)
        QCOMPARE(*got, name);
}

void CatalogLoadingTest::filter_comparesExactlyAndTreatsAllOrEmptyAsNoFilter_data() {
    QTest::addColumn<QString>("languageBox");
    QTest::addColumn<QString>("genreBox");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("genre");
    QTest::addColumn<bool>("passes");
    QTest::newRow("All and All") << "All"
                                 << "All"
                                 << "x"
                                 << "y" << true;
    QTest::newRow("empty boxes") << ""
                                 << ""
                                 << ""
                                 << "" << true;
    QTest::newRow("language matches") << "English"
                                      << "All"
                                      << "English"
                                      << "Pop" << true;
    QTest::newRow("language case differs") << "English"
                                           << "All"
                                           << "english"
                                           << "Pop" << false;
    QTest::newRow("genre only") << "All"
                                << "Jazz"
                                << "German"
                                << "Jazz" << true;
    QTest::newRow("genre differs") << ""
                                   << "Jazz"
                                   << "German"
                                   << "Jazz " << false;
    QTest::newRow("both match") << "German"
                                << "Jazz"
                                << "German"
                                << "Jazz" << true;
    QTest::newRow("both, genre differs") << "German"
                                         << "Jazz"
                                         << "German"
                                         << "Rock" << false;
    QTest::newRow("all in lower case filters") << "all"
                                               << "All"
                                               << "English"
                                               << "Pop" << false;
    QTest::newRow("partial text filters") << "Eng"
                                          << "All"
                                          << "English"
                                          << "Pop" << false;
}

void CatalogLoadingTest::filter_comparesExactlyAndTreatsAllOrEmptyAsNoFilter() {
    QFETCH(QString, languageBox);
    QFETCH(QString, genreBox);
    QFETCH(QString, language);
    QFETCH(QString, genre);
    QFETCH(bool, passes);
    QCOMPARE(Filter::fromBoxTexts(languageBox, genreBox).passes(language, genre), passes);
}

void CatalogLoadingTest::loadPlaylist_catalogOfFewerThanTwoLinesListsNothing_data() {
    QTest::addColumn<QByteArray>("radiolist");
    QTest::addColumn<QByteArray>("radiouser");
    QTest::addColumn<int>("rows");
    QTest::newRow("lone header in radiolist") << QByteArray("[Solo]\n") << QByteArray() << 0;
    QTest::newRow("lone header, no line break") << QByteArray("[Solo]") << QByteArray() << 0;
    QTest::newRow("lone header in radiouser") << QByteArray() << QByteArray("[Solo]\r\n") << 0;
    QTest::newRow("one line in each file") << QByteArray("[One]") << QByteArray("[Two]") << 2;
    QTest::newRow("header and a key") << QByteArray("[Solo]\nbitrate=1\n") << QByteArray() << 1;
}

void CatalogLoadingTest::loadPlaylist_catalogOfFewerThanTwoLinesListsNothing() {
    QFETCH(QByteArray, radiolist);
    QFETCH(QByteArray, radiouser);
    QFETCH(int, rows);
    TestFolder folder;
    if (!radiolist.isNull())
        folder.write("radiolist.dat", radiolist);
    if (!radiouser.isNull())
        folder.write("radiouser.dat", radiouser);
    QCOMPARE(loadPlaylist(Filter{}, ignore).rows.size(), rows);
}

void CatalogLoadingTest::loadPlaylist_writesJoinedLinesWithoutMergingTheFiles() {
    TestFolder folder;
    folder.write("radiolist.dat", "[Alpha]\r\nbitrate=64"); // no final line break
    folder.write("radiouser.dat", "[Beta]\nbitrate=128\n");
    const LoadResult result = loadPlaylist(Filter{}, ignore);
    QCOMPARE(folder.read("temp.dat"),
             QByteArray("[Alpha]\r\nbitrate=64\r\n[Beta]\r\nbitrate=128\r\n"));
    const QVector<StationRow> expected{{"Alpha", "64", ""}, {"Beta", "128", ""}};
    QCOMPARE(result.rows, expected);
}

void CatalogLoadingTest::loadPlaylist_keepsRadiolistValuesForNameRepeatedInRadiouser() {
    TestFolder folder;
    folder.write("radiolist.dat",
                 station("Rock Antenne", "128", "Rock") + station("Zulu", "64", "Pop"));
    folder.write("radiouser.dat", station("Rock Antenne", "320", "Metal"));
    const LoadResult result = loadPlaylist(Filter{}, ignore);
    const QVector<StationRow> expected{{"Rock Antenne", "128", "Rock"}, {"Zulu", "64", "Pop"}};
    QCOMPARE(result.rows, expected);
    // The working catalog answers later lookups the same way.
    QCOMPARE(readStationLink("Rock Antenne").streaming,
             QString("http://rock-antenne.example/live"));
}

void CatalogLoadingTest::loadPlaylist_caseVariantsOfOneNameGiveOneRow_data() {
    QTest::addColumn<QString>("locale");
    QTest::newRow("C") << "C";
    QTest::newRow("en_US") << "en_US";
    QTest::newRow("de_DE") << "de_DE";
}

void CatalogLoadingTest::loadPlaylist_caseVariantsOfOneNameGiveOneRow() {
    QFETCH(QString, locale);
    LocaleGuard guard(locale);
    TestFolder folder;
    folder.write("radiolist.dat", station("Rock FM", "128", "Rock") + station("Alpha", "1", "x") +
                                      station("ROCK FM", "64", "Pop") +
                                      station("rock fm", "32", "y"));
    const LoadResult result = loadPlaylist(Filter{}, ignore);
    QCOMPARE(names(result.rows), QStringList({"Alpha", "Rock FM"}));
    QCOMPARE(result.rows[1].bitrate, QString("128"));
}

void CatalogLoadingTest::loadPlaylist_sortsNonAsciiNamesByTheUserLocale() {
    LocaleGuard guard("de_DE");
    TestFolder folder;
    folder.write("radiolist.dat", station("Zebra", "1", "x") + station("Äther", "2", "x") +
                                      station("apfel", "3", "x") + station("Bach", "4", "x") +
                                      station("ÄTHER", "5", "x") + station("Ather", "6", "x"));
    const LoadResult result = loadPlaylist(Filter{}, ignore);
    // Accents order within the letter; case variants collapse; code point order
    // would put the umlaut after Zebra.
    QCOMPARE(names(result.rows), QStringList({"apfel", "Ather", "Äther", "Bach", "Zebra"}));
    QCOMPARE(result.rows[2].bitrate, QString("2"));
}

void CatalogLoadingTest::loadPlaylist_filtersExactlyOnLanguageAndGenre_data() {
    QTest::addColumn<QString>("languageBox");
    QTest::addColumn<QString>("genreBox");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("no filter") << "All"
                               << "All" << QStringList{"A", "B", "C", "D"};
    QTest::newRow("English") << "English"
                             << "All" << QStringList{"A", "C"};
    QTest::newRow("english matches only lower case") << "english"
                                                     << "All" << QStringList{"D"};
    QTest::newRow("Eng lists nothing") << "Eng"
                                       << "" << QStringList{};
    QTest::newRow("genre Jazz") << "All"
                                << "Jazz" << QStringList{"A", "B"};
    QTest::newRow("both") << "English"
                          << "Jazz" << QStringList{"A"};
}

void CatalogLoadingTest::loadPlaylist_filtersExactlyOnLanguageAndGenre() {
    QFETCH(QString, languageBox);
    QFETCH(QString, genreBox);
    QFETCH(QStringList, expected);
    TestFolder folder;
    folder.write("radiolist.dat", station("A", "1", "Jazz", "English") +
                                      station("B", "2", "Jazz", "German") +
                                      station("C", "3", "Rock", "English"));
    folder.write("radiouser.dat", station("D", "4", "Rock", "english"));
    QCOMPARE(names(loadPlaylist(Filter::fromBoxTexts(languageBox, genreBox), ignore).rows),
             expected);
}

void CatalogLoadingTest::loadPlaylist_headerWithTrailingBlankKeepsBracketAndFindsNoValues() {
    TestFolder folder;
    folder.write("radiolist.dat", "; shipped catalog\n\n[Jazz] \ngenre=Jazz\nbitrate=128\n"
                                  "no equals sign here\n\n[Pop]\nbitrate=64\ngenre=Pop\n");
    const QVector<StationRow> expected{{"Jazz]", "", ""}, {"Pop", "64", "Pop"}};
    QCOMPARE(loadPlaylist(Filter{}, ignore).rows, expected);
}

void CatalogLoadingTest::loadPlaylist_readsLineEndingsByteOrderMarksAndLatin1() {
    TestFolder folder;
    folder.write("radiolist.dat", "\xEF\xBB\xBF[Radio Bjørn]\r\nbitrate=128\r\ngenre=Pop\r\n");
    // A byte-order mark at the start of the user's file must not hide its first header.
    folder.write("radiouser.dat", "\xEF\xBB\xBF[Ünter]\nbitrate=64\n");
    folder.write("favorites.dat", "[Caf\xE9 Latin]\nbitrate=32\nstreaming=http://cafe\n");
    const QVector<StationRow> catalogRows{{"Radio Bjørn", "128", "Pop"}, {"Ünter", "64", ""}};
    QCOMPARE(loadPlaylist(Filter{}, ignore).rows, catalogRows);
    const QVector<StationRow> favoriteRows{{"Café Latin", "32", ""}};
    QCOMPARE(loadFavorites(Filter{}, ignore).rows, favoriteRows);

    // A Latin-1 user file joins a UTF-8 catalog without garbling either.
    folder.write("radiouser.dat", "[Caf\xE9]\nstreaming=http://cafe\n");
    loadPlaylist(Filter{}, ignore);
    QCOMPARE(readStationLink("Radio Bjørn").streaming, QString());
    QCOMPARE(readStationLink("Café").streaming, QString("http://cafe"));
    QCOMPARE(IniFile(folder.file("temp.dat")).ReadString("radio bjørn", "bitrate"), QString("128"));
}

void CatalogLoadingTest::loadPlaylist_survivesHugeLinesAndBinaryJunk() {
    TestFolder folder;
    QByteArray junk;
    QRandomGenerator random(7);
    for (int i = 0; i < 200000; ++i)
        junk += char(random.bounded(256));
    const QByteArray hugeLine(5 * 1024 * 1024, 'x');
    const QByteArray hugeValue = "bitrate=" + QByteArray(3 * 1024 * 1024, '9') + "\n";
    folder.write("radiolist.dat", junk + "\n" + hugeLine + "\n[Huge]\n" + hugeValue + "[" +
                                      hugeLine + "]\n" + station("Known Station", "128", "Rock"));
    const LoadResult result = loadPlaylist(Filter{}, ignore);
    auto find = [&](const QString& name) -> const StationRow* {
        for (const StationRow& r : result.rows)
            if (r.name == name)
                return &r;
        return nullptr;
    };
    QVERIFY(find("Known Station"));
    QCOMPARE(find("Known Station")->bitrate, QString("128"));
    QVERIFY(find("Huge"));
    QCOMPARE(find("Huge")->bitrate, QString(2047, '9'));
    QVERIFY(find(QString(hugeLine)));
}

void CatalogLoadingTest::loadPlaylist_recordWithManyKeysReadsFirstLineOfEachKey() {
    TestFolder folder;
    QByteArray record = "[Busy]\ngenre=Jazz\n";
    for (int i = 0; i < 40; ++i) // enough keys for the record to be indexed differently
        record += "extra" + QByteArray::number(i) + "=x\n";
    record += "BITRATE=96\nGenre=Rock\nbitrate=320\n";
    folder.write("radiolist.dat", record + station("Calm", "64", "Pop"));
    const QVector<StationRow> expected{{"Busy", "96", "Jazz"}, {"Calm", "64", "Pop"}};
    QCOMPARE(loadPlaylist(Filter{}, ignore).rows, expected);
}

void CatalogLoadingTest::loadPlaylist_listsWhatTheReadingRulesFindInAnyCatalog() {
    // Random catalogs of odd but possible lines: the list must show, for
    // every header line, the values that IniFile's own reading of the
    // working catalog gives that name.
    const QStringList names{"Rock FM", "ROCK fm", "Jazz",      " Jazz ", "Äther",
                            "äTHER",   "Café",    "\u00A0Pop", "Pop",    "Radio 𝄞",
                            "RADIO 𝄞", "x]y",     "",          "Ωmega",  "ωMEGA"};
    const QStringList keys{"bitrate", "BITRATE",  " genre ", "Genre",   "language",
                           "lang",    "bitrate2", ";genre",  "website", "streaming"};
    const QStringList values{"128",     " 64 ", "\"96\"",   "\"",         "Jazz", "Rock",
                             "English", "",     "English ", "\"Rock\" x", "a=b"};
    QRandomGenerator random(11);
    auto pick = [&](const QStringList& list) { return list[random.bounded(int(list.size()))]; };
    for (int round = 0; round < 40; ++round) {
        QString text;
        const int lines = random.bounded(1, 60);
        for (int i = 0; i < lines; ++i) {
            switch (random.bounded(9)) {
            case 0:
                text += "  [" + pick(names) + "]"; // a section, but no row
                break;
            case 1:
                text += "[" + pick(names) + "] "; // a row whose name keeps "]"
                break;
            case 2:
                text += "[" + pick(names); // no closing bracket
                break;
            case 3:
                text += "; a comment";
                break;
            case 4:
                break; // an empty line
            default:
                if (random.bounded(2))
                    text += "[" + pick(names) + "]";
                else
                    text += pick(keys) + "=" + pick(values);
            }
            text += random.bounded(3) ? "\n" : "\r\n";
        }
        TestFolder folder;
        folder.write("radiolist.dat", text.toUtf8());
        for (const char* languageBox : {"All", "English"}) {
            for (const char* genreBox : {"All", "Jazz"}) {
                const Filter filter = Filter::fromBoxTexts(languageBox, genreBox);
                const LoadResult result = loadPlaylist(filter, ignore);
                const IniDocument doc =
                    IniDocument::fromText(QString::fromUtf8(folder.read("temp.dat")));
                QVector<StationRow> expected;
                for (const QString& line : doc.lines()) {
                    const std::optional<QString> name = stationNameFromHeader(line);
                    if (!name || doc.lineCount() < 2)
                        continue;
                    const QStringList v = doc.values(*name, {"bitrate", "genre", "language"});
                    if (filter.passes(v[2], v[1]))
                        expected.push_back({*name, v[0], v[1]});
                }
                QCOMPARE(result.rows, sortAndDropRepeats(expected, doc));
            }
        }
    }
}

void CatalogLoadingTest::loadPlaylist_missingRadiolistIsReportedAndUserStationsListed() {
    TestFolder folder;
    folder.write("radiouser.dat", station("Mine", "96", "Talk") + station("Also Mine", "1", "x"));
    MessageRecorder recorder;
    const LoadResult result = loadPlaylist(Filter{}); // default: the program's message boxes
    QCOMPARE(recorder.texts(), QStringList{"Error: radiolist.dat is missing!"});
    QCOMPARE(names(result.rows), QStringList({"Also Mine", "Mine"}));
    QVERIFY(folder.read("temp.dat").startsWith("[Mine]\r\n"));
}

void CatalogLoadingTest::loadPlaylist_bothFilesMissingWritesEmptyCatalog() {
    TestFolder folder;
    folder.write("temp.dat", station("Old", "1", "x"));
    QStringList shown;
    const LoadResult result = loadPlaylist(Filter{}, [&](const QString& t) { shown << t; });
    QCOMPARE(shown, QStringList{"Error: radiolist.dat is missing!"});
    QVERIFY(result.rows.isEmpty());
    QVERIFY(folder.exists("temp.dat"));
    QCOMPARE(folder.read("temp.dat"), QByteArray());
}

void CatalogLoadingTest::loadPlaylist_unreadableStationFileStopsBeforeWriting_data() {
    QTest::addColumn<QString>("broken");
    QTest::addColumn<QString>("kind");
    QTest::newRow("radiolist is a folder") << "radiolist.dat"
                                           << "folder";
    QTest::newRow("radiouser is a folder") << "radiouser.dat"
                                           << "folder";
    QTest::newRow("radiolist is a pipe") << "radiolist.dat"
                                         << "pipe";
    QTest::newRow("radiouser is too large") << "radiouser.dat"
                                            << "huge";
}

void CatalogLoadingTest::loadPlaylist_unreadableStationFileStopsBeforeWriting() {
    QFETCH(QString, broken);
    QFETCH(QString, kind);
    TestFolder folder;
    const QByteArray oldCatalog = station("Old", "1", "x");
    folder.write("temp.dat", oldCatalog);
    for (const char* name : {"radiolist.dat", "radiouser.dat"}) {
        if (broken != name)
            folder.write(name, station("Fine", "1", "x"));
    }
    if (kind == "pipe") {
        QCOMPARE(::mkfifo(QFile::encodeName(folder.file(broken)).constData(), 0600), 0);
    } else if (kind == "huge") {
        QFile huge(folder.file(broken)); // sparse: costs no disk space
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(65LL * 1024 * 1024));
    } else {
        QVERIFY(QDir(folder.path()).mkdir(broken));
    }
    try {
        loadPlaylist(Filter{}, ignore);
        QFAIL("no FileReadError");
    } catch (const FileReadError& e) {
        QCOMPARE(e.path(), folder.file(broken));
        QVERIFY(e.message().contains(broken));
    }
    QCOMPARE(folder.read("temp.dat"), oldCatalog);
}

void CatalogLoadingTest::loadPlaylist_missingMessageComesBeforeTheReadError() {
    TestFolder folder;
    QVERIFY(QDir(folder.path()).mkdir("radiouser.dat"));
    QStringList shown;
    QVERIFY_THROWS_EXCEPTION(FileReadError,
                             loadPlaylist(Filter{}, [&](const QString& t) { shown << t; }));
    QCOMPARE(shown, QStringList{"Error: radiolist.dat is missing!"});
    QVERIFY(!folder.exists("temp.dat"));
}

void CatalogLoadingTest::loadPlaylist_unwritableWorkingCatalogLosesNothing() {
    TestFolder folder;
    const QByteArray radiolist = station("Alpha", "1", "x") + station("Beta", "2", "y");
    folder.write("radiolist.dat", radiolist);
    folder.write("temp.dat/keep.txt", "still here");
    try {
        loadPlaylist(Filter{}, ignore);
        QFAIL("no IniWriteError");
    } catch (const IniWriteError& e) {
        QCOMPARE(e.path(), folder.file("temp.dat"));
        QCOMPARE(e.message(), "Unable to write to " + folder.file("temp.dat"));
    }
    QCOMPARE(folder.read("temp.dat/keep.txt"), QByteArray("still here"));
    QCOMPARE(folder.read("radiolist.dat"), radiolist);
    // No half-written temporary file is left behind.
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"radiolist.dat"});
}

void CatalogLoadingTest::loadFavorites_singleFavoriteShowsFavoritesValues() {
    TestFolder folder;
    folder.write("temp.dat", station("Fav", "320", "Metal"));
    folder.write("favorites.dat", station("Fav", "128", "Jazz"));
    const QVector<StationRow> expected{{"Fav", "128", "Jazz"}};
    QCOMPARE(loadFavorites(Filter{}, ignore).rows, expected);
}

void CatalogLoadingTest::loadFavorites_takesValuesFromFavoritesEvenWhenCatalogLacksOrDiffers() {
    TestFolder folder;
    folder.write("radiolist.dat", station("In Catalog", "320", "Metal"));
    loadPlaylist(Filter{}, ignore);
    folder.write("favorites.dat",
                 station("Not In Catalog", "64", "Talk") + station("In Catalog", "128", "Jazz"));
    const QVector<StationRow> expected{{"In Catalog", "128", "Jazz"},
                                       {"Not In Catalog", "64", "Talk"}};
    QCOMPARE(loadFavorites(Filter{}, ignore).rows, expected);
}

void CatalogLoadingTest::loadFavorites_missingFileIsReportedAndListsNothing() {
    TestFolder folder;
    folder.write("radiolist.dat", station("A", "1", "x") + station("B", "1", "x"));
    loadPlaylist(Filter{}, ignore);
    MessageRecorder recorder;
    QVERIFY(loadFavorites(Filter{}).rows.isEmpty());
    QCOMPARE(recorder.texts(), QStringList{"You dont have favorite radio stations!"});
}

void CatalogLoadingTest::loadFavorites_filtersOnFavoritesValuesAndLeavesWorkingCatalogAlone() {
    TestFolder folder;
    folder.write("favorites.dat", station("One", "1", "Jazz", "German") +
                                      station("Two", "2", "Rock", "German") +
                                      station("Three", "3", "Jazz", "English"));
    QCOMPARE(names(loadFavorites(Filter::fromBoxTexts("German", "Jazz"), ignore).rows),
             QStringList{"One"});
    QCOMPARE(names(loadFavorites(Filter::fromBoxTexts("All", "Jazz"), ignore).rows),
             QStringList({"One", "Three"}));
    QVERIFY(!folder.exists("temp.dat"));
}

void CatalogLoadingTest::loadFavorites_folderInPlaceOfFileRaisesReadError() {
    TestFolder folder;
    QVERIFY(QDir(folder.path()).mkdir("favorites.dat"));
    QStringList shown;
    QVERIFY_THROWS_EXCEPTION(FileReadError,
                             loadFavorites(Filter{}, [&](const QString& t) { shown << t; }));
    QVERIFY(shown.isEmpty());
}

void CatalogLoadingTest::sortAndDropRepeats_keepsFirstOfGroupAndReadsValuesByName() {
    LocaleGuard guard("en_US");
    const IniDocument lookup = IniDocument::fromText(
        QString::fromUtf8(station("rock fm", "128", "Rock") + station("Alpha", "64", "Pop")));
    // A single row is left as it is, values included.
    const QVector<StationRow> single{{"Alpha", "1", "stale"}};
    QCOMPARE(sortAndDropRepeats(single, lookup), single);
    const QVector<StationRow> rows{
        {"ROCK FM", "", ""}, {"Alpha", "", ""}, {"Rock FM", "", ""}, {"Gone", "9", "x"}};
    const QVector<StationRow> expected{
        {"Alpha", "64", "Pop"}, {"Gone", "", ""}, {"ROCK FM", "128", "Rock"}};
    QCOMPARE(sortAndDropRepeats(rows, lookup), expected);
}

void CatalogLoadingTest::collatedDistinctOrder_isTheCollatorsOrder_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("withSurrogates");
    QTest::addColumn<bool>("quickPathHolds"); // whether the table must vouch for its order
    QTest::newRow("en_US") << "en_US" << false << true;
    QTest::newRow("de_DE") << "de_DE" << false << true;
    QTest::newRow("en_US, names beyond the basic plane") << "en_US" << true << true;
    QTest::newRow("sv_SE: letters after z") << "sv_SE" << false << false;
    QTest::newRow("da_DK: aa is one letter") << "da_DK" << false << false;
    QTest::newRow("cs_CZ: ch is one letter") << "cs_CZ" << false << false;
    QTest::newRow("tr_TR: dotless i") << "tr_TR" << true << false;
    QTest::newRow("fr_CA: accents from the end") << "fr_CA" << false << false;
}

void CatalogLoadingTest::collatedDistinctOrder_isTheCollatorsOrder() {
    QFETCH(QString, locale);
    QFETCH(bool, withSurrogates);
    QFETCH(bool, quickPathHolds);
    QStringList names{
        "Café",     "cafe",    "CAFE",     "Cafe",      "café",     "cafè",    "Äther",
        "Ather",    "ather",   "Zebra",    "Żar",       "Zar",      "Čas",     "Cas",
        "Chata",    "Hrad",    "Ch",       "Aalborg",   "Ånd",      "And",     "Ärzte",
        "Öl",       "Oz",      "Istanbul", "ıstanbul",  "İzmir",    "izmir",   "Radio 1",
        "Radio 10", "Radio 2", "Radio-1",  "Radio.1",   "radio  1", "",        "\u00AD",
        "a\u0301b", "áb",      "ab",       "ß",         "ss",       "Straße",  "Strasse",
        "ω",        "Ω",       "日本",     "Ñandú",     "nandu",    "ǘber",    "über",
        "Über",     "uber",    "!",        "#1",        "(Rock)",   "[x]",     "côte",
        "coté",     "cote",    "côté",     "Rock FM",   "ROCK FM",  "rock fm", "Œuvre",
        "Oeuvre",   "Æble",    "Aeble",    "Jazz\tBar", "Jazz Bar"};
    if (withSurrogates)
        names << "Radio 𝄞"
              << "RADIO 𝄞"
              << "Radio 🎵";
    QCollator collator{QLocale(locale)};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // What a stable sort by the collator's sort keys keeps: the first of
    // each run of equal keys.
    auto reference = [&] {
        std::vector<QCollatorSortKey> keys;
        for (const QString& name : names)
            keys.push_back(collator.sortKey(name));
        std::vector<qsizetype> order(size_t(names.size()));
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](qsizetype a, qsizetype b) { return keys[a].compare(keys[b]) < 0; });
        std::vector<qsizetype> kept;
        for (size_t i = 0; i < order.size(); ++i) {
            if (i == 0 || keys[order[i]].compare(keys[order[i - 1]]) != 0)
                kept.push_back(order[i]);
        }
        return kept;
    };
    // In several orders of the input, so case variants come first or last.
    for (int shuffle = 0; shuffle < 4; ++shuffle) {
        const std::vector<QStringView> views(names.begin(), names.end());
        const std::vector<qsizetype> expected = reference();
        QCOMPARE(collatedDistinctOrder(views, collator), expected);
        const auto quick = tableCollatedDistinctOrder(views, collator);
        QVERIFY(quick || !quickPathHolds);
        if (quick)
            QCOMPARE(*quick, expected);
        std::reverse(names.begin(), names.end());
        std::rotate(names.begin(), names.begin() + shuffle * 7, names.end());
    }
}

void CatalogLoadingTest::readFilterLists_needsBothFiles() {
    TestFolder folder;
    folder.write("settings/language.dat", "\xEF\xBB\xBF"
                                          "English\r\nGerman\r\n");
    QVERIFY(!readFilterLists());
    folder.write("settings/genre.dat", "Jazz\nRock");
    const auto lists = readFilterLists();
    QVERIFY(lists);
    QCOMPARE(lists->first, QStringList({"English", "German"}));
    QCOMPARE(lists->second, QStringList({"Jazz", "Rock"}));
    QFile::remove(folder.file("settings/genre.dat"));
    QVERIFY(QDir(folder.path()).mkpath("settings/genre.dat"));
    QVERIFY_THROWS_EXCEPTION(FileReadError, readFilterLists());
}

void CatalogLoadingTest::readStationLink_looksUpWorkingCatalogByName() {
    TestFolder folder;
    QCOMPARE(readStationLink("Anything"), StationLink{});
    folder.write("temp.dat", station("Rock FM", "1", "x"));
    const StationLink link = readStationLink("ROCK fm");
    QCOMPARE(link.streaming, QString("http://rock-fm.example/live"));
    QCOMPARE(link.website, QString("http://rock-fm.example"));
    QCOMPARE(readStationLink("Rock"), StationLink{});
    // Letter case is ignored beyond ASCII too; characters outside the basic
    // plane are matched as they are.
    folder.write("temp.dat", "[ÄTHER Ωmega]\nstreaming=http://aether\n"
                             "[Radio \xF0\x9F\x8E\xB5]\nstreaming=http://note\n");
    QCOMPARE(readStationLink(QString::fromUtf8("äther ωMEGA")).streaming, QString("http://aether"));
    QCOMPARE(readStationLink(QString::fromUtf8("RADIO \xF0\x9F\x8E\xB5")).streaming,
             QString("http://note"));
    QCOMPARE(readStationLink(QString::fromUtf8("Radio \xF0\x9F\x8E\xB6")), StationLink{});
}

QTEST_GUILESS_MAIN(CatalogLoadingTest)
#include "test_catalog_loading.moc"
