#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <vector>

// The tree the move benchmark carries across volumes: fileCount files of
// mixed sizes (log-uniform over a range of 1:16384, so most files are small
// and most bytes are in the larger ones) adding up to about totalBytes, 100 to a
// folder, folders two levels deep, one executable in ten, a relative symbolic
// link in every top folder. Sizes and content come from a fixed seed, so every
// tree built with the same numbers is identical, byte for byte.
class MoveBenchTree
{
public:
    MoveBenchTree(int fileCount, qint64 totalBytes);

    int fileCount() const { return int(m_sizes.size()); }
    qint64 totalBytes() const { return m_total; }
    int linkCount() const { return m_links; }
    // "sizes 37 B to 510 KiB, median 4 KiB", for the report.
    QString sizeSummary() const;

    // Builds the tree at root (which must not exist; its parent must), then
    // flushes it to disk so that write-back does not run into the timings.
    bool build(const QByteArray& root, QString* error) const;
    // Counts the regular files and their bytes below root, links not followed.
    static bool count(const QByteArray& root, qint64* files, qint64* bytes, qint64* links);

private:
    std::vector<qint64> m_sizes;
    QByteArray m_content;
    qint64 m_total = 0;
    int m_links = 0;
};
