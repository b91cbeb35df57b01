// The song-picture lookup's reply as the main window reads it: the file's
// lines, joined into the picture's reference, which goes into the picture's
// address. Properties: lines hold no line feed, every line feed of the
// reference belongs to a CR LF, and the address carries the reference
// percent-encoded so that decoding gives its UTF-8 back unchanged.

#include "FuzzCheck.h"

#include "common/Paths.h"
#include "online/Addresses.h"

#include <QByteArray>
#include <QStringList>

#include <cstdint>

using namespace tolvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList lines = TextLines(bytes);
    qsizetype chars = 0;
    for (const QString& line : lines) {
        FUZZ_CHECK(!line.contains(u'\n'));
        chars += line.size();
    }
    FUZZ_CHECK(chars <= static_cast<qsizetype>(size));

    const QString reference = PictureReference(lines);
    FUZZ_CHECK(reference.size() == chars + 2 * lines.size());
    for (qsizetype i = reference.indexOf(u'\n'); i >= 0; i = reference.indexOf(u'\n', i + 1))
        FUZZ_CHECK(i > 0 && reference[i - 1] == u'\r');

    const QString host = QStringLiteral("https://radio.example.net");
    const QString url = PictureUrl(host, reference);
    const QString marker = QStringLiteral("&img=");
    const qsizetype at = url.indexOf(marker);
    FUZZ_CHECK(url.startsWith(host + u'/') && at > 0);
    const QString value = url.mid(at + marker.size());
    for (QChar c : value) {
        const char16_t u = c.unicode();
        FUZZ_CHECK((u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                   (u >= u'0' && u <= u'9') || u == u'-' || u == u'.' || u == u'_' || u == u'~' ||
                   u == u'%');
    }
    // The server gets the reference's UTF-8 bytes back, byte-order marks kept.
    FUZZ_CHECK(QByteArray::fromPercentEncoding(value.toLatin1()) == reference.toUtf8());
    return 0;
}
