#include "XdgUserDirs.h"

#include "CacheClassifier.h"

#include <QFile>

namespace {

// The quoted value with its backslash escapes undone, or nothing when the
// value is not one double-quoted string.
std::optional<QString> unquote(QStringView value)
{
    if (value.size() < 2 || !value.startsWith(u'"') || !value.endsWith(u'"')) {
        return std::nullopt;
    }
    QString out;
    for (qsizetype i = 1; i + 1 < value.size(); ++i) {
        QChar c = value[i];
        if (c == u'\\') {
            if (i + 2 >= value.size()) {
                return std::nullopt;
            }
            c = value[++i];
        } else if (c == u'"') {
            return std::nullopt;
        }
        out.append(c);
    }
    return out;
}

} // namespace

QHash<QString, FilePath> XdgUserDirs::parse(const QByteArray& text, const FilePath& home)
{
    QHash<QString, FilePath> dirs;
    const QString homeText = CacheClassifier::standardizePath(home.toString());
    for (const QByteArray& rawLine : text.split('\n')) {
        if (rawLine.contains('\0')) {
            continue;
        }
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) {
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0) {
            continue;
        }
        const QString key = line.left(equals);
        if (!key.startsWith(QLatin1String("XDG_")) || !key.endsWith(QLatin1String("_DIR"))) {
            continue;
        }
        const std::optional<QString> value = unquote(QStringView(line).mid(equals + 1));
        if (!value || value->contains(QChar::ReplacementCharacter)) {
            continue;
        }
        QString path;
        if (*value == QLatin1String("$HOME")) {
            path = homeText;
        } else if (value->startsWith(QLatin1String("$HOME/"))) {
            path = homeText + value->mid(5);
        } else if (value->startsWith(u'/')) {
            path = *value;
        } else {
            continue;
        }
        path = CacheClassifier::standardizePath(path);
        if (path == homeText) {
            dirs.insert(key, FilePath());
        } else if (path.startsWith(homeText + u'/') || (homeText == QLatin1String("/") && path.size() > 1)) {
            dirs.insert(key, FilePath::fromString(path));
        }
    }
    return dirs;
}

QHash<QString, FilePath> XdgUserDirs::read(const FilePath& file, const FilePath& home)
{
    QFile input(file.toString());
    if (!input.open(QIODevice::ReadOnly)) {
        return {};
    }
    return parse(input.read(maximumFileSize), home);
}
