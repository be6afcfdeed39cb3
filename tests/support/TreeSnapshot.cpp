#include "TreeSnapshot.h"

#include <QCryptographicHash>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TreeSnapshot TreeSnapshot::take(const QByteArray& root)
{
    TreeSnapshot snapshot;
    snapshot.add(root, QByteArray());
    return snapshot;
}

void TreeSnapshot::add(const QByteArray& path, const QByteArray& relative)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0) {
        return;
    }
    Entry entry{'o', {}, 0};
    if (S_ISLNK(st.st_mode)) {
        entry.kind = 'l';
        QByteArray target(4096, '\0');
        const ssize_t n = ::readlink(path.constData(), target.data(), size_t(target.size()));
        target.truncate(n < 0 ? 0 : n);
        entry.content = target;
    } else if (S_ISREG(st.st_mode)) {
        entry.kind = 'f';
        entry.size = st.st_size;
        QCryptographicHash hash(QCryptographicHash::Sha256);
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            char buffer[65536];
            ssize_t n;
            while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
                hash.addData(QByteArrayView(buffer, n));
            }
            ::close(fd);
        }
        entry.content = hash.result().toHex();
    } else if (S_ISDIR(st.st_mode)) {
        entry.kind = 'd';
        if (DIR* dir = ::opendir(path.constData())) {
            QList<QByteArray> names;
            while (const dirent* d = ::readdir(dir)) {
                const QByteArray name(d->d_name);
                if (name != "." && name != "..") {
                    names.append(name);
                }
            }
            ::closedir(dir);
            for (const QByteArray& name : names) {
                add(path + '/' + name, relative.isEmpty() ? name : relative + '/' + name);
            }
        }
    }
    m_entries.insert(relative, entry);
}

QList<QByteArray> TreeSnapshot::missingFrom(const TreeSnapshot& other) const
{
    QList<QByteArray> missing;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        const auto there = other.m_entries.constFind(it.key());
        if (there == other.m_entries.cend() || !(*there == *it)) {
            missing.append(it.key());
        }
    }
    return missing;
}
