#include "SettingsFile.h"

#include "common/Convert.h"
#include "common/Paths.h"

#include <QFileInfo>

namespace tolvane::settings {

QString settingsPath() {
    return ProgramPath(SettingsFile);
}

bool settingsFileExists() {
    return QFileInfo::exists(settingsPath());
}

IniFile openSettings() {
    return IniFile(settingsPath());
}

bool isOn(const QString& value) {
    return value == TrueText;
}

QString flagText(bool on) {
    return on ? TrueText : FalseText;
}

QString readText(const QString& section, const QString& key) {
    return openSettings().ReadString(section, key);
}

bool readFlag(const QString& section, const QString& key) {
    return isOn(readText(section, key));
}

int readWholeNumber(const QString& section, const QString& key) {
    return StrToInt(readText(section, key));
}

bool readReconnect() {
    IniFile ini = openSettings();
    if (!ini.exists())
        return true;
    const std::optional<QString> value = ini.document().find(RadioSection, ReconnectKey);
    return !value || isOn(*value);
}

QString delayToSave(const QString& field) {
    return field.isEmpty() ? DefaultDelay : field;
}

std::optional<DialogOptions> readDialogOptions() {
    IniFile ini = openSettings();
    if (!ini.exists())
        return std::nullopt;
    // One reading of the file answers every key.
    const IniDocument& doc = ini.document();
    DialogOptions o;
    o.autostart = isOn(doc.value(RadioSection, AutostartKey));
    o.songimage = isOn(doc.value(RadioSection, SongImageKey));
    o.balloon = isOn(doc.value(RadioSection, BalloonKey));
    o.separate = isOn(doc.value(RadioSection, SeparateKey));
    const std::optional<QString> reconnect = doc.find(RadioSection, ReconnectKey);
    o.reconnect = !reconnect || isOn(*reconnect);
    o.interval = doc.value(RadioSection, IntervalKey);
    o.interval2 = doc.value(RadioSection, Interval2Key);
    o.recdir = doc.value(RecordSection, RecordFolderKey);
    o.exact = isOn(doc.value(RecordSection, ExactKey));
    o.fromstart = isOn(doc.value(RecordSection, FromStartKey));
    o.original = doc.value(RecordSection, FormatKey) == OriginalFormat;
    return o;
}

bool writeDialogOptions(const DialogOptions& o) {
    IniFile ini = openSettings();
    if (!ini.exists())
        return false;
    ini.WriteString(RadioSection, AutostartKey, flagText(o.autostart));
    ini.WriteString(RadioSection, SongImageKey, flagText(o.songimage));
    ini.WriteString(RadioSection, SeparateKey, flagText(o.separate));
    ini.WriteString(RadioSection, IntervalKey, delayToSave(o.interval));
    ini.WriteString(RadioSection, Interval2Key, delayToSave(o.interval2));
    ini.WriteString(RadioSection, BalloonKey, flagText(o.balloon));
    ini.WriteString(RecordSection, RecordFolderKey, o.recdir);
    ini.WriteString(RecordSection, ExactKey, flagText(o.exact));
    ini.WriteString(RecordSection, FromStartKey, flagText(o.fromstart));
    ini.WriteString(RecordSection, FormatKey, o.original ? OriginalFormat : LameFormat);
    ini.WriteString(RadioSection, ReconnectKey, flagText(o.reconnect));
    return true;
}

} // namespace tolvane::settings
