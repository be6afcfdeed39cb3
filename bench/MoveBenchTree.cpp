#include "MoveBenchTree.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int filesPerFolder = 100;
constexpr int foldersPerTop = 10;
// Content is cut from one pseudo-random block at shifting offsets: no two
// files alike, nothing a file system could compress or share.
constexpr qint64 contentBlock = 8 * 1024 * 1024;

quint64 next(quint64* state)
{
    // xorshift64*
    *state ^= *state >> 12;
    *state ^= *state << 25;
    *state ^= *state >> 27;
    return *state * 0x2545F4914F6CDD1DULL;
}

QString systemError(const char* what, const QByteArray& path)
{
    return QStringLiteral("%1 %2: %3").arg(QString::fromLatin1(what), QString::fromLocal8Bit(path),
                                           QString::fromLocal8Bit(std::strerror(errno)));
}

bool writeAll(int fd, const char* data, qint64 length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, data, size_t(std::min<qint64>(length, 1 << 20)));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        length -= n;
    }
    return true;
}

} // namespace

MoveBenchTree::MoveBenchTree(int fileCount, qint64 totalBytes)
{
    quint64 state = 0x5eed5eed12345678ULL;
    // Log-uniform raw sizes from 256 bytes to 4 MiB, then scaled to the total.
    std::vector<double> raw(size_t(std::max(fileCount, 1)));
    double sum = 0;
    for (double& size : raw) {
        const double u = double(next(&state) >> 11) / double(1ULL << 53);
        size = 256.0 * std::pow(16384.0, u);
        sum += size;
    }
    const double scale = double(totalBytes) / sum;
    m_sizes.reserve(raw.size());
    for (double size : raw) {
        m_sizes.push_back(std::max<qint64>(1, qint64(size * scale)));
        m_total += m_sizes.back();
    }
    m_content.resize(contentBlock);
    for (qint64 i = 0; i < contentBlock; i += 8) {
        const quint64 word = next(&state);
        std::memcpy(m_content.data() + i, &word, 8);
    }
    const int folders = (fileCount + filesPerFolder - 1) / filesPerFolder;
    m_links = (folders + foldersPerTop - 1) / foldersPerTop;
}

QString MoveBenchTree::sizeSummary() const
{
    std::vector<qint64> sorted = m_sizes;
    std::sort(sorted.begin(), sorted.end());
    const auto text = [](qint64 size) {
        return size < 10 * 1024 ? QStringLiteral("%1 B").arg(size) : QStringLiteral("%1 KiB").arg(size / 1024);
    };
    return QStringLiteral("sizes %1 to %2, median %3")
        .arg(text(sorted.front()), text(sorted.back()), text(sorted[sorted.size() / 2]));
}

bool MoveBenchTree::build(const QByteArray& root, QString* error) const
{
    if (::mkdir(root.constData(), 0755) != 0) {
        *error = systemError("mkdir", root);
        return false;
    }
    QByteArray top;
    QByteArray folder;
    for (size_t i = 0; i < m_sizes.size(); ++i) {
        const int folderIndex = int(i) / filesPerFolder;
        if (int(i) % filesPerFolder == 0) {
            if (folderIndex % foldersPerTop == 0) {
                top = root + "/project-" + QByteArray::number(folderIndex / foldersPerTop);
                if (::mkdir(top.constData(), 0755) != 0) {
                    *error = systemError("mkdir", top);
                    return false;
                }
                const QByteArray link = top + "/latest";
                if (::symlink("part-0/file-0.dat", link.constData()) != 0) {
                    *error = systemError("symlink", link);
                    return false;
                }
            }
            folder = top + "/part-" + QByteArray::number(folderIndex % foldersPerTop);
            if (::mkdir(folder.constData(), 0755) != 0) {
                *error = systemError("mkdir", folder);
                return false;
            }
        }
        const QByteArray path = folder + "/file-" + QByteArray::number(int(i) % filesPerFolder) + ".dat";
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, i % 10 == 0 ? 0755 : 0644);
        if (fd < 0) {
            *error = systemError("open", path);
            return false;
        }
        qint64 left = m_sizes[i];
        qint64 offset = qint64((i * 7919) % size_t(contentBlock));
        bool ok = true;
        while (left > 0 && ok) {
            const qint64 n = std::min(left, contentBlock - offset);
            ok = writeAll(fd, m_content.constData() + offset, n);
            left -= n;
            offset = 0;
        }
        if (!ok) {
            *error = systemError("write", path);
            ::close(fd);
            return false;
        }
        ::close(fd);
    }
    const int rootFd = ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0 || ::syncfs(rootFd) != 0) {
        *error = systemError("syncfs", root);
        if (rootFd >= 0) {
            ::close(rootFd);
        }
        return false;
    }
    ::close(rootFd);
    return true;
}

bool MoveBenchTree::count(const QByteArray& root, qint64* files, qint64* bytes, qint64* links)
{
    DIR* dir = ::opendir(root.constData());
    if (!dir) {
        return false;
    }
    bool ok = true;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        const QByteArray path = root + '/' + entry->d_name;
        struct stat st;
        if (::lstat(path.constData(), &st) != 0) {
            ok = false;
            break;
        }
        if (S_ISDIR(st.st_mode)) {
            ok = count(path, files, bytes, links);
        } else if (S_ISLNK(st.st_mode)) {
            ++*links;
        } else if (S_ISREG(st.st_mode)) {
            ++*files;
            *bytes += st.st_size;
        }
        if (!ok) {
            break;
        }
    }
    ::closedir(dir);
    return ok;
}
