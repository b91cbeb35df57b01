#pragma once
// What a screen reader reads for the main window's changing texts.
//
// A label whose text changes (the song title, the status, the bitrate, the
// clock) is read by its text, and says what it is in its description. A
// button whose caption changes is read by its new caption.

class QAbstractButton;
class QLabel;
class QString;

namespace tolvane {

// Makes assistive technology announce each of the program's windows other
// than the main window as a dialog named by its caption, so that a screen
// reader says a window opened and tools find it by its caption. Once per
// process, before the windows are created; the main window stays a frame.
void announceSecondaryWindowsAsDialogs();

// Sets the caption of `button` and the name a screen reader reads for it in
// one step, so that the two never differ (a mnemonic '&' is not read).
void setCaption(QAbstractButton* button, const QString& caption);

// Makes `label` read by its current text, with `what` ("Song title",
// "Status") as its description, and shows its text as plain text. Change
// its text with showText.
void describeChangingLabel(QLabel* label, const QString& what);

// Sets the text of a label made by describeChangingLabel and tells
// assistive technology that its name changed, so the new text is read.
void showText(QLabel* label, const QString& text);

} // namespace tolvane
