#pragma once
// The web addresses the program builds from the song, the station and the
// service hosts. Every value that goes into a query is percent-encoded
// (EncodeQueryValue), so a title or a name with blanks, "&" or "#" reaches
// the service whole.

#include <QString>
#include <QStringList>

namespace tolvane {

// The song-picture lookup on the radio site: its reply names the picture.
QString PictureLookupUrl(const QString& radioHost, const QString& songTitle);
// The picture itself, 100 x 100 at most, for a lookup reply's text.
QString PictureUrl(const QString& radioHost, const QString& reference);
// A lookup reply's lines as the picture reference: each line followed by
// CR LF, joined; empty for no lines.
QString PictureReference(const QStringList& lines);

// The lyrics page for an artist and a song title, each trimmed of blanks
// and control characters at both ends.
QString LyricsUrl(const QString& lyricsHost, const QString& artist, const QString& title);

// The share pages for a station; empty when its name or website is empty.
QString FacebookShareUrl(const QString& facebookHost, const QString& name, const QString& website);
QString TwitterShareUrl(const QString& twitterHost, const QString& name, const QString& website);

// Whether an address may be handed to the desktop: http or https only.
bool IsWebAddress(const QString& address);

} // namespace tolvane
