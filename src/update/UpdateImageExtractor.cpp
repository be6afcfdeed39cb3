#include "UpdateImageExtractor.h"

#include "base/TarReader.h"

#include <QProcess>
#include <QScopeGuard>

#include <cerrno>
#include <cstring>

#include <fcntl.h>

namespace {

QString quoted(const QByteArray& name)
{
    return QStringLiteral("«%1»").arg(QString::fromUtf8(name));
}

QString describe(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The member name split into components, with "." and empty ones dropped;
// nothing for a name that could leave the folder.
std::optional<QList<QByteArray>> components(const QByteArray& name)
{
    if (name.isEmpty() || name.startsWith('/')) {
        return std::nullopt;
    }
    QList<QByteArray> parts;
    for (const QByteArray& part : name.split('/')) {
        if (part.isEmpty() || part == ".") {
            continue;
        }
        if (part == "..") {
            return std::nullopt;
        }
        parts.append(part);
    }
    return parts;
}

} // namespace

UpdateImageExtractor::UpdateImageExtractor(FileSystemPtr fileSystem, Limits limits, QString zstd)
    : m_fs(std::move(fileSystem))
    , m_limits(limits)
    , m_zstd(std::move(zstd))
{
}

bool UpdateImageExtractor::isContainedLinkTarget(const QByteArray& target, int linkDepth)
{
    if (target.isEmpty() || target.startsWith('/')) {
        return false;
    }
    int up = 0;
    bool descended = false;
    for (const QByteArray& part : target.split('/')) {
        if (part.isEmpty() || part == ".") {
            continue;
        }
        if (part == "..") {
            // Climbing after a descent would climb out of whatever that
            // component turns out to be (possibly another link).
            if (descended || ++up > linkDepth) {
                return false;
            }
            continue;
        }
        descended = true;
    }
    return true;
}

Outcome<int> UpdateImageExtractor::openFolder(int rootFd, const QByteArray& rootPath,
                                              const QList<QByteArray>& parts) const
{
    int current = -1;
    int error = m_fs->openDirectoryNoFollow(rootFd, ".", rootPath, &current);
    if (error != 0) {
        return Failure{describe(error), error};
    }
    QByteArray path = rootPath;
    for (const QByteArray& part : parts) {
        path += '/' + part;
        error = m_fs->makeDirectoryAt(current, part.constData(), path, 0755);
        if (error != 0 && error != EEXIST) {
            m_fs->closeDirectory(current);
            return Failure{QStringLiteral("не удалось создать папку %1: %2").arg(quoted(part), describe(error)), error};
        }
        int next = -1;
        error = m_fs->openDirectoryNoFollow(current, part.constData(), path, &next);
        m_fs->closeDirectory(current);
        if (error != 0) {
            // A link or a file where a folder belongs: never followed.
            return Failure{QStringLiteral("элемент %1 не является папкой").arg(quoted(part)), error};
        }
        current = next;
    }
    return current;
}

Outcome<void> UpdateImageExtractor::extract(const QString& image, const FilePath& destination) const
{
    QProcess zstd;
    zstd.setProgram(m_zstd);
    zstd.setArguments({QStringLiteral("-dc"), QStringLiteral("--no-progress"), QStringLiteral("--"), image});
    zstd.setStandardInputFile(QProcess::nullDevice());
    zstd.setStandardErrorFile(QProcess::nullDevice());
    zstd.start(QIODevice::ReadOnly);
    if (!zstd.waitForStarted(-1)) {
        return Failure{QStringLiteral("не запускается программа zstd")};
    }
    const auto stop = qScopeGuard([&zstd] {
        zstd.kill();
        zstd.waitForFinished(-1);
    });

    const QByteArray root = destination.native();
    int rootFd = -1;
    if (const int error = m_fs->openDirectoryNoFollow(FileSystem::CurrentDirectory, root.constData(), root, &rootFd);
        error != 0) {
        return Failure{describe(error), error};
    }
    const auto closeRoot = qScopeGuard([this, rootFd] { m_fs->closeDirectory(rootFd); });

    TarReader reader(&zstd);
    qint64 entries = 0;
    qint64 unpacked = 0;
    for (;;) {
        TarReader::Entry entry;
        const TarReader::Next next = reader.next(&entry);
        if (next == TarReader::Next::end) {
            if (entries == 0) {
                return Failure{QStringLiteral("образ пуст")};
            }
            return {};
        }
        if (next == TarReader::Next::error) {
            return Failure{QStringLiteral("образ повреждён (%1)").arg(reader.error())};
        }
        if (++entries > m_limits.maxEntries) {
            return Failure{QStringLiteral("в образе слишком много элементов")};
        }
        const std::optional<QList<QByteArray>> parts = components(entry.name);
        if (!parts) {
            return Failure{QStringLiteral("элемент %1 указывает за пределы образа").arg(quoted(entry.name))};
        }
        if (parts->isEmpty()) {
            // "./": the folder itself, as tar -C DIR . writes it.
            if (entry.type == '5') {
                continue;
            }
            return Failure{QStringLiteral("элемент %1 без имени").arg(quoted(entry.name))};
        }
        if (entry.mode & 07000) {
            return Failure{QStringLiteral("элемент %1 с битами set-uid, set-gid или sticky").arg(quoted(entry.name))};
        }
        QList<QByteArray> parent = *parts;
        const QByteArray leaf = parent.takeLast();
        const QByteArray fullPath = root + '/' + parts->join('/');

        switch (entry.type) {
        case '5': {
            const Outcome<int> fd = openFolder(rootFd, root, *parts);
            if (!fd) {
                return fd.failure();
            }
            m_fs->closeDirectory(*fd);
            break;
        }
        case '0':
        case '7': {
            unpacked += entry.size;
            if (unpacked > m_limits.maxUnpackedBytes) {
                return Failure{QStringLiteral("образ больше допустимого размера")};
            }
            const Outcome<int> opened = openFolder(rootFd, root, parent);
            if (!opened) {
                return opened.failure();
            }
            const int folder = *opened;
            int fd = -1;
            int error = m_fs->openFileAt(folder, leaf.constData(), fullPath, O_WRONLY | O_CREAT | O_EXCL,
                                         (entry.mode & 0755) | 0600, &fd);
            if (error != 0) {
                m_fs->closeDirectory(folder);
                return Failure{error == EEXIST
                                   ? QStringLiteral("элемент %1 повторяется").arg(quoted(entry.name))
                                   : QStringLiteral("не удалось создать %1: %2").arg(quoted(entry.name), describe(error)),
                               error};
            }
            const bool copied = reader.readData([&](QByteArrayView piece) {
                error = m_fs->writeAll(fd, piece.toByteArray(), fullPath);
                return error == 0;
            });
            m_fs->closeFile(fd);
            if (copied) {
                error = m_fs->setAttributesAt(folder, leaf.constData(), fullPath, -1, entry.modifiedNs,
                                              entry.modifiedNs);
            }
            m_fs->closeDirectory(folder);
            if (!copied || error != 0) {
                return Failure{error != 0
                                   ? QStringLiteral("не удалось записать %1: %2").arg(quoted(entry.name), describe(error))
                                   : QStringLiteral("образ повреждён (%1)").arg(reader.error()),
                               error};
            }
            break;
        }
        case '2': {
            if (!isContainedLinkTarget(entry.linkName, int(parent.size()))) {
                return Failure{QStringLiteral("ссылка %1 ведёт за пределы приложения").arg(quoted(entry.name))};
            }
            const Outcome<int> opened = openFolder(rootFd, root, parent);
            if (!opened) {
                return opened.failure();
            }
            const int folder = *opened;
            int error = m_fs->symlinkAt(entry.linkName, folder, leaf.constData(), fullPath);
            if (error == 0) {
                error = m_fs->setAttributesAt(folder, leaf.constData(), fullPath, -1, entry.modifiedNs,
                                              entry.modifiedNs);
            }
            m_fs->closeDirectory(folder);
            if (error != 0) {
                return Failure{error == EEXIST
                                   ? QStringLiteral("элемент %1 повторяется").arg(quoted(entry.name))
                                   : QStringLiteral("не удалось создать %1: %2").arg(quoted(entry.name), describe(error)),
                               error};
            }
            break;
        }
        case '1':
            return Failure{QStringLiteral("жёсткая ссылка %1 не допускается").arg(quoted(entry.name))};
        case '3':
        case '4':
            return Failure{QStringLiteral("файл устройства %1 не допускается").arg(quoted(entry.name))};
        case '6':
            return Failure{QStringLiteral("канал %1 не допускается").arg(quoted(entry.name))};
        default:
            return Failure{QStringLiteral("элемент %1 неизвестного типа").arg(quoted(entry.name))};
        }
    }
}
