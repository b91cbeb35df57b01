#include "Signature.h"

#include <openssl/evp.h>

#include <memory>

namespace tolvane::update {

QByteArray publisherKey() {
    // Given at configure time (TOLVANE_UPDATE_PUBLIC_KEY, 64 hexadecimal
    // digits); see the README on making a key.
    return QByteArray::fromHex(TOLVANE_UPDATE_PUBLIC_KEY);
}

QByteArray decodeSignatureFile(const QByteArray& text) {
    const QByteArray trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > 128)
        return {};
    const auto decoded =
        QByteArray::fromBase64Encoding(trimmed, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != SignatureBytes)
        return {};
    return decoded.decoded;
}

bool verifySignature(const QByteArray& message, const QByteArray& signature,
                     const QByteArray& publicKey) {
    if (signature.size() != SignatureBytes || publicKey.size() != PublicKeyBytes)
        return false;
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(publicKey.constData()),
                                    static_cast<size_t>(publicKey.size())),
        &EVP_PKEY_free);
    if (!key)
        return false;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    // Ed25519 hashes the message itself: no digest is named.
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(ctx.get(),
                            reinterpret_cast<const unsigned char*>(signature.constData()),
                            static_cast<size_t>(signature.size()),
                            reinterpret_cast<const unsigned char*>(message.constData()),
                            static_cast<size_t>(message.size())) == 1;
}

} // namespace tolvane::update
