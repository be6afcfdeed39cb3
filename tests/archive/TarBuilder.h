#pragma once

#include <QByteArray>

// Writes tar archives member by member, exactly as told: names with "..",
// absolute names, links and then files through them, duplicate members.
// This is how an archive that our own packing would never produce reaches
// the real tar in the tests.
class TarBuilder
{
public:
    void directory(const QByteArray& name, unsigned mode = 0755);
    void file(const QByteArray& name, const QByteArray& content, unsigned mode = 0644);
    void symlink(const QByteArray& name, const QByteArray& target);
    void hardlink(const QByteArray& name, const QByteArray& target);
    // For the update installer's hostile-bundle table (tests/update).
    void fifo(const QByteArray& name);
    void characterDevice(const QByteArray& name);

    // The archive with its two closing zero blocks.
    QByteArray tar() const;
    // Compresses it with the zstd program into path; false when that fails.
    bool writeZstd(const QByteArray& path) const;

private:
    void header(const QByteArray& name, char type, unsigned mode, qint64 size, const QByteArray& link);

    QByteArray m_data;
};
