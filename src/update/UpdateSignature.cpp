#include "UpdateSignature.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using ContextPtr = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

const QString noPrivateKey = QStringLiteral("the key file holds no Ed25519 private key in PEM form");

KeyPtr readPrivateKey(const QByteArray& pem)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.constData(), int(pem.size())), &BIO_free);
    KeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr, &EVP_PKEY_free);
    if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519) {
        return KeyPtr(nullptr, &EVP_PKEY_free);
    }
    return key;
}

} // namespace

bool UpdateSignature::verify(QByteArrayView message, QByteArrayView signature, QByteArrayView publicKey)
{
    if (publicKey.size() != 32 || signature.size() != 64) {
        return false;
    }
    const KeyPtr key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                                 reinterpret_cast<const unsigned char*>(publicKey.data()), 32),
                     &EVP_PKEY_free);
    const ContextPtr context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!key || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        return false;
    }
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                            size_t(signature.size()), reinterpret_cast<const unsigned char*>(message.data()),
                            size_t(message.size()))
        == 1;
}

Outcome<QByteArray> UpdateSignature::sign(QByteArrayView message, const QByteArray& privateKeyPem)
{
    const KeyPtr key = readPrivateKey(privateKeyPem);
    if (!key) {
        return Failure{noPrivateKey};
    }
    const ContextPtr context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    QByteArray signature(64, '\0');
    size_t length = size_t(signature.size());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1
        || EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                          reinterpret_cast<const unsigned char*>(message.data()), size_t(message.size()))
            != 1
        || length != 64) {
        return Failure{QStringLiteral("signing failed")};
    }
    return signature;
}

Outcome<QByteArray> UpdateSignature::publicKeyOf(const QByteArray& privateKeyPem)
{
    const KeyPtr key = readPrivateKey(privateKeyPem);
    if (!key) {
        return Failure{noPrivateKey};
    }
    QByteArray raw(32, '\0');
    size_t length = size_t(raw.size());
    if (EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char*>(raw.data()), &length) != 1
        || length != 32) {
        return Failure{QStringLiteral("the public key cannot be read")};
    }
    return raw;
}
