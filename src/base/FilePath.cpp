#include "FilePath.h"

#include <QFile>
#include <QHashFunctions>

FilePath::FilePath(QByteArray native)
    : m_native(std::move(native))
{
}

FilePath FilePath::fromString(const QString& path)
{
    return FilePath(QFile::encodeName(path));
}

QString FilePath::toString() const
{
    return QFile::decodeName(m_native);
}

QByteArray FilePath::fileNameNative() const
{
    QByteArray trimmed = m_native;
    while (trimmed.size() > 1 && trimmed.endsWith('/')) {
        trimmed.chop(1);
    }
    const qsizetype slash = trimmed.lastIndexOf('/');
    if (slash < 0) {
        return trimmed;
    }
    return trimmed.mid(slash + 1);
}

QString FilePath::fileName() const
{
    return QFile::decodeName(fileNameNative());
}

QString FilePath::suffix() const
{
    const QString name = fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0) {
        return {};
    }
    return name.mid(dot + 1);
}

FilePath FilePath::parent() const
{
    QByteArray trimmed = m_native;
    while (trimmed.size() > 1 && trimmed.endsWith('/')) {
        trimmed.chop(1);
    }
    const qsizetype slash = trimmed.lastIndexOf('/');
    if (slash < 0) {
        return {};
    }
    // "/a//b" has "/a" as its parent, not "/a/": equal folders must compare equal.
    qsizetype end = slash;
    while (end > 0 && trimmed.at(end - 1) == '/') {
        --end;
    }
    if (end == 0) {
        return FilePath(QByteArray("/"));
    }
    return FilePath(trimmed.left(end));
}

FilePath FilePath::child(const QByteArray& name) const
{
    // Without a folder the name stays relative rather than becoming one under "/".
    if (m_native.isEmpty()) {
        return FilePath(name);
    }
    if (m_native.endsWith('/')) {
        return FilePath(m_native + name);
    }
    return FilePath(m_native + '/' + name);
}

FilePath FilePath::child(const QString& relative) const
{
    return child(QFile::encodeName(relative));
}

QByteArray FilePath::joined(const QByteArray& folder, const char* name)
{
    QByteArray path = folder;
    if (!path.endsWith('/')) {
        path.append('/');
    }
    return path.append(name);
}

size_t qHash(const FilePath& path, size_t seed) noexcept
{
    return qHash(path.native(), seed);
}
