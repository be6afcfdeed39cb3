#include "UpdateBundleManifest.h"

#include "base/DescriptorReader.h"
#include "base/Sha256.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>

#include <fcntl.h>

namespace {

QJsonObject pathMap(const QMap<QByteArray, QByteArray>& map)
{
    QJsonObject object;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        object.insert(QString::fromUtf8(it.key()), QString::fromUtf8(it.value()));
    }
    return object;
}

bool readPathMap(const QJsonValue& value, QMap<QByteArray, QByteArray>* out)
{
    if (!value.isObject()) {
        return false;
    }
    const QJsonObject object = value.toObject();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (!it.value().isString()) {
            return false;
        }
        out->insert(it.key().toUtf8(), it.value().toString().toUtf8());
    }
    return true;
}

bool isUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

std::optional<QByteArray> hashFile(const FileSystemPtr& fs, int dirFd, const char* name, const QByteArray& path)
{
    int fd = -1;
    if (fs->openFileAt(dirFd, name, path, O_RDONLY, 0, &fd) != 0) {
        return std::nullopt;
    }
    const auto close = qScopeGuard([&fs, fd] { fs->closeFile(fd); });
    DescriptorReader reader(fd);
    Sha256 digest;
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 n = reader.read(buffer.data(), buffer.size());
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            return digest.hexDigest();
        }
        digest.add(QByteArrayView(buffer.constData(), n));
    }
}

Outcome<void> scanFolder(const FileSystemPtr& fs, int dirFd, const QByteArray& path, const QByteArray& relative,
                         UpdateBundleManifest* out)
{
    DirectoryNames names;
    if (!fs->readDirectory(dirFd, path, &names)) {
        return Failure{QStringLiteral("папка «%1» не читается").arg(QString::fromUtf8(relative))};
    }
    for (const DirectoryNames::Name& entry : names.names) {
        const QByteArray name = names.buffer.mid(entry.offset, entry.length);
        const QByteArray childRelative = relative.isEmpty() ? name : relative + '/' + name;
        const QByteArray childPath = path + '/' + name;
        if (!isUtf8(name)) {
            return Failure{QStringLiteral("имя в приложении не в UTF-8")};
        }
        FileStat stat;
        if (!fs->statAt(dirFd, name.constData(), childPath, false, &stat)) {
            return Failure{QStringLiteral("«%1» не читается").arg(QString::fromUtf8(childRelative))};
        }
        if (stat.isDirectory) {
            int child = -1;
            if (const int error = fs->openDirectoryNoFollow(dirFd, name.constData(), childPath, &child); error != 0) {
                return Failure{QStringLiteral("папка «%1» не читается").arg(QString::fromUtf8(childRelative)), error};
            }
            Outcome<void> scanned = scanFolder(fs, child, childPath, childRelative, out);
            fs->closeDirectory(child);
            if (!scanned) {
                return scanned;
            }
        } else if (stat.isSymlink) {
            QByteArray target;
            if (const int error = fs->readLinkAt(dirFd, name.constData(), childPath, &target); error != 0) {
                return Failure{QStringLiteral("ссылка «%1» не читается").arg(QString::fromUtf8(childRelative)), error};
            }
            out->links.insert(childRelative, target);
        } else if (stat.isRegular) {
            if (childRelative == UpdateBundleManifest::manifestPath
                || childRelative == UpdateBundleManifest::signaturePath) {
                continue;
            }
            const std::optional<QByteArray> digest = hashFile(fs, dirFd, name.constData(), childPath);
            if (!digest) {
                return Failure{QStringLiteral("файл «%1» не читается").arg(QString::fromUtf8(childRelative))};
            }
            out->files.insert(childRelative, *digest);
        } else {
            return Failure{QStringLiteral("«%1» не файл, не папка и не ссылка").arg(QString::fromUtf8(childRelative))};
        }
    }
    return {};
}

} // namespace

QByteArray UpdateBundleManifest::encode() const
{
    const QJsonObject object{
        {QStringLiteral("identifier"), identifier},
        {QStringLiteral("version"), version},
        {QStringLiteral("build"), build},
        {QStringLiteral("files"), pathMap(files)},
        {QStringLiteral("links"), pathMap(links)},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<UpdateBundleManifest> UpdateBundleManifest::decode(const QByteArray& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    UpdateBundleManifest manifest;
    const QJsonValue identifier = object.value(QLatin1String("identifier"));
    const QJsonValue version = object.value(QLatin1String("version"));
    const QJsonValue build = object.value(QLatin1String("build"));
    if (!identifier.isString() || !version.isString() || !build.isString()
        || !readPathMap(object.value(QLatin1String("files")), &manifest.files)
        || !readPathMap(object.value(QLatin1String("links")), &manifest.links)) {
        return std::nullopt;
    }
    manifest.identifier = identifier.toString();
    manifest.version = version.toString();
    manifest.build = build.toString();
    return manifest;
}

Outcome<UpdateBundleManifest> UpdateBundleManifest::scan(const FileSystemPtr& fs, const FilePath& bundle)
{
    const QByteArray root = bundle.native();
    int fd = -1;
    if (const int error = fs->openDirectoryNoFollow(FileSystem::CurrentDirectory, root.constData(), root, &fd);
        error != 0) {
        return Failure{QStringLiteral("папка приложения не открывается"), error};
    }
    UpdateBundleManifest manifest;
    const Outcome<void> scanned = scanFolder(fs, fd, root, QByteArray(), &manifest);
    fs->closeDirectory(fd);
    if (!scanned) {
        return scanned.failure();
    }
    return manifest;
}

std::optional<QByteArray> UpdateBundleManifest::readFile(const FileSystemPtr& fs, const QByteArray& path,
                                                         qint64 maxBytes)
{
    FileStat stat;
    if (!fs->stat(path, false, &stat) || !stat.isRegular || stat.size > maxBytes) {
        return std::nullopt;
    }
    int fd = -1;
    if (fs->openFileAt(FileSystem::CurrentDirectory, path.constData(), path, O_RDONLY, 0, &fd) != 0) {
        return std::nullopt;
    }
    const auto close = qScopeGuard([&fs, fd] { fs->closeFile(fd); });
    DescriptorReader reader(fd);
    QByteArray content;
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 n = reader.read(buffer.data(), buffer.size());
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            return content;
        }
        content.append(buffer.constData(), n);
        if (content.size() > maxBytes) {
            return std::nullopt;
        }
    }
}
