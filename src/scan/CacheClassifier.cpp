#include "CacheClassifier.h"

#include <QStringList>

#include <algorithm>

namespace {

const QLatin1String protectedLocations[] = {
    QLatin1String("/Library/Keychains"),
    QLatin1String("/Library/Mail"),
    QLatin1String("/Library/Messages"),
    QLatin1String("/Library/Safari"),
    QLatin1String("/Library/Accounts"),
    QLatin1String("/Library/IdentityServices"),
    QLatin1String("/Library/Group Containers"),
    QLatin1String("/Library/Application Support/MobileSync"),
};

const QLatin1String knownSafeFolders[] = {
    QLatin1String("/Library/Caches/com.apple.Safari"),
    QLatin1String("/Library/Caches/com.google.Chrome"),
    QLatin1String("/Library/Caches/com.microsoft.VSCode"),
    QLatin1String("/Library/Caches/com.apple.dt.Xcode"),
    QLatin1String("/Library/Caches/pip"),
    QLatin1String("/Library/Caches/Homebrew"),
    QLatin1String("/Library/Caches/com.spotify.client"),
    QLatin1String("/Library/Caches/ru.keepcoder.Telegram"),
    QLatin1String("/Library/Caches/com.operasoftware.OperaGX"),
    QLatin1String("/Library/Logs/DiagnosticReports"),
};

} // namespace

QString CacheClassifier::standardizePath(const QString& path)
{
    if (path.isEmpty()) {
        return path;
    }
    const bool absolute = path.startsWith(QLatin1Char('/'));
    QStringList parts;
    for (const QString& part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".")) {
            continue;
        }
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty() && parts.last() != QLatin1String("..")) {
                parts.removeLast();
            } else if (!absolute) {
                parts.append(part);
            }
            continue;
        }
        parts.append(part);
    }
    const QString joined = parts.join(QLatin1Char('/'));
    if (absolute) {
        return QLatin1Char('/') + joined;
    }
    return joined.isEmpty() ? QStringLiteral(".") : joined;
}

bool CacheClassifier::isProtectedLocation(const QString& path)
{
    const QString p = standardizePath(path);
    return std::any_of(std::begin(protectedLocations), std::end(protectedLocations),
                       [&p](const QLatin1String& text) { return p.contains(text); });
}

CacheRisk CacheClassifier::classify(const QString& path, const QString& homePath)
{
    const QString p = standardizePath(path);
    const QString home = standardizePath(homePath);

    if (!p.startsWith(home)) {
        return CacheRisk::forbidden;
    }
    for (const QLatin1String& text : protectedLocations) {
        if (p.contains(text)) {
            return CacheRisk::forbidden;
        }
    }
    for (const QLatin1String& suffix : knownSafeFolders) {
        if (p.endsWith(suffix)) {
            return CacheRisk::safe;
        }
    }
    const QString cacheArea = home + QLatin1String("/Library/Caches/");
    if (p.startsWith(cacheArea)) {
        const QStringView rest = QStringView(p).mid(cacheArea.size());
        if (!rest.isEmpty() && !rest.contains(QLatin1Char('/'))) {
            return CacheRisk::safe;
        }
    }
    if (p.contains(QLatin1String("/Library/Caches/"))) {
        return CacheRisk::caution;
    }
    if (p.contains(QLatin1String("/Library/Logs/"))) {
        return p.contains(QLatin1String("DiagnosticReports")) ? CacheRisk::forbidden : CacheRisk::caution;
    }
    return CacheRisk::forbidden;
}
