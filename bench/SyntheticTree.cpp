#include "SyntheticTree.h"

#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int filesPerFolder = 48;
// Child folders of a folder at depth 1..8; the root has topFolders and depth 9 is handled apart.
int branching(int depth)
{
    switch (depth) {
    case 1:
        return 4;
    case 2:
    case 3:
        return 3;
    case 4:
    case 5:
        return 2;
    case 6:
    case 7:
    case 8:
        return 1;
    default:
        return 0;
    }
}

QByteArray errnoText()
{
    return QByteArray(std::strerror(errno));
}

} // namespace

SyntheticTree::SyntheticTree(QByteArray root, int topFolders, bool withContent)
    : m_root(std::move(root))
    , m_topFolders(std::max(3, topFolders))
    , m_withContent(withContent)
{
}

QByteArray SyntheticTree::stampPath() const
{
    return m_root + ".stamp";
}

QByteArray SyntheticTree::stampText() const
{
    return "walk_bench tree v2 top=" + QByteArray::number(m_topFolders) + " content=" + QByteArray::number(m_withContent)
        + '\n';
}

bool SyntheticTree::ensure(QString* error)
{
    QByteArray stamp(256, '\0');
    const int stampFd = ::open(stampPath().constData(), O_RDONLY | O_CLOEXEC);
    if (stampFd >= 0) {
        const ssize_t n = ::read(stampFd, stamp.data(), stamp.size());
        ::close(stampFd);
        stamp.truncate(std::max<ssize_t>(0, n));
    } else {
        stamp.clear();
    }
    const bool reuse = stamp == stampText();
    if (!reuse) {
        struct stat st;
        if (::lstat(m_root.constData(), &st) == 0) {
            *error = QStringLiteral("%1 exists but was not made by this benchmark with this shape")
                         .arg(QString::fromLocal8Bit(m_root));
            return false;
        }
    }
    m_dryRun = reuse;
    m_created = 0;
    m_visits = 0;
    m_fileSerial = 0;
    m_depth9Serial = 0;
    m_videos = 0;
    QByteArray path = m_root;
    if (!buildFolder(path, 0) || !addVideos()) {
        *error = m_error;
        return false;
    }
    if (!reuse) {
        const int fd = ::open(stampPath().constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, stampText().constData(), size_t(stampText().size())) != stampText().size()) {
            *error = QStringLiteral("cannot write the stamp file");
            if (fd >= 0) {
                ::close(fd);
            }
            return false;
        }
        ::close(fd);
    }
    return true;
}

void SyntheticTree::count(int depth, bool visible)
{
    if (depth > 0) {
        ++m_created;
    }
    if (visible && depth <= walkDepth) {
        ++m_visits;
    }
}

bool SyntheticTree::buildFolder(QByteArray& path, int depth)
{
    if (!makeFolder(path)) {
        return false;
    }
    count(depth, true);
    const qsizetype length = path.size();
    if (depth > 0) {
        for (int i = 0; i < filesPerFolder; ++i) {
            const qint64 serial = m_fileSerial++;
            path.truncate(length);
            if (serial % 13 == 0) {
                // Cyrillic names, as in a Russian user's folders.
                path += "/заметка-" + QByteArray::number(i) + ".txt";
            } else {
                static constexpr std::array<const char*, 6> extensions{".txt", ".jpg", ".js", ".json", ".md", ".png"};
                // Small videos exercise the video rule's matching without qualifying.
                const char* extension = serial % 101 == 0 ? ".mp4" : extensions[size_t(serial % 6)];
                path += "/file-" + QByteArray::number(i) + extension;
            }
            const qint64 bytes = m_withContent && serial % 4 == 0 ? 200 + (serial * 37) % 3800 : 0;
            if (!makeFile(path, bytes)) {
                return false;
            }
            count(depth + 1, true);
        }
        if (depth % 3 == 0) {
            path.truncate(length);
            path += "/.DS_Store";
            if (!makeFile(path, 0)) {
                return false;
            }
            count(depth + 1, false);
        }
        if (depth == 3) {
            path.truncate(length);
            path += "/.idea";
            if (!makeFolder(path)) {
                return false;
            }
            count(depth + 1, false);
            for (int i = 0; i < 3; ++i) {
                path.truncate(length + 6);
                path += "/workspace-" + QByteArray::number(i) + ".xml";
                if (!makeFile(path, 0)) {
                    return false;
                }
                count(depth + 2, false);
            }
        }
    }
    if (depth == 1) {
        path.truncate(length);
        if (!buildProjectExtras(path)) {
            return false;
        }
    }
    int children = depth == 0 ? m_topFolders : branching(depth);
    if (depth == 9) {
        children = m_depth9Serial++ % 8 == 0 ? 1 : 0;
    }
    for (int i = 0; i < children; ++i) {
        path.truncate(length);
        path += (depth == 0 ? "/project-" : "/dir-") + QByteArray::number(i);
        if (!buildFolder(path, depth + 1)) {
            return false;
        }
    }
    path.truncate(length);
    return true;
}

bool SyntheticTree::buildProjectExtras(QByteArray& path)
{
    // Children of a project folder lie at depth 2, their contents at 3.
    const qsizetype length = path.size();
    const auto at = [&](const char* relative) -> QByteArray& {
        path.truncate(length);
        path += relative;
        return path;
    };

    if (!makeFolder(at("/.git"))) {
        return false;
    }
    count(2, false);
    for (int i = 0; i < 3; ++i) {
        at("/.git/objects-") += QByteArray::number(i);
        if (!makeFolder(path)) {
            return false;
        }
        count(3, false);
        const qsizetype objects = path.size();
        for (int j = 0; j < 50; ++j) {
            path.truncate(objects);
            path += "/obj-" + QByteArray::number(j);
            if (!makeFile(path, m_withContent ? 700 : 0)) {
                return false;
            }
            count(4, false);
        }
    }

    if (!makeFolder(at("/node_modules"))) {
        return false;
    }
    count(2, false);
    for (int i = 0; i < 3; ++i) {
        at("/node_modules/pkg-") += QByteArray::number(i);
        if (!makeFolder(path)) {
            return false;
        }
        count(3, false);
        const qsizetype package = path.size();
        for (const char* part : {"/lib", "/dist"}) {
            path.truncate(package);
            path += part;
            if (!makeFolder(path)) {
                return false;
            }
            count(4, false);
            const qsizetype folder = path.size();
            for (int j = 0; j < 30; ++j) {
                path.truncate(folder);
                path += "/m-" + QByteArray::number(j) + ".js";
                if (!makeFile(path, m_withContent ? 900 : 0)) {
                    return false;
                }
                count(5, false);
            }
        }
    }

    if (!makeFolder(at("/shared-assets"))) {
        return false;
    }
    count(2, true);
    for (int i = 0; i < 5; ++i) {
        at("/shared-assets/asset-") += QByteArray::number(i) + ".png";
        if (!makeFile(path, 0)) {
            return false;
        }
        count(3, true);
    }
    // A link to a folder inside the tree leads to a folder the walk has
    // seen: neither it nor its five files are visited again.
    if (!makeLink("shared-assets", at("/assets-link"))) {
        return false;
    }
    count(2, false);
    if (!makeLink("shared-assets/asset-0.png", at("/latest.png"))) {
        return false;
    }
    count(2, true);
    if (!makeLink("does-not-exist", at("/broken-link"))) {
        return false;
    }
    count(2, false);
    path.truncate(length);
    return true;
}

bool SyntheticTree::addVideos()
{
    if (!m_withContent) {
        return true;
    }
    // Depths 1, 5 and 7 below the root: with the root one level below home,
    // the deepest is exactly at the video walk's depth limit of 8.
    const std::array<QByteArray, 3> videos{
        m_root + "/holiday-0.mp4",
        m_root + "/project-1/dir-0/dir-0/dir-0/holiday-1.mp4",
        m_root + "/project-2/dir-0/dir-0/dir-0/dir-0/dir-0/holiday-2.mp4",
    };
    for (const QByteArray& video : videos) {
        if (!m_dryRun) {
            const int fd = ::open(video.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0 || ::posix_fallocate(fd, 0, videoBytes) != 0) {
                m_error = QStringLiteral("cannot allocate %1: %2").arg(QString::fromUtf8(video), QString::fromUtf8(errnoText()));
                if (fd >= 0) {
                    ::close(fd);
                }
                return false;
            }
            ::close(fd);
        }
        ++m_created;
        ++m_visits;
        ++m_videos;
    }
    return true;
}

bool SyntheticTree::makeFolder(const QByteArray& path)
{
    if (m_dryRun || ::mkdir(path.constData(), 0755) == 0) {
        return true;
    }
    m_error = QStringLiteral("mkdir %1: %2").arg(QString::fromUtf8(path), QString::fromUtf8(errnoText()));
    return false;
}

bool SyntheticTree::makeFile(const QByteArray& path, qint64 contentBytes)
{
    if (m_dryRun) {
        return true;
    }
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        m_error = QStringLiteral("create %1: %2").arg(QString::fromUtf8(path), QString::fromUtf8(errnoText()));
        return false;
    }
    static const QByteArray filler(4096, 'x');
    const bool ok = contentBytes == 0 || ::write(fd, filler.constData(), size_t(contentBytes)) == contentBytes;
    ::close(fd);
    if (!ok) {
        m_error = QStringLiteral("write %1: %2").arg(QString::fromUtf8(path), QString::fromUtf8(errnoText()));
    }
    return ok;
}

bool SyntheticTree::makeLink(const QByteArray& target, const QByteArray& path)
{
    if (m_dryRun || ::symlink(target.constData(), path.constData()) == 0) {
        return true;
    }
    m_error = QStringLiteral("symlink %1: %2").arg(QString::fromUtf8(path), QString::fromUtf8(errnoText()));
    return false;
}
