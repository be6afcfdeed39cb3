#pragma once

#include "ScratchDir.h"
#include "base/FilePath.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <optional>

// A throw-away home folder with real files, addressed by text paths. Files are
// written with real bytes (not sparse), so their allocated size is their
// length rounded up to the file system's block.
class TempHome
{
public:
    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return QFile::decodeName(m_dir.path()); }
    FilePath home() const { return FilePath(m_dir.path()); }
    QString filePath(const QString& relative) const { return path() + QLatin1Char('/') + relative; }
    FilePath nativePath(const QByteArray& relative) const { return home().child(relative); }

    // Parents are created as needed. Returns the absolute path.
    QString makeFile(const QString& relative, qint64 size, std::optional<QDateTime> modified = std::nullopt);
    // For names that are not valid UTF-8.
    FilePath makeFileNative(const QByteArray& relative, qint64 size)
    {
        return FilePath(m_dir.writeFile(relative, QByteArray(size, 'x')));
    }
    QString makeDir(const QString& relative, std::optional<QDateTime> modified = std::nullopt);
    QString makeSymlink(const QString& target, const QString& relative)
    {
        return QFile::decodeName(m_dir.makeLink(QFile::encodeName(target), QFile::encodeName(relative)));
    }
    static bool setModified(const QString& absolutePath, const QDateTime& modified);

private:
    ScratchDir m_dir;
};
