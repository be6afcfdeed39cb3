#include "TestCertificate.h"

#include <QFile>
#include <QProcess>

TestCertificate TestCertificate::make()
{
    TestCertificate made;
    QTemporaryDir dir;
    const QString key = dir.filePath(QStringLiteral("key.pem"));
    const QString certificate = dir.filePath(QStringLiteral("certificate.pem"));
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), key, QStringLiteral("-out"), certificate, QStringLiteral("-days"),
                   QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=localhost"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1")});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) {
        return made;
    }
    QFile keyFile(key);
    QFile certificateFile(certificate);
    if (keyFile.open(QIODevice::ReadOnly) && certificateFile.open(QIODevice::ReadOnly)) {
        made.key = QSslKey(keyFile.readAll(), QSsl::Ec);
        made.certificate = QSslCertificate(certificateFile.readAll());
    }
    return made;
}
