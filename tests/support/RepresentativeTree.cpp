#include "RepresentativeTree.h"

#include "ScratchDir.h"

#include <QRandomGenerator>

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

bool done(bool ok, const char* what, const QByteArray& path)
{
    if (!ok) {
        std::fprintf(stderr, "RepresentativeTree: cannot %s %s: %s\n", what, path.constData(), std::strerror(errno));
    }
    return ok;
}

bool makeFolder(const QByteArray& path)
{
    return done(::mkdir(path.constData(), 0755) == 0 || (errno == EEXIST && path.contains('/')), "make", path);
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
    if (!done(::mkdir(root.constData(), 0755) == 0, "make", root)) {
        return false;
    }
    for (const FixtureFile& file : fixtureFiles) {
        const QByteArray relative(file.path);
        for (qsizetype slash = relative.indexOf('/'); slash > 0; slash = relative.indexOf('/', slash + 1)) {
            if (!makeFolder(root + '/' + relative.left(slash))) {
                return false;
            }
        }
        const QByteArray path = root + '/' + relative;
        if (!done(ScratchDir::write(path, content(relative, file.size), file.mode), "write", path)) {
            return false;
        }
    }
    const QByteArray inner = root + "/ссылка-внутрь";
    const QByteArray outer = root + "/ссылка-наружу";
    return makeFolder(root + "/пустая папка")
        && done(::symlink("Отчёты/2024/итоги.txt", inner.constData()) == 0, "link", inner)
        && (outsideTarget.isEmpty() || done(::symlink(outsideTarget.constData(), outer.constData()) == 0, "link", outer));
}
