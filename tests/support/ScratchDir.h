#pragma once

#include "base/FilePath.h"

#include <QByteArray>

// A throw-away folder addressed by native bytes, made inside a chosen folder:
// the system's temporary folder by default, or for instance /dev/shm to have
// a second file system. Everything below it is removed by descriptors when it
// goes, names that are not valid UTF-8 and folders left without permissions
// included.
class ScratchDir
{
public:
    explicit ScratchDir(const QByteArray& parent = {});
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    bool isValid() const { return !m_path.isEmpty(); }
    const QByteArray& path() const { return m_path; }
    QByteArray filePath(const QByteArray& relative) const { return m_path + '/' + relative; }
    FilePath nativePath(const QByteArray& relative) const { return FilePath(filePath(relative)); }

    // Parents are created as needed (0755). Each returns the absolute path and
    // stops the test program if the file system refuses.
    QByteArray writeFile(const QByteArray& relative, const QByteArray& content, unsigned mode = 0644);
    QByteArray makeDirectory(const QByteArray& relative, unsigned mode = 0755);
    QByteArray makeLink(const QByteArray& target, const QByteArray& relative);

    // Removes path, whatever it is, with everything below it.
    static bool removeTree(const QByteArray& path);
    // Makes levels folders "d" below root, each inside the one before and
    // holding an empty f.txt when withFiles; every step is relative to the
    // folder above, so the chain may be deeper than any path. Returns the
    // number of levels below root (with levels 0, only counts them).
    static int makeChain(const QByteArray& root, int levels, bool withFiles = false);
    // A writable folder on another file system than the temporary folder
    // (/dev/shm on these machines); empty when there is none.
    static QByteArray otherVolume();
    static bool exists(const QByteArray& path);
    // The space path takes on disk, not following a link; -1 when it is not there.
    static qint64 allocatedSize(const QByteArray& path);
    static QByteArray readFile(const QByteArray& path);
    // Writes content to path (no parents made); false when the file system refuses.
    static bool write(const QByteArray& path, const QByteArray& content, unsigned mode = 0644);

private:
    QByteArray m_path;
};
