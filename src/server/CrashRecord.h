#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// A crash report as CrashHandler left it in its file:
//   brisko-crash
//   exception: <signal or exception type>
//   message: <one line>
//   stack:
//   <one frame per line>
struct CrashRecord
{
    QString exception;
    QString message;
    QStringList frames;

    // Reads at most 64 KiB: the file is small unless something else wrote it.
    static std::optional<CrashRecord> read(const QString& path);
    // Nothing unless it starts with the marker line and has a message;
    // frames lose the folders of their module paths.
    static std::optional<CrashRecord> parse(const QByteArray& text);

    // "exception" and "stack" (frames joined with line feeds).
    QMap<QString, QString> context() const;
};
