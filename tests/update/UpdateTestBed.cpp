#include "UpdateTestBed.h"

#include "base/Sha256.h"
#include "platform/PlatformFileSystem.h"
#include "update/UpdateSignature.h"

#include <QFile>
#include <QJsonDocument>
#include <QProcess>

namespace {

bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
        return false;
    }
    if (output) {
        *output = process.readAllStandardOutput();
    }
    return true;
}

} // namespace

UpdateTestBed::UpdateTestBed()
{
    m_scratch.makeDirectory("tmp");
    m_publicKey = makeKey(keyPath());
    const QByteArray installed = makeTree("installed", QStringLiteral("1"));
    m_scratch.makeDirectory("prefix/versions");
    m_valid = !m_publicKey.isEmpty()
        && run(QStringLiteral("/bin/cp"), {QStringLiteral("-a"), QString::fromUtf8(installed),
                                           QString::fromUtf8(prefix() + "/versions/1")});
    m_scratch.writeFile("prefix/versions/1/Contents/Info.json",
                        R"({"CFBundleIdentifier":"ru.korvane.BriskoVella","CFBundleShortVersionString":"0.1.0","CFBundleVersion":"1"})");
    m_scratch.writeFile("prefix/versions/1/Contents/share/\xff\xfe-settings.bin", QByteArray(3000, '\x01'));
    m_scratch.makeLink("versions/1", "prefix/current");
}

UpdateDeployment UpdateTestBed::deployment() const
{
    return {.allowedHosts = {QStringLiteral("localhost")},
            .bundleIdentifier = QStringLiteral("ru.korvane.BriskoVella"),
            .signingPublicKey = m_publicKey,
            .localVersion = QStringLiteral("0.1.0"),
            .localBuild = QStringLiteral("1")};
}

std::shared_ptr<PlatformUpdateInstaller> UpdateTestBed::installer(FileSystemPtr fs, UpdateImageLimits limits) const
{
    return std::make_shared<PlatformUpdateInstaller>(fs ? fs : std::make_shared<PlatformFileSystem>(), deployment(),
                                                     FilePath(prefix()), runningExecutable(),
                                                     FilePath(temporaryFolder()), limits);
}

QByteArray UpdateTestBed::makeTree(const QByteArray& name, const QString& build)
{
    m_scratch.writeFile(name + "/Contents/bin/brisko",
                        "#!/bin/sh\necho \"brisko build " + build.toUtf8() + "\"\n", 0755);
    m_scratch.writeFile(name + "/Contents/lib/libbrisko.so.1", QByteArray(5000, 'L') + build.toUtf8());
    m_scratch.makeLink("libbrisko.so.1", name + "/Contents/lib/libbrisko.so");
    m_scratch.writeFile(name + "/Contents/share/Справка/Обновления.txt", "Сборка " + build.toUtf8() + "\n");
    // The release tool takes the tree without the Contents level.
    return m_scratch.filePath(name);
}

QByteArray UpdateTestBed::makeKey(const QString& path)
{
    if (!run(QStringLiteral("openssl"), {QStringLiteral("genpkey"), QStringLiteral("-algorithm"),
                                         QStringLiteral("ed25519"), QStringLiteral("-out"), path})) {
        return {};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const Outcome<QByteArray> key = UpdateSignature::publicKeyOf(file.readAll());
    return key ? *key : QByteArray();
}

std::optional<UpdateTestBed::Image> UpdateTestBed::makeImage(const QString& version, const QString& build,
                                                             const QByteArray& tree, const QString& key,
                                                             const QString& url)
{
    const QByteArray out = m_scratch.filePath("images/" + build.toUtf8());
    QByteArray printed;
    if (!run(QStringLiteral(MAKE_UPDATE_BUNDLE),
             {QStringLiteral("--tree"), QString::fromUtf8(tree + "/Contents"), QStringLiteral("--key"),
              key.isEmpty() ? keyPath() : key, QStringLiteral("--version"), version, QStringLiteral("--build"), build,
              QStringLiteral("--url"), url.isEmpty() ? QStringLiteral("https://localhost/image") : url,
              QStringLiteral("--notes"), QStringLiteral("Исправления"), QStringLiteral("--out"), QString::fromUtf8(out)},
             &printed)) {
        return std::nullopt;
    }
    Image image;
    image.path = QString::fromUtf8(out) + QStringLiteral("/BriskoVella-") + version + QStringLiteral(".tar.zst");
    image.published = QJsonDocument::fromJson(printed).object();
    return image;
}

bool UpdateTestBed::unpack(const QString& image, const QByteArray& folder)
{
    ScratchDir::removeTree(folder);
    return run(QStringLiteral("/bin/mkdir"), {QStringLiteral("-p"), QString::fromUtf8(folder)})
        && run(QStringLiteral("/usr/bin/tar"),
               {QStringLiteral("--zstd"), QStringLiteral("-xf"), image, QStringLiteral("-C"), QString::fromUtf8(folder)});
}

bool UpdateTestBed::pack(const QByteArray& folder, const QString& image)
{
    QFile::remove(image);
    return run(QStringLiteral("/usr/bin/tar"), {QStringLiteral("--zstd"), QStringLiteral("--format=pax"),
                                                QStringLiteral("-cf"), image, QStringLiteral("-C"),
                                                QString::fromUtf8(folder), QStringLiteral(".")});
}

QString UpdateTestBed::sha256Of(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(Sha256::hexDigestOf(file.readAll())) : QString();
}
