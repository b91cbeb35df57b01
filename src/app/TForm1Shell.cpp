// Window visibility (the notification-area icon) and skins.

#include "TForm1.h"

#include "common/IniFile.h"
#include "common/Paths.h"
#include "settings/SettingsFile.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QSignalBlocker>
#include <QSystemTrayIcon>

namespace tolvane {

void TForm1::MinimizeToTray() {
    HiddenToTray = true;
    // Without a notification area there would be no way back to a hidden
    // window: minimise it instead.
    if (CoolTrayIcon1 && SystemTrayAvailable && SystemTrayAvailable())
        hide();
    else
        showMinimized();
}

void TForm1::ShowFromTray() {
    if (isMinimized())
        showNormal();
    show(); // a hidden window runs its showing step again
    raise();
    activateWindow();
}

void TForm1::ColorThemes1Click() {
    skinpanel->raise();
    skinpanel->show();
}

void TForm1::ApplySkin(const QString& skinDirectory, const QString& skinName) {
    // A skin is a style sheet "<folder><name>.qss" applied to every window.
    // A name that names no skin leaves the windows as they are.
    QFile file(skinDirectory + skinName + QStringLiteral(".qss"));
    if (skinName.isEmpty() || !file.open(QIODevice::ReadOnly))
        return;
    qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
}

void TForm1::sComboBox1Change() {
    ApplySkin(ProgramPath(QStringLiteral("\\Skins\\")), sComboBox1->currentText());
}

void TForm1::sBitBtn1Click() {
    if (!settings::settingsFileExists() || sComboBox1->currentText().isEmpty())
        return;
    settings::openSettings().WriteString(settings::RadioSection, settings::SkinKey,
                                         sComboBox1->currentText());
    skinpanel->hide();
}

void TForm1::FillSkinList() {
    const QSignalBlocker block(sComboBox1);
    const QString text = sComboBox1->currentText();
    sComboBox1->clear();
    sComboBox1->addItems(skinNames(ProgramPath(QStringLiteral("\\Skins\\"))));
    // Filling lists the names; it selects none and keeps the text line.
    sComboBox1->setCurrentIndex(-1);
    sComboBox1->setEditText(text);
}

QStringList TForm1::skinNames(const QString& folder) {
    // Every entry but plain folders, named without its last four characters
    // (the extension of "Name.qss"), in the order the folder lists them.
    QStringList names;
    const QDir dir(folder);
    if (!dir.exists())
        return names;
    const QFileInfoList entries = dir.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        const bool plainFolder = entry.isDir() && !entry.isHidden() && entry.isWritable();
        if (plainFolder)
            continue;
        const QString name = entry.fileName();
        names << (name.size() > 4 ? name.left(name.size() - 4) : QString());
    }
    return names;
}

} // namespace tolvane
