#pragma once
// The settings file "settings/settings.dat": its place, its two sections and
// their keys, and small typed reads. Nothing is cached: every call opens the
// file at the moment of use, so a value saved by one window is what the next
// reader sees. A missing file, section or key reads as the empty text.

#include "common/IniFile.h"

#include <QString>

#include <optional>

namespace tolvane::settings {

// Relative to the program folder (the current directory).
inline const QString SettingsFile = QStringLiteral("\\settings\\settings.dat");

inline const QString RadioSection = QStringLiteral("radio");
inline const QString RecordSection = QStringLiteral("record");

// [radio]: the user's options.
inline const QString AutostartKey = QStringLiteral("autostart"); // flag
inline const QString SongImageKey = QStringLiteral("songimage"); // flag
inline const QString BalloonKey = QStringLiteral("balloon");     // flag
inline const QString SeparateKey = QStringLiteral("separate");   // flag
inline const QString IntervalKey = QStringLiteral("interval");   // whole seconds
inline const QString Interval2Key = QStringLiteral("interval2"); // whole seconds
inline const QString SkinKey = QStringLiteral("skin");
// Flag, but on when missing: open a dropped stream again.
inline const QString ReconnectKey = QStringLiteral("reconnect");
// [radio]: what the next start restores, written at every shutdown.
inline const QString VolumeKey = QStringLiteral("Volume"); // whole number 0 to 100
inline const QString StationKey = QStringLiteral("station");
inline const QString NameKey = QStringLiteral("name");
inline const QString StationWebsiteKey = QStringLiteral("sajtstanice");
inline const QString VersionKey = QStringLiteral("version");
// [radio]: the update path's values; the program writes only update=false.
inline const QString UpdateKey = QStringLiteral("update");   // flag
inline const QString WebsiteKey = QStringLiteral("website"); // the update site
// [record]
inline const QString RecordFolderKey = QStringLiteral("recdir");
// Flag: with separate, a recording is cut where each song begins.
inline const QString ExactKey = QStringLiteral("exact");
// Flag: a recording begins with the song being heard from its start.
inline const QString FromStartKey = QStringLiteral("fromstart");
// "original": a recording keeps the station's own audio; anything else:
// lame encodes it.
inline const QString FormatKey = QStringLiteral("format");
inline const QString OriginalFormat = QStringLiteral("original");
inline const QString LameFormat = QStringLiteral("lame");

inline const QString TrueText = QStringLiteral("true");
inline const QString FalseText = QStringLiteral("false");

// The file's absolute path now, and whether it exists.
QString settingsPath();
bool settingsFileExists();
// The file opened for reading and writing single keys (a missing file reads
// empty; the first write creates it in an existing "settings" folder).
IniFile openSettings();

// A flag is on only when it is exactly "true", letter case included.
bool isOn(const QString& value);
QString flagText(bool on);

// Typed reads through a missing file. readWholeNumber converts strictly and
// throws ConvertError for anything else, the empty text included.
QString readText(const QString& section, const QString& key);
bool readFlag(const QString& section, const QString& key);
int readWholeNumber(const QString& section, const QString& key);
// Whether a dropped stream is opened again: a missing file or key means on,
// otherwise only the exact "true" does.
bool readReconnect();

// What the Settings window shows and saves. The delays are the texts as
// stored: the window shows them unchanged, also when they are no number.
struct DialogOptions {
    bool autostart = false;
    bool songimage = false;
    bool balloon = false;
    bool separate = false;
    bool reconnect = true;       // on unless the file says otherwise
    bool exact = false;          // [record] exact
    bool fromstart = false;      // [record] fromstart
    bool original = false;       // [record] format is "original"
    QString interval, interval2; // seconds
    QString recdir;              // recording folder; empty: the default one
    friend bool operator==(const DialogOptions&, const DialogOptions&) = default;
};

// The delay saved for a field: its text, or "2" when it is empty.
inline const QString DefaultDelay = QStringLiteral("2");
QString delayToSave(const QString& field);

// The options as stored, or nullopt when there is no settings file (the
// window then keeps what it shows).
std::optional<DialogOptions> readDialogOptions();

// Writes autostart, songimage, separate, interval, interval2, balloon,
// [record] recdir, exact, fromstart and format, and then [radio] reconnect, in this order, each
// delay through delayToSave. Without a settings file nothing is written and false comes back; a
// write the system refuses throws IniWriteError after the keys already written.
bool writeDialogOptions(const DialogOptions& options);

} // namespace tolvane::settings
