#include "CacheClassifier.h"

#include "HomeLayout.h"

#include <QStringList>

#include <algorithm>
#include <optional>

namespace {

// "*" within a name stands for any run of characters.
bool matchesName(QStringView name, QStringView pattern)
{
    if (!pattern.contains(u'*')) {
        return name == pattern;
    }
    const QList<QStringView> pieces = pattern.split(u'*');
    qsizetype at = 0;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const QStringView piece = pieces[i];
        if (i == 0) {
            if (!name.startsWith(piece)) {
                return false;
            }
            at = piece.size();
        } else if (i == pieces.size() - 1) {
            return name.size() - at >= piece.size() && name.endsWith(piece);
        } else {
            const qsizetype found = name.indexOf(piece, at);
            if (found < 0) {
                return false;
            }
            at = found + piece.size();
        }
    }
    return true;
}

// How many leading names of parts the pattern's names match, or -1.
qsizetype matchPrefix(const QStringList& parts, const QString& pattern)
{
    const QStringList names = pattern.split(u'/', Qt::SkipEmptyParts);
    if (names.size() > parts.size()) {
        return -1;
    }
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (!matchesName(parts[i], names[i])) {
            return -1;
        }
    }
    return names.size();
}

bool isProtected(const QStringList& parts, const ProtectedArea& area)
{
    const qsizetype matched = matchPrefix(parts, area.folder);
    if (matched < 0) {
        return false;
    }
    if (area.allowedBelow.isEmpty()) {
        return true;
    }
    for (qsizetype i = matched; i < parts.size(); ++i) {
        if (matchesName(parts[i], area.allowedBelow)) {
            return false;
        }
    }
    return true;
}

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

namespace {
// The path's names below the home; nullopt when it is not the home or below it.
std::optional<QStringList> namesBelowHome(const QString& p, const QString& home)
{
    // Whole names only: "/home/uu" shares the text of "/home/u" but is another home.
    const bool belowHome = p.size() > home.size() && (home.endsWith(u'/') || p.at(home.size()) == u'/');
    if (!p.startsWith(home) || (p.size() != home.size() && !belowHome)) {
        return std::nullopt;
    }
    return belowHome ? QStringView(p).mid(home.size()).toString().split(u'/', Qt::SkipEmptyParts) : QStringList();
}

bool isProtectedIn(const QString& p, const QStringList& parts, const CacheRules& rules)
{
    return std::any_of(rules.protectedTexts.begin(), rules.protectedTexts.end(),
                       [&p](const QString& text) { return p.contains(text); })
        || std::any_of(rules.protectedAreas.begin(), rules.protectedAreas.end(),
                       [&parts](const ProtectedArea& area) { return isProtected(parts, area); });
}
} // namespace

bool CacheClassifier::isProtectedLocation(const QString& path, const HomeLayout& layout)
{
    const QString p = standardizePath(path);
    const std::optional<QStringList> parts = namesBelowHome(p, standardizePath(layout.home().toString()));
    return isProtectedIn(p, parts.value_or(QStringList()), layout.cacheRules());
}

CacheRisk CacheClassifier::classify(const QString& path, const HomeLayout& layout)
{
    const QString p = standardizePath(path);
    const QString home = standardizePath(layout.home().toString());
    const CacheRules& rules = layout.cacheRules();

    const std::optional<QStringList> names = namesBelowHome(p, home);
    if (!names || isProtectedIn(p, *names, rules)) {
        return CacheRisk::forbidden;
    }
    const QStringList& parts = *names;
    for (const QString& suffix : rules.safeSuffixes) {
        if (p.endsWith(suffix)) {
            return CacheRisk::safe;
        }
    }
    for (const QString& folder : rules.safeFolders) {
        if (matchPrefix(parts, folder) == parts.size() && !parts.isEmpty()) {
            return CacheRisk::safe;
        }
    }
    const QString cacheArea = standardizePath(layout.userCaches().toString()) + u'/';
    if (p.startsWith(cacheArea)) {
        const QStringView rest = QStringView(p).mid(cacheArea.size());
        if (!rest.isEmpty() && !rest.contains(QLatin1Char('/'))) {
            return CacheRisk::safe;
        }
        return CacheRisk::caution;
    }
    if (!rules.cacheMarker.isEmpty() && p.contains(rules.cacheMarker)) {
        return CacheRisk::caution;
    }
    if (!rules.logMarker.isEmpty() && p.contains(rules.logMarker)) {
        return p.contains(rules.crashReportsWord) ? CacheRisk::forbidden : CacheRisk::caution;
    }
    return CacheRisk::forbidden;
}
