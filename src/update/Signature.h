#pragma once
// Ed25519 signatures of the update manifest: the publisher signs
// downloadlist.dat with a private key of its own and puts the signature
// beside it (downloadlist.dat.sig, base64 on one line); the player checks it
// with the public half built into it.

#include <QByteArray>

namespace tolvane::update {

inline constexpr int PublicKeyBytes = 32;
inline constexpr int SignatureBytes = 64;

// The publisher's public key (32 bytes) built into the program.
QByteArray publisherKey();

// The signature file's text decoded: base64 of exactly 64 bytes, blanks and
// line breaks around it allowed; empty when it is anything else.
QByteArray decodeSignatureFile(const QByteArray& text);

// True when signature (64 bytes) is a valid Ed25519 signature of message by
// publicKey (32 bytes).
bool verifySignature(const QByteArray& message, const QByteArray& signature,
                     const QByteArray& publicKey);

} // namespace tolvane::update
