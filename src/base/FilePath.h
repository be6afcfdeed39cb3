#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

// A file path kept as the exact bytes the kernel knows it by. Names that are
// not valid UTF-8 do not survive a trip through QString, so every operation
// that reaches the disk works on native(); toString() is for display and for
// the path-text rules (exclusions, risk classification) only.
class FilePath
{
public:
    FilePath() = default;
    explicit FilePath(QByteArray native);

    static FilePath fromString(const QString& path);

    const QByteArray& native() const { return m_native; }
    QString toString() const;
    bool isEmpty() const { return m_native.isEmpty(); }

    // Last component; empty for "/" and for an empty path.
    QByteArray fileNameNative() const;
    QString fileName() const;
    // Extension of the last component without the dot, as written.
    QString suffix() const;

    FilePath parent() const;
    FilePath child(const QByteArray& name) const;
    FilePath child(const QString& relative) const;

    // folder + "/" + name, without a second slash after a folder that ends in
    // one: the path beside a descriptor in the walks that open by *at().
    static QByteArray joined(const QByteArray& folder, const char* name);

    bool operator==(const FilePath& other) const = default;

private:
    QByteArray m_native;
};

size_t qHash(const FilePath& path, size_t seed = 0) noexcept;

Q_DECLARE_METATYPE(FilePath)
