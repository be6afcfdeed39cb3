#include "FolderDefaultsStore.h"

#include "PlatformFileSystem.h"

#include <QFile>
#include <QMutexLocker>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The store's folder, made private when missing; false when it cannot be.
bool makeFolder(const QByteArray& folder)
{
    return ::mkdir(folder.constData(), 0700) == 0 || errno == EEXIST;
}
} // namespace

// The folder, made if missing, open and locked for as long as this lives.
// Where flock is not supported the change goes ahead under the object's
// mutex alone, as it would with one process.
class FolderDefaultsStore::FolderLock
{
public:
    explicit FolderLock(const QByteArray& folder)
    {
        if (!makeFolder(folder)) {
            return;
        }
        m_fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // False when the folder could not be made or opened.
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

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
    // Replacements are renamed into place and appends add whole lines, so a
    // reader takes no lock.
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
    const FolderLock folderLock(QFile::encodeName(m_folder));
    return folderLock.held() && replace(key, path, value);
}

bool FolderDefaultsStore::update(const QString& key, const Change& change)
{
    const QByteArray path = pathOf(key);
    if (path.isEmpty()) {
        return false;
    }
    QMutexLocker lock(&m_mutex);
    const FolderLock folderLock(QFile::encodeName(m_folder));
    if (!folderLock.held()) {
        return false;
    }
    const std::optional<QByteArray> next = change(data(key));
    return next && replace(key, path, *next);
}

qint64 FolderDefaultsStore::appendLine(const QString& key, const QByteArray& line)
{
    const QByteArray path = pathOf(key);
    if (path.isEmpty()) {
        return -1;
    }
    QMutexLocker lock(&m_mutex);
    const FolderLock folderLock(QFile::encodeName(m_folder));
    if (!folderLock.held()) {
        return -1;
    }
    const int fd = ::open(path.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return -1;
    }
    struct stat before = {};
    char last = '\n';
    if (::fstat(fd, &before) != 0 || (before.st_size > 0 && ::pread(fd, &last, 1, before.st_size - 1) != 1)) {
        ::close(fd);
        return -1;
    }
    const QByteArray bytes = appendedLine(line, last == '\n');
    bool added = PlatformFileSystem().writeAll(fd, bytes, path) == 0;
    if (added && m_sync == Sync::data) {
        added = ::fdatasync(fd) == 0;
    }
    if (!added) {
        // A line written in part is taken back, so the value is as it was. If
        // even that fails, the next line still starts on a line of its own.
        [[maybe_unused]] const int takenBack = ::ftruncate(fd, before.st_size);
    }
    added = ::close(fd) == 0 && added;
    return added ? qint64(before.st_size) + bytes.size() : -1;
}

std::shared_ptr<void> FolderDefaultsStore::tryClaim(const QString& name)
{
    // A name that would not do for a key will not do for a claim either.
    if (pathOf(name).isEmpty()) {
        return nullptr;
    }
    const QByteArray folder = QFile::encodeName(m_folder);
    if (!makeFolder(folder)) {
        return nullptr;
    }
    const QByteArray claimPath = folder + "/." + QFile::encodeName(name) + ".claim";
    const int fd = ::open(claimPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::shared_ptr<void>(new int(fd), [](void* held) {
        auto* descriptor = static_cast<int*>(held);
        ::close(*descriptor);
        delete descriptor;
    });
}

bool FolderDefaultsStore::replace(const QString& key, const QByteArray& path, const QByteArray& value)
{
    const QByteArray folder = QFile::encodeName(m_folder);
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
    const FolderLock folderLock(QFile::encodeName(m_folder));
    return ::unlink(path.constData()) == 0 || errno == ENOENT;
}
