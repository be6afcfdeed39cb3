#pragma once

#include <QSslCertificate>
#include <QSslKey>
#include <QTemporaryDir>

// A self-signed certificate for "localhost" and 127.0.0.1, made by the openssl
// program for one test: the loopback server presents it, and the client's
// transport is told to trust exactly it.
struct TestCertificate
{
    QSslCertificate certificate;
    QSslKey key;

    bool isValid() const { return !certificate.isNull() && !key.isNull(); }
    static TestCertificate make();
};
