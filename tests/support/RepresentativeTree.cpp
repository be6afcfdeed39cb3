#include "RepresentativeTree.h"

#include <QRandomGenerator>
#include <QtGlobal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

struct FixtureFile
{
    const char* path;
    qint64 size;
    unsigned mode;
};

const FixtureFile fixtureFiles[] = {
    {"top.txt", 3000, 0644},
    {"Отчёты/2024/итоги.txt", 5000, 0644},
    {"Отчёты/2024/глубже/a/b/данные.bin", 200000, 0600},
    {"Отчёты/пустой.txt", 0, 0644},
    {"caf\xe9-\xff\xfe.bin", 1234, 0644},
    {"\xff-папка/внутри.txt", 777, 0644},
    {".скрытый", 100, 0644},
    {"run.sh", 64, 0755},
};

const char* const emptyFolder = "пустая папка";
const char* const innerLink = "ссылка-внутрь";
const char* const innerLinkTarget = "Отчёты/2024/итоги.txt";
const char* const outerLink = "ссылка-наружу";

bool fail(const char* what, const QByteArray& path)
{
    std::fprintf(stderr, "RepresentativeTree: %s %s: %s\n", what, path.constData(), std::strerror(errno));
    return false;
}

bool makeParents(const QByteArray& root, const QByteArray& relative)
{
    const QList<QByteArray> parts = relative.split('/');
    QByteArray path = root;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        path += '/' + parts.at(i);
        if (::mkdir(path.constData(), 0755) != 0 && errno != EEXIST) {
            return fail("cannot make", path);
        }
    }
    return true;
}

} // namespace

QByteArray RepresentativeTree::content(const QByteArray& relative, qint64 size)
{
    QRandomGenerator generator(quint32(qHash(relative)));
    QList<quint32> words((size + 3) / 4);
    generator.fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.constData()), size);
}

bool RepresentativeTree::create(const QByteArray& root, const QByteArray& outsideTarget)
{
    if (::mkdir(root.constData(), 0755) != 0) {
        return fail("cannot make", root);
    }
    for (const FixtureFile& file : fixtureFiles) {
        const QByteArray relative(file.path);
        if (!makeParents(root, relative)) {
            return false;
        }
        const QByteArray path = root + '/' + relative;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            return fail("cannot create", path);
        }
        const QByteArray bytes = content(relative, file.size);
        const bool written = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
        const bool moded = ::fchmod(fd, mode_t(file.mode)) == 0;
        ::close(fd);
        if (!written || !moded) {
            return fail("cannot write", path);
        }
    }
    const QByteArray empty = root + '/' + emptyFolder;
    if (::mkdir(empty.constData(), 0755) != 0) {
        return fail("cannot make", empty);
    }
    const QByteArray inner = root + '/' + innerLink;
    if (::symlink(innerLinkTarget, inner.constData()) != 0) {
        return fail("cannot link", inner);
    }
    if (!outsideTarget.isEmpty()) {
        const QByteArray outer = root + '/' + outerLink;
        if (::symlink(outsideTarget.constData(), outer.constData()) != 0) {
            return fail("cannot link", outer);
        }
    }
    return true;
}

QList<QByteArray> RepresentativeTree::files()
{
    QList<QByteArray> paths;
    for (const FixtureFile& file : fixtureFiles) {
        paths.append(QByteArray(file.path));
    }
    return paths;
}

qint64 RepresentativeTree::fileBytes()
{
    qint64 total = 0;
    for (const FixtureFile& file : fixtureFiles) {
        total += file.size;
    }
    return total;
}
