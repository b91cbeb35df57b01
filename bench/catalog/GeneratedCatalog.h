#pragma once
// A generated catalog of station records with names, genres and languages
// from small word lists (some with letters beyond ASCII), the same for the
// same seed.

#include <QByteArray>
#include <QRandomGenerator>

#include <iterator>

namespace tolvane::bench {

inline const char* const Genres[] = {"Rock",    "Pop",   "Jazz", "Classical", "News",
                                     "Ambient", "Dance", "Talk", "Country",   "Hip Hop"};
inline const char* const Languages[] = {"English", "German",  "French", "Spanish",
                                        "Serbian", "Italian", "Dutch",  "Polish"};
inline const char* const Words[] = {"Radio", "FM",    "Żar",   "Café",   "Nord",
                                    "Süd",   "Blue",  "Wave",  "Ñandú",  "City",
                                    "Sky",   "Åland", "Night", "Groove", "Čas"};

inline QByteArray makeCatalog(int stations, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray out;
    out.reserve(stations * 200);
    for (int i = 0; i < stations; ++i) {
        const char* w1 = Words[random.bounded(int(std::size(Words)))];
        const char* w2 = Words[random.bounded(int(std::size(Words)))];
        const QByteArray name = QByteArray(w1) + ' ' + w2 + ' ' + QByteArray::number(i);
        out += '[' + name + "]\r\n";
        out += QByteArray("genre=") + Genres[random.bounded(int(std::size(Genres)))] + "\r\n";
        out +=
            QByteArray("language=") + Languages[random.bounded(int(std::size(Languages)))] + "\r\n";
        out += "website=https://station" + QByteArray::number(i) + ".example.org/\r\n";
        out += "streaming=http://stream" + QByteArray::number(i) + ".example.org:8000/live\r\n";
        out += "bitrate=" + QByteArray::number(64 + 32 * random.bounded(8)) + "\r\n\r\n";
    }
    return out;
}

} // namespace tolvane::bench
