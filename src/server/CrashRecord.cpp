#include "CrashRecord.h"

#include "CrashHandler.h"

#include <QFile>

namespace {
constexpr qint64 maxFileBytes = 64 * 1024;
}

std::optional<CrashRecord> CrashRecord::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return parse(file.read(maxFileBytes));
}

std::optional<CrashRecord> CrashRecord::parse(const QByteArray& text)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.isEmpty() || lines.first() != "brisko-crash") {
        return std::nullopt;
    }
    CrashRecord record;
    bool inStack = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        if (inStack) {
            if (line.trimmed().isEmpty() || record.frames.size() >= CrashHandler::maxFrames) {
                continue;
            }
            // "/usr/lib/x86_64-linux-gnu/libc.so.6(+0x3bfd0) [0x7f…]": the
            // module's name says enough, and the report's room is small.
            QString frame = QString::fromUtf8(line.trimmed());
            const qsizetype open = frame.indexOf(QLatin1Char('('));
            const qsizetype slash = frame.lastIndexOf(QLatin1Char('/'), open < 0 ? -1 : open);
            if (slash >= 0) {
                frame = frame.mid(slash + 1);
            }
            record.frames.append(frame);
        } else if (line.startsWith("exception: ")) {
            record.exception = QString::fromUtf8(line.mid(11));
        } else if (line.startsWith("message: ")) {
            record.message = QString::fromUtf8(line.mid(9));
        } else if (line == "stack:") {
            inStack = true;
        }
    }
    if (record.message.trimmed().isEmpty()) {
        return std::nullopt;
    }
    return record;
}

QMap<QString, QString> CrashRecord::context() const
{
    return {{QStringLiteral("exception"), exception}, {QStringLiteral("stack"), frames.join(QLatin1Char('\n'))}};
}
