#pragma once
// The contents the kill trials write, generation after generation, and the
// check that a file holds one generation whole. Each generation's values
// carry a padding long enough that a write takes many pieces and a hash of
// the generation and the padding, so a cut, a mix of two generations or an
// empty file shows.

#include "common/IniFile.h"

#include <QCryptographicHash>
#include <QString>

namespace tolvane::test::killtrial {

inline const QString StationName = QStringLiteral("Gen Station");

struct Generation {
    QString number, padding, check;
};

inline QString checkOf(const QString& number, const QString& padding) {
    return QString::fromLatin1(
        QCryptographicHash::hash((number + u'|' + padding).toUtf8(), QCryptographicHash::Sha1)
            .toHex());
}

inline Generation generation(int n) {
    Generation g;
    g.number = QString::number(n);
    g.padding = QString(1000 + (n * 977) % 1000, QChar(u'a' + n % 26)); // under IniValueLimit
    g.check = checkOf(g.number, g.padding);
    return g;
}

// Empty when the three values form one generation, else what is wrong.
inline QString wholeGeneration(const QString& number, const QString& padding,
                               const QString& check) {
    if (number.isEmpty())
        return QStringLiteral("no generation number");
    if (check != checkOf(number, padding))
        return QStringLiteral("generation %1 does not match its check").arg(number);
    if (padding != generation(number.toInt()).padding)
        return QStringLiteral("generation %1 has a wrong padding").arg(number);
    return {};
}

// The settings file: [radio] gen, pad, check.
inline QString checkSettings(const QString& path) {
    const IniDocument doc = IniFile(path).document();
    return wholeGeneration(doc.value(QStringLiteral("radio"), QStringLiteral("gen")),
                           doc.value(QStringLiteral("radio"), QStringLiteral("pad")),
                           doc.value(QStringLiteral("radio"), QStringLiteral("check")));
}

// A station file (radiouser.dat, favorites.dat, temp.dat): the station's
// bitrate is the generation, its genre the padding, its website the check.
inline QString checkStation(const QString& path) {
    const IniDocument doc = IniFile(path).document();
    return wholeGeneration(doc.value(StationName, QStringLiteral("bitrate")),
                           doc.value(StationName, QStringLiteral("genre")),
                           doc.value(StationName, QStringLiteral("website")));
}

} // namespace tolvane::test::killtrial
