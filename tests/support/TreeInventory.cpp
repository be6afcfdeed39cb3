#include "TreeInventory.h"

#include <QCryptographicHash>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace {

QByteArray hashFile(int dirFd, const char* name)
{
    const int fd = ::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return QByteArrayLiteral("unreadable");
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char buffer[65536];
    for (ssize_t n = 0; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
        hash.addData(QByteArrayView(buffer, n));
    }
    ::close(fd);
    return hash.result().toHex();
}

bool isExcluded(const QByteArray& relative, const QList<QByteArray>& excluded)
{
    for (const QByteArray& path : excluded) {
        if (relative == path || (relative.startsWith(path) && relative.at(path.size()) == '/')) {
            return true;
        }
    }
    return false;
}

void record(int dirFd, const char* name, const QByteArray& relative, const QList<QByteArray>& excluded,
            QMap<QByteArray, TreeInventory::Entry>* out)
{
    if (isExcluded(relative, excluded)) {
        return;
    }
    struct stat st;
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return;
    }
    TreeInventory::Entry entry;
    entry.permissions = st.st_mode & 07777;
    entry.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (S_ISREG(st.st_mode)) {
        entry.kind = TreeInventory::Entry::Kind::File;
        entry.size = st.st_size;
        entry.sha256 = hashFile(dirFd, name);
    } else if (S_ISLNK(st.st_mode)) {
        entry.kind = TreeInventory::Entry::Kind::Symlink;
        char target[4096];
        const ssize_t n = ::readlinkat(dirFd, name, target, sizeof target);
        entry.linkTarget = n >= 0 ? QByteArray(target, n) : QByteArray();
    } else if (S_ISDIR(st.st_mode)) {
        entry.kind = TreeInventory::Entry::Kind::Directory;
    }
    out->insert(relative, entry);
    if (entry.kind != TreeInventory::Entry::Kind::Directory) {
        return;
    }
    const int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        return;
    }
    while (const dirent* child = ::readdir(dir)) {
        if (std::strcmp(child->d_name, ".") == 0 || std::strcmp(child->d_name, "..") == 0) {
            continue;
        }
        const QByteArray childName(child->d_name);
        record(fd, child->d_name, relative.isEmpty() ? childName : relative + '/' + childName, excluded, out);
    }
    ::closedir(dir);
}

QString describe(const TreeInventory::Entry& entry)
{
    switch (entry.kind) {
    case TreeInventory::Entry::Kind::File:
        return QStringLiteral("file %1 bytes sha256 %2 mode %3 modified %4 ns")
            .arg(entry.size)
            .arg(QString::fromLatin1(entry.sha256.left(12)))
            .arg(entry.permissions, 0, 8)
            .arg(entry.modifiedNs);
    case TreeInventory::Entry::Kind::Directory:
        return QStringLiteral("folder mode %1").arg(entry.permissions, 0, 8);
    case TreeInventory::Entry::Kind::Symlink:
        return QStringLiteral("link to %1").arg(TreeInventory::display(entry.linkTarget));
    case TreeInventory::Entry::Kind::Other:
        break;
    }
    return QStringLiteral("special file");
}

} // namespace

bool TreeInventory::Entry::sameAs(const Entry& other) const
{
    if (kind != other.kind || permissions != other.permissions) {
        return false;
    }
    switch (kind) {
    case Kind::File:
        return size == other.size && sha256 == other.sha256 && modifiedNs == other.modifiedNs;
    case Kind::Symlink:
        return linkTarget == other.linkTarget;
    case Kind::Directory:
    case Kind::Other:
        break;
    }
    return true;
}

TreeInventory TreeInventory::take(const QByteArray& root, const QList<QByteArray>& excluded)
{
    TreeInventory snapshot;
    record(AT_FDCWD, root.constData(), QByteArray(), excluded, &snapshot.m_entries);
    return snapshot;
}

QStringList TreeInventory::differencesFrom(const TreeInventory& before) const
{
    QStringList lines;
    for (auto it = before.m_entries.cbegin(); it != before.m_entries.cend(); ++it) {
        const auto now = m_entries.constFind(it.key());
        if (now == m_entries.cend()) {
            lines.append(QStringLiteral("removed: ") + display(it.key()));
        } else if (!now->sameAs(*it)) {
            lines.append(QStringLiteral("changed: %1 (%2 -> %3)").arg(display(it.key()), describe(*it), describe(*now)));
        }
    }
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (!before.m_entries.contains(it.key())) {
            lines.append(QStringLiteral("added: ") + display(it.key()));
        }
    }
    return lines;
}

QStringList TreeInventory::entriesNotIn(const TreeInventory& original) const
{
    QStringList lines;
    for (const QString& line : differencesFrom(original)) {
        if (!line.startsWith(QLatin1String("removed: "))) {
            lines.append(line);
        }
    }
    return lines;
}

QStringList TreeInventory::lostEntries(const TreeInventory& original, const TreeInventory& source,
                                      const TreeInventory& destination)
{
    const auto unchanged = [](const TreeInventory& tree, const QByteArray& key, const Entry& entry) {
        const auto found = tree.m_entries.constFind(key);
        return found != tree.m_entries.cend() && found->sameAs(entry);
    };
    QStringList lines;
    for (auto it = original.m_entries.cbegin(); it != original.m_entries.cend(); ++it) {
        if (!unchanged(source, it.key(), *it) && !unchanged(destination, it.key(), *it)) {
            lines.append(QStringLiteral("lost: %1 (%2)").arg(display(it.key()), describe(*it)));
        }
    }
    return lines;
}

QString TreeInventory::display(const QByteArray& relative)
{
    return relative.isEmpty() ? QStringLiteral("(root)") : QString::fromUtf8(relative);
}
