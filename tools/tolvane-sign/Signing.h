#pragma once
// An Ed25519 signing key: made afresh or read from a PEM file, it signs an
// update manifest and gives its public half, the 32 bytes the player is
// built with.

#include <QByteArray>
#include <QString>

#include <memory>

namespace tolvane::signing {

class SigningKey {
public:
    // A new random key; invalid when the library fails.
    static SigningKey generate();
    // The key in a PEM file (PKCS#8, as `keygen` writes it); invalid when
    // the file is unreadable or holds no Ed25519 private key.
    static SigningKey load(const QString& pemFile);

    bool valid() const { return key_ != nullptr; }
    // The private key as PEM text (to keep in a file only its owner reads).
    QByteArray privatePem() const;
    QByteArray publicKey() const;                     // 32 bytes
    QByteArray sign(const QByteArray& message) const; // 64 bytes; empty on failure

private:
    std::shared_ptr<void> key_; // EVP_PKEY
};

// A signature as downloadlist.dat.sig carries it: base64 on one line.
QByteArray signatureFileText(const QByteArray& signature);

} // namespace tolvane::signing
