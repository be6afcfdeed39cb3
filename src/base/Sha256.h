#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

struct evp_md_ctx_st;

// Streaming SHA-256 through OpenSSL's EVP interface, which uses the
// processor's SHA instructions where there are any: archives of media folders
// run to many gigabytes, and that is several times faster than a portable
// implementation.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(QByteArrayView data);
    // 64 lower-case hexadecimal digits. The object is spent afterwards.
    QByteArray hexDigest();

    static QByteArray hexDigestOf(QByteArrayView data);

    // Frees what OpenSSL keeps for the calling thread. A pooled worker thread
    // may outlive the library's own clean-up at exit, which then loses track
    // of that memory; long operations call this when they end.
    static void releaseThreadState();

private:
    std::unique_ptr<evp_md_ctx_st, void (*)(evp_md_ctx_st*)> m_context;
};
