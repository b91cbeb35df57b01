#include "Signing.h"

#include <QFile>

#include <openssl/evp.h>
#include <openssl/pem.h>

namespace tolvane::signing {

namespace {

EVP_PKEY* raw(const std::shared_ptr<void>& key) {
    return static_cast<EVP_PKEY*>(key.get());
}

std::shared_ptr<void> own(EVP_PKEY* key) {
    if (!key)
        return {};
    return std::shared_ptr<void>(key, [](void* k) { EVP_PKEY_free(static_cast<EVP_PKEY*>(k)); });
}

} // namespace

SigningKey SigningKey::generate() {
    SigningKey k;
    EVP_PKEY* key = nullptr;
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
    if (ctx && EVP_PKEY_keygen_init(ctx) == 1 && EVP_PKEY_keygen(ctx, &key) == 1)
        k.key_ = own(key);
    EVP_PKEY_CTX_free(ctx);
    return k;
}

SigningKey SigningKey::load(const QString& pemFile) {
    SigningKey k;
    QFile file(pemFile);
    if (!file.open(QIODevice::ReadOnly))
        return k;
    const QByteArray pem = file.read(16 * 1024);
    BIO* bio = BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size()));
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    if (key && EVP_PKEY_get_id(key) == EVP_PKEY_ED25519)
        k.key_ = own(key);
    else
        EVP_PKEY_free(key);
    return k;
}

QByteArray SigningKey::privatePem() const {
    if (!valid())
        return {};
    BIO* bio = BIO_new(BIO_s_mem());
    QByteArray pem;
    if (bio && PEM_write_bio_PrivateKey(bio, raw(key_), nullptr, nullptr, 0, nullptr, nullptr)) {
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        pem = QByteArray(data, static_cast<qsizetype>(size));
    }
    BIO_free(bio);
    return pem;
}

QByteArray SigningKey::publicKey() const {
    QByteArray bytes(32, '\0');
    size_t size = 32;
    if (!valid() ||
        EVP_PKEY_get_raw_public_key(raw(key_), reinterpret_cast<unsigned char*>(bytes.data()),
                                    &size) != 1 ||
        size != 32)
        return {};
    return bytes;
}

QByteArray SigningKey::sign(const QByteArray& message) const {
    if (!valid())
        return {};
    QByteArray signature(64, '\0');
    size_t size = 64;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool ok = ctx && EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, raw(key_)) == 1 &&
                    EVP_DigestSign(ctx, reinterpret_cast<unsigned char*>(signature.data()), &size,
                                   reinterpret_cast<const unsigned char*>(message.constData()),
                                   static_cast<size_t>(message.size())) == 1 &&
                    size == 64;
    EVP_MD_CTX_free(ctx);
    return ok ? signature : QByteArray();
}

QByteArray signatureFileText(const QByteArray& signature) {
    return signature.toBase64() + '\n';
}

} // namespace tolvane::signing
