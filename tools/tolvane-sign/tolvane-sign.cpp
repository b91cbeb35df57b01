// tolvane-sign: makes an update manifest the player accepts.
//
//   tolvane-sign keygen <key.pem>          makes a new key (file mode 0600) and
//                                          prints its public half in hexadecimal
//   tolvane-sign pubkey <key.pem>          prints the public half again
//   tolvane-sign fill <manifest> <folder>  writes "sha256" and "size" of each
//                                          file entry, from <folder>/<to>
//   tolvane-sign sign <key.pem> <manifest> writes <manifest>.sig
//
// The manifest must hold [program] "serial" and "expires" before it is
// signed; fill and sign check that every target is one an update may write.

#include "Signing.h"
#include "common/Errors.h"
#include "common/IniFile.h"
#include "update/UpdatePass.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QSaveFile>

#include <sys/stat.h>

#include <cstdio>

using namespace tolvane;

namespace {

int fail(const QString& text) {
    std::fprintf(stderr, "tolvane-sign: %s\n", qPrintable(text));
    return 1;
}

bool isFileSection(const QString& name) {
    const QString n = name.toLower();
    return n == u"playlist" || n.startsWith(u"file");
}

int keygen(const QString& path) {
    if (QFile::exists(path))
        return fail(path + QStringLiteral(" exists; a key is never overwritten"));
    const signing::SigningKey key = signing::SigningKey::generate();
    QFile file(path);
    // Readable by its owner only from the first byte on.
    const mode_t old = ::umask(077);
    const bool opened = file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
    ::umask(old);
    if (!key.valid() || !opened || file.write(key.privatePem()) <= 0 || !file.flush())
        return fail(QStringLiteral("cannot write ") + path);
    std::printf("%s\n", key.publicKey().toHex().constData());
    return 0;
}

int pubkey(const QString& path) {
    const signing::SigningKey key = signing::SigningKey::load(path);
    if (!key.valid())
        return fail(path + QStringLiteral(" holds no Ed25519 private key"));
    std::printf("%s\n", key.publicKey().toHex().constData());
    return 0;
}

int fill(const QString& manifestPath, const QString& folder) {
    IniFile manifest(manifestPath);
    const IniDocument doc = manifest.document();
    for (const QString& section : doc.sectionNames()) {
        if (!isFileSection(section))
            continue;
        const QString to = doc.value(section, QStringLiteral("to"));
        if (to.isEmpty() || doc.value(section, QStringLiteral("from")).isEmpty())
            continue;
        if (!update::allowedTarget(to))
            return fail(
                QStringLiteral("[%1] to=%2 is not a target an update may write").arg(section, to));
        QString rel = to;
        rel.replace(u'\\', u'/');
        QFile file(folder + u'/' + rel);
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read ") + file.fileName());
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (!hash.addData(&file))
            return fail(QStringLiteral("cannot read ") + file.fileName());
        manifest.WriteString(section, QStringLiteral("sha256"),
                             QString::fromLatin1(hash.result().toHex()));
        manifest.WriteString(section, QStringLiteral("size"), QString::number(file.size()));
    }
    return 0;
}

int sign(const QString& keyPath, const QString& manifestPath) {
    const signing::SigningKey key = signing::SigningKey::load(keyPath);
    if (!key.valid())
        return fail(keyPath + QStringLiteral(" holds no Ed25519 private key"));
    QFile in(manifestPath);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read ") + manifestPath);
    const QByteArray bytes = in.readAll();
    const IniDocument doc = IniDocument::fromText(QString::fromLatin1(bytes));
    for (const char* key : {"serial", "expires"}) {
        if (doc.value(QStringLiteral("program"), QString::fromLatin1(key)).isEmpty())
            return fail(QStringLiteral("[program] %1 is missing").arg(QString::fromLatin1(key)));
    }
    QSaveFile out(manifestPath + QStringLiteral(".sig"));
    const QByteArray signature = key.sign(bytes);
    if (signature.isEmpty() || !out.open(QIODevice::WriteOnly) ||
        out.write(signing::signatureFileText(signature)) < 0 || !out.commit())
        return fail(QStringLiteral("cannot write ") + out.fileName());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    try {
        if (args.size() == 2 && args[0] == u"keygen")
            return keygen(args[1]);
        if (args.size() == 2 && args[0] == u"pubkey")
            return pubkey(args[1]);
        if (args.size() == 3 && args[0] == u"fill")
            return fill(args[1], args[2]);
        if (args.size() == 3 && args[0] == u"sign")
            return sign(args[1], args[2]);
    } catch (const UserError& e) {
        return fail(e.message());
    }
    std::fprintf(stderr, "usage: tolvane-sign keygen <key.pem> | pubkey <key.pem> |\n"
                         "       fill <manifest> <folder> | sign <key.pem> <manifest>\n");
    return 2;
}
