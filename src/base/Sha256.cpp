#include "Sha256.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

Sha256::Sha256()
    : m_context(EVP_MD_CTX_new(), EVP_MD_CTX_free)
{
    // Only fails when memory runs out; a digest of nothing then says so loudly.
    Q_ASSERT(m_context);
    EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr);
}

Sha256::~Sha256() = default;

void Sha256::add(QByteArrayView data)
{
    if (!data.isEmpty()) {
        EVP_DigestUpdate(m_context.get(), data.data(), size_t(data.size()));
    }
}

QByteArray Sha256::hexDigest()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_context.get(), digest, &length);
    return QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex();
}

QByteArray Sha256::hexDigestOf(QByteArrayView data)
{
    Sha256 hash;
    hash.add(data);
    return hash.hexDigest();
}

void Sha256::releaseThreadState()
{
    OPENSSL_thread_stop();
}
