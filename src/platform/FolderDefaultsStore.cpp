#include "FolderDefaultsStore.h"

#include "PlatformFileSystem.h"

#include <QFile>
#include <QMutexLocker>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FolderDefaultsStore::FolderDefaultsStore(QString folder, Sync sync)
    : m_folder(std::move(folder))
    , m_sync(sync)
{
}

QByteArray FolderDefaultsStore::pathOf(const QString& key) const
{
    if (key.isEmpty() || key.startsWith(QLatin1Char('.')) || key.contains(QLatin1Char('/'))
        || key.contains(QChar(0))) {
        return {};
    }
    return QFile::encodeName(m_folder + QLatin1Char('/') + key + QStringLiteral(".json"));
}

std::optional<QByteArray> FolderDefaultsStore::data(const QString& key) const
{
    const QByteArray path = pathOf(key);
    if (path.isEmpty()) {
        return std::nullopt;
    }
    // A reader sees whole files only (changes are renamed into place), so it
    // takes no lock.
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    return bytes;
}

bool FolderDefaultsStore::setData(const QString& key, const QByteArray& value)
{
    const QByteArray path = pathOf(key);
    if (path.isEmpty()) {
        return false;
    }
    QMutexLocker lock(&m_mutex);
    const QByteArray folder = QFile::encodeName(m_folder);
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    QByteArray temporary = folder + "/." + QFile::encodeName(key) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool written = PlatformFileSystem().writeAll(fd, value, temporary) == 0;
    if (written && m_sync == Sync::data) {
        written = ::fdatasync(fd) == 0;
    }
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.constData(), path.constData()) != 0) {
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

bool FolderDefaultsStore::remove(const QString& key)
{
    const QByteArray path = pathOf(key);
    if (path.isEmpty()) {
        return false;
    }
    QMutexLocker lock(&m_mutex);
    return ::unlink(path.constData()) == 0 || errno == ENOENT;
}
