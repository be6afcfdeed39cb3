#pragma once

#include <QFile>
#include <QString>

#include <cstring>

// Small values and helpers the fixtures of several folders share. Each test
// program compiles its files together, so they live here once instead of in
// every file.

inline constexpr qint64 KiB = 1024;
inline constexpr qint64 MiB = KiB * 1024;
inline constexpr qint64 GiB = MiB * 1024;
// Decimal, as disk makers count.
inline constexpr qint64 terabyte = 1'000'000'000'000;

// The system's text for an errno value, as the product reports it.
inline QString platformText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

inline bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}
