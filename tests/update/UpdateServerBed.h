#pragma once

#include "LoopbackMakerServer.h"
#include "TestCertificate.h"
#include "UpdateTestBed.h"

#include "base/Sha256.h"
#include "server/HttpTransport.h"

#include <QJsonDocument>

// What the tests of the update service and its views start from: the
// loopback server over HTTPS for "localhost" with a certificate made once
// per run, a transport that trusts exactly that certificate, and the
// installed build of UpdateTestBed.
struct UpdateServerBed
{
    static const TestCertificate& certificate()
    {
        static const TestCertificate made = TestCertificate::make();
        return made;
    }

    LoopbackMakerServer server;
    HttpTransport transport;
    UpdateTestBed installed;
    bool listening = certificate().isValid()
        && server.listenTls(certificate().certificate, certificate().key, QStringLiteral("localhost"));

    UpdateServerBed() { transport.setAdditionalCaCertificates({certificate().certificate}); }
    bool isValid() const { return listening && installed.isValid(); }

    static QString versionPath() { return QStringLiteral("/api/brisko/version.json"); }
    static QString imagePath() { return QStringLiteral("/downloads/BriskoVella.tar.zst"); }
    QString versionUrl() const { return server.url(versionPath()); }
    QString imageUrl() const { return server.url(imagePath()); }

    static QByteArray versionFile(const QString& version, const QString& build, const QString& url,
                                  const std::optional<QString>& sha)
    {
        QJsonObject object{{QStringLiteral("version"), version},
                           {QStringLiteral("build"), build},
                           {QStringLiteral("download_url"), url},
                           {QStringLiteral("release_notes"), QStringLiteral("Исправления")},
                           {QStringLiteral("channel"), QStringLiteral("stable")}};
        if (sha) {
            object.insert(QStringLiteral("sha256"), *sha);
        }
        return QJsonDocument(object).toJson();
    }
    // Offers build 2 (version 0.2.0) of these bytes, with their digest, until replaced.
    void publish(const QByteArray& image)
    {
        server.setStanding(imagePath(), ScriptedResponse::json(200, image));
        const QString digest = QString::fromLatin1(Sha256::hexDigestOf(image));
        const QByteArray file = versionFile(QStringLiteral("0.2.0"), QStringLiteral("2"), imageUrl(), digest);
        server.setStanding(versionPath(), ScriptedResponse::json(200, file));
    }
};
