#pragma once
// Changing the station files without their windows: copying a station into
// the favorites, the checks and the record of a new station, what the
// clipboard may offer as a stream URL, and listing and erasing the stations
// of the user's own files. Every function runs on the user-interface thread
// and names its files at the moment of use.

#include "Catalog.h"

#include <QString>
#include <QVector>

namespace tolvane::catalog {

// A station record's keys in the order every writer writes them.
QStringList recordKeyOrder();

// Texts of favorites.
QString addedToFavoritesText(const QString& name);
inline const QString NoActiveStationText = QStringLiteral("No active radio station");
QString notInCatalogText(const QString& name);

// Copies the record of `name` from the working catalog temp.dat into
// favorites.dat (genre, language, website, streaming, bitrate, and charset
// when the station has one, in one replacement of the file; a name already there in any letter case
// is replaced, not repeated). False, with nothing written, when temp.dat does not hold the name: a
// favorite is never overwritten with empty values. Throws FileReadError or IniWriteError.
bool addFavorite(const QString& name);

// --- A new station -------------------------------------------------------
struct NewStation {
    QString name, streaming, genre, language, website, bitrate;
};

// Messages of the checks, in the order they are made.
inline const QString FillAllText = QStringLiteral("You must fill all the data");
inline const QString UrlEmptyText = QStringLiteral("Url streaming is empty");
inline const QString NameEmptyText = QStringLiteral("Radio name is empty");
inline const QString LanguageEmptyText = QStringLiteral("Language is not select");
inline const QString GenreEmptyText = QStringLiteral("Genre is not select");
QString badNameText(const QString& name);
QString stationAddedText(const QString& name);
inline const QString TestUrlEmptyText = QStringLiteral("URL stream is empty");
inline const QString LanguageListMissingText =
    QStringLiteral("Error: Language.dat file is missing");
inline const QString GenreListMissingText = QStringLiteral("Error: Genre.dat file is missing");

// Whether a name can be a section of a station file: not blank after
// trimming, no "]" and no line break.
bool isUsableStationName(const QString& name);

// The first failed check's message, or an empty text when the station can
// be saved. The website is optional.
QString checkNewStation(const NewStation& station);

// Writes the station into radiouser.dat under its name as typed, keys in
// record order, in one replacement of the file. Throws IniWriteError.
void saveNewStation(const NewStation& station);

// The stream URL the clipboard offers: its first non-empty line, trimmed,
// when its extension is one of pls, m3u, acc, wma, ra (see
// hasOfferedExtension); otherwise the empty text.
QString urlFromClipboard(const QString& clipboardText);
// The extension is the text after the last of ".", "\" and ":" when that
// character is "."; its first three characters (fewer when it is shorter)
// must be exactly pls, m3u, acc, wma or ra, letter case included.
bool hasOfferedExtension(const QString& url);

// --- Removing stations ---------------------------------------------------
inline const QString NotAvailableText = QStringLiteral("The option is not currently available");
inline const QString DeleteQuestionText = QStringLiteral("Delete Selected?");
inline const QString DeleteCaption = QStringLiteral("Confirm");
inline const QString DeletedText = QStringLiteral("Radio has been deleted");

// The stations of one station file ("radiouser.dat" or "favorites.dat",
// under the program folder) in file order, repeats included, with bitrate
// and genre read from that file. A missing file lists nothing; a single
// header line lists its station. The working catalog is not touched, so the
// main list's stations stay playable.
QVector<StationRow> listStationFile(const QString& fileName);

// Erases the station's section (header and keys) from the file. Throws
// IniWriteError; the file is then unchanged.
void eraseStation(const QString& fileName, const QString& name);

} // namespace tolvane::catalog
