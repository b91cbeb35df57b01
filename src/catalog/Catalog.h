#pragma once
// The station catalog without its windows: reading the station files,
// building the working catalog temp.dat, filtering, listing and sorting the
// stations, and the pure rules behind selection, stepping and search.
//
// Station files are IniFiles of one section per station, named by the
// station name, with the keys streaming, website, bitrate, genre and
// language. A list row carries only the name, the bitrate and the genre; the
// stream URL and the website are looked up by name in temp.dat when a row is
// made current.
//
// Every function runs on the user-interface thread. The load functions read
// each file once and answer all lookups from memory.

#include "common/IniFile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <optional>
#include <utility>

namespace tolvane::catalog {

// File names, relative to the program folder (the current directory).
inline const QString RadioListFile = QStringLiteral("\\radiolist.dat");
inline const QString RadioUserFile = QStringLiteral("\\radiouser.dat");
inline const QString FavoritesFile = QStringLiteral("\\favorites.dat");
inline const QString WorkingCatalogFile = QStringLiteral("\\temp.dat");
inline const QString LanguageListFile = QStringLiteral("settings\\language.dat");
inline const QString GenreListFile = QStringLiteral("settings\\genre.dat");

// Texts shown while loading.
inline const QString RadioListMissingText = QStringLiteral("Error: radiolist.dat is missing!");
inline const QString NoFavoritesText = QStringLiteral("You dont have favorite radio stations!");
inline const QString ListFilesMissingText =
    QStringLiteral("Some files are missing, try to reinstall the program");

// The entry of a filter box that means "do not filter".
inline const QString AllEntry = QStringLiteral("All");

// One row of the station list.
struct StationRow {
    QString name, bitrate, genre;
    friend bool operator==(const StationRow&, const StationRow&) = default;
};

// What making a row current reads from the working catalog. `charset` names
// the character set the station sends its titles in (empty: the guess).
struct StationLink {
    QString streaming, website, charset;
    friend bool operator==(const StationLink&, const StationLink&) = default;
};

// The Language and Genre filters. An empty value does not filter; any other
// value must equal the station's value exactly, letter case included.
struct Filter {
    QString language, genre;

    // "All" (exact) and the empty text both mean "no filter" for that box.
    static Filter fromBoxTexts(const QString& languageBox, const QString& genreBox);
    bool passes(QStringView language, QStringView genre) const;
};

// The list name of a section header line: the line without its first and
// last character (whatever the last one is), then without leading and
// trailing characters of code 32 and below. "[Jazz] " gives "Jazz]".
// nullopt when the line does not start with "[".
std::optional<QString> stationNameFromHeader(const QString& line);

// The list fill over a station file's text, before sorting: a row for each
// line starting with "[", in file order, named as stationNameFromHeader
// names it, with the bitrate and genre of the first section of that name
// (letter case ignored, as IniFile reads), kept when the section's language
// and genre pass the filter. A text of fewer than two lines lists nothing.
QVector<StationRow> listStationText(const QString& text, const Filter& filter);

// The sorting step: fewer than two rows come back unchanged. Otherwise the
// names are sorted by a case-insensitive collation for the user's locale
// (QLocale()), one name of each group the collation finds equal is kept (the
// first of the group in list order), and each row's bitrate and genre are
// read from `lookup` under that name. Pass the document the listing used:
// the working catalog for Load Playlist, favorites.dat for Load favorites.
QVector<StationRow> sortAndDropRepeats(const QVector<StationRow>& rows, const IniDocument& lookup);

// The stream URL, website and charset of a station; empty for a name not
// held.
StationLink linkFor(const IniDocument& workingCatalog, const QString& name);

// Shows a message to the user; the load functions call it at the moment the
// message belongs to, before the caller changes the list.
using Notify = std::function<void(const QString&)>;

struct LoadResult {
    QVector<StationRow> rows; // the list's new rows, sorted
};

// Load Playlist, in the current directory: reads radiolist.dat (notifies
// "Error: radiolist.dat is missing!" when it is absent and goes on) and
// radiouser.dat, replaces temp.dat atomically with the joined lines, then
// lists and sorts. Throws FileReadError (a station file that exists but
// cannot be read) or IniWriteError (temp.dat) before anything is written or
// returned, so the caller keeps its rows. By default messages go to the
// program's message boxes.
LoadResult loadPlaylist(const Filter& filter, const Notify& notify = Notify());

// Load favorites: reads favorites.dat (notifies "You dont have favorite
// radio stations!" when it is absent and goes on with no lines), lists and
// sorts with every lookup going to favorites.dat. temp.dat is not written.
// Throws FileReadError when favorites.dat cannot be read.
LoadResult loadFavorites(const Filter& filter, const Notify& notify = Notify());

// The entries of the Language and Genre boxes from settings\language.dat and
// settings\genre.dat (without "All"); nullopt when either file is missing.
// Throws FileReadError when one exists but cannot be read.
std::optional<std::pair<QStringList, QStringList>> readFilterLists();

// True when temp.dat exists; selection and stepping do nothing without it.
bool workingCatalogExists();

// The key of a station record that names its titles' character set.
inline const QString CharsetKey = QStringLiteral("charset");

// Reads temp.dat once and returns the station's link (empty when the file
// or the name is missing). Throws FileReadError when it cannot be read.
StationLink readStationLink(const QString& name);

// Stepping: `selected` is the selected row or -1. The row to make current,
// select and play, or nullopt to do nothing (no wrap-around).
std::optional<int> nextStationRow(int selected, int rowCount);
std::optional<int> previousStationRow(int selected, int rowCount);

// Letters a to z become A to Z; every other character stays as it is.
QString foldAtoZ(const QString& text);

// FindStation's search from the row after `selected` (after row 0 when
// nothing is selected) towards the end, comparing with foldAtoZ on both
// sides. The matching row (select it alone, scroll to it, focus the list),
// or nullopt for "select the first row without scrolling". An empty search
// text never matches. The caller does nothing at all for an empty list.
std::optional<int> findStationRow(const QStringList& captions, int selected,
                                  const QString& searchText);

} // namespace tolvane::catalog
