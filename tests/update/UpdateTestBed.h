#pragma once

#include "ScratchDir.h"

#include "update/PlatformUpdateInstaller.h"
#include "update/UpdateDeployment.h"

#include <QJsonObject>
#include <QString>

#include <optional>

// What the update tests start from: a scratch folder holding
//   prefix/versions/1/   the installed build 1 (with Cyrillic and non-UTF-8 names)
//   prefix/current       link to versions/1
//   tmp/                 the installer's temporary folder
//   maker.pem            a signing key made for this test (openssl genpkey)
// and the release tool to make signed images of small program trees.
class UpdateTestBed
{
public:
    UpdateTestBed();

    bool isValid() const { return m_valid; }
    ScratchDir& scratch() { return m_scratch; }
    QByteArray prefix() const { return m_scratch.filePath("prefix"); }
    QByteArray temporaryFolder() const { return m_scratch.filePath("tmp"); }
    QString keyPath() const { return QString::fromUtf8(m_scratch.filePath("maker.pem")); }
    FilePath runningExecutable() const { return FilePath(prefix() + "/versions/1/Contents/bin/brisko"); }

    // Local build 1, version 0.1.0; the test's key; "localhost" as the only host.
    UpdateDeployment deployment() const;
    std::shared_ptr<PlatformUpdateInstaller> installer(FileSystemPtr fs = {},
                                                       UpdateImageLimits limits = UpdateImageLimits()) const;

    // A small installed tree: bin/brisko (a script printing its build), a
    // library with its link, a data file under a Cyrillic name.
    QByteArray makeTree(const QByteArray& name, const QString& build);
    // Makes a new signing key file; its raw public key.
    static QByteArray makeKey(const QString& path);

    struct Image
    {
        QString path;
        QJsonObject published;
    };
    // Runs tools/make-update-bundle.
    std::optional<Image> makeImage(const QString& version, const QString& build, const QByteArray& tree,
                                   const QString& key = {}, const QString& url = {});
    // Real tar and zstd, for images changed after signing.
    static bool unpack(const QString& image, const QByteArray& folder);
    static bool pack(const QByteArray& folder, const QString& image);
    static QString sha256Of(const QString& path);

private:
    ScratchDir m_scratch;
    QByteArray m_publicKey;
    bool m_valid = false;
};
