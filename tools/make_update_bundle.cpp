// Makes a signed update image from an installed tree:
//   brisko-make-update-bundle --tree DIR --key KEY.pem --version V --build N --url URL
//                             [--notes TEXT] [--identifier ID] --out DIR
// DIR becomes "Brisko Vella.app/Contents" (bin/brisko, lib/…); Info.json and
// the signed list of every file and link are added, and the whole is packed
// as BriskoVella-<V>.tar.zst in the output folder. The version.json to
// publish is printed on standard output. The key is an Ed25519 private key
// in PEM form (openssl genpkey -algorithm ed25519); keep it off the
// repository.
#include "base/Sha256.h"
#include "platform/PlatformFileSystem.h"
#include "update/UpdateBundleManifest.h"
#include "update/UpdateConfig.h"
#include "update/UpdateDeployment.h"
#include "update/UpdateSignature.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdio>

namespace {

int fail(const QString& message)
{
    std::fprintf(stderr, "make-update-bundle: %s\n", qPrintable(message));
    return 1;
}

bool run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption tree(QStringLiteral("tree"), QStringLiteral("installed tree"), QStringLiteral("DIR"));
    const QCommandLineOption key(QStringLiteral("key"), QStringLiteral("Ed25519 private key (PEM)"), QStringLiteral("FILE"));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("marketing version"), QStringLiteral("V"));
    const QCommandLineOption build(QStringLiteral("build"), QStringLiteral("build number"), QStringLiteral("N"));
    const QCommandLineOption url(QStringLiteral("url"), QStringLiteral("download URL of the image"), QStringLiteral("URL"));
    const QCommandLineOption notes(QStringLiteral("notes"), QStringLiteral("release notes"), QStringLiteral("TEXT"));
    const QCommandLineOption identifier(QStringLiteral("identifier"), QStringLiteral("bundle identifier"),
                                        QStringLiteral("ID"), QStringLiteral("ru.korvane.BriskoVella"));
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("output folder"), QStringLiteral("DIR"));
    parser.addOptions({tree, key, version, build, url, notes, identifier, out});
    parser.process(application);
    for (const QCommandLineOption& required : {tree, key, version, build, url, out}) {
        if (!parser.isSet(required)) {
            return fail(QStringLiteral("--%1 is required").arg(required.names().first()));
        }
    }
    if (!UpdateConfig::isSafeVersionText(parser.value(version))) {
        return fail(QStringLiteral("the version may hold letters, digits and .+-_ only"));
    }
    if (!QRegularExpression(QStringLiteral("^[0-9]{1,18}$")).match(parser.value(build)).hasMatch()) {
        return fail(QStringLiteral("the build must be a decimal number"));
    }
    QFile keyFile(parser.value(key));
    if (!keyFile.open(QIODevice::ReadOnly)) {
        return fail(QStringLiteral("cannot read the key file"));
    }
    const QByteArray pem = keyFile.readAll();

    QTemporaryDir work;
    const QString app = work.filePath(UpdateDeployment::appBundleName);
    const QString contents = app + QStringLiteral("/Contents");
    if (!work.isValid() || !QDir().mkpath(contents)
        || !run(QStringLiteral("/bin/cp"), {QStringLiteral("-a"), QStringLiteral("--"),
                                            QDir(parser.value(tree)).absolutePath() + QStringLiteral("/."), contents})) {
        return fail(QStringLiteral("cannot copy the tree"));
    }
    QDir(contents + QStringLiteral("/_CodeSignature")).removeRecursively();
    const QJsonObject info{
        {QStringLiteral("CFBundleIdentifier"), parser.value(identifier)},
        {QStringLiteral("CFBundleName"), QStringLiteral("Brisko Vella")},
        {QStringLiteral("CFBundleShortVersionString"), parser.value(version)},
        {QStringLiteral("CFBundleVersion"), parser.value(build)},
    };
    if (!writeFile(contents + QStringLiteral("/Info.json"), QJsonDocument(info).toJson())) {
        return fail(QStringLiteral("cannot write Info.json"));
    }

    Outcome<UpdateBundleManifest> manifest =
        UpdateBundleManifest::scan(std::make_shared<PlatformFileSystem>(), FilePath::fromString(app));
    if (!manifest) {
        return fail(manifest.message());
    }
    manifest->identifier = parser.value(identifier);
    manifest->version = parser.value(version);
    manifest->build = parser.value(build);
    const QByteArray list = manifest->encode();
    const Outcome<QByteArray> signature = UpdateSignature::sign(list, pem);
    if (!signature) {
        return fail(signature.message());
    }
    if (!QDir().mkpath(app + u'/' + QString::fromUtf8(UpdateBundleManifest::signatureFolder))
        || !writeFile(app + u'/' + QString::fromUtf8(UpdateBundleManifest::manifestPath), list)
        || !writeFile(app + u'/' + QString::fromUtf8(UpdateBundleManifest::signaturePath), *signature)) {
        return fail(QStringLiteral("cannot write the signature"));
    }

    const QString image = QDir(parser.value(out)).absoluteFilePath(QStringLiteral("BriskoVella-%1.tar.zst").arg(parser.value(version)));
    QDir().mkpath(parser.value(out));
    QFile::remove(image);
    if (!run(QStringLiteral("/usr/bin/tar"),
             {QStringLiteral("--zstd"), QStringLiteral("--format=pax"), QStringLiteral("--owner=0"),
              QStringLiteral("--group=0"), QStringLiteral("--numeric-owner"), QStringLiteral("--sort=name"),
              QStringLiteral("--mode=go-w,a-st"), QStringLiteral("--force-local"), QStringLiteral("-cf"), image,
              QStringLiteral("-C"), work.path(), UpdateDeployment::appBundleName})) {
        return fail(QStringLiteral("tar failed"));
    }
    QFile packed(image);
    if (!packed.open(QIODevice::ReadOnly)) {
        return fail(QStringLiteral("cannot read the image"));
    }
    Sha256 digest;
    while (!packed.atEnd()) {
        digest.add(packed.read(1 << 20));
    }
    const QJsonObject published{
        {QStringLiteral("version"), parser.value(version)},
        {QStringLiteral("build"), parser.value(build)},
        {QStringLiteral("download_url"), parser.value(url)},
        {QStringLiteral("release_notes"), parser.value(notes)},
        {QStringLiteral("sha256"), QString::fromLatin1(digest.hexDigest())},
    };
    std::fputs(QJsonDocument(published).toJson().constData(), stdout);
    std::fprintf(stderr, "%s\n", qPrintable(image));
    return 0;
}
