#include "UpdateVersionOrder.h"

#include <QRegularExpression>

qint64 UpdateVersionOrder::buildNumber(const QString& text)
{
    static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
    if (!decimal.match(text).hasMatch()) {
        return 0;
    }
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok ? value : 0;
}

int UpdateVersionOrder::compareVersions(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && a.at(endA).isDigit()) {
                ++endA;
            }
            while (endB < b.size() && b.at(endB).isDigit()) {
                ++endB;
            }
            // Leading zeros say nothing about the number.
            while (i + 1 < endA && a.at(i) == u'0') {
                ++i;
            }
            while (j + 1 < endB && b.at(j) == u'0') {
                ++j;
            }
            const qsizetype lengthA = endA - i;
            const qsizetype lengthB = endB - j;
            if (lengthA != lengthB) {
                return lengthA < lengthB ? -1 : 1;
            }
            if (const int order = QStringView(a).mid(i, lengthA).compare(QStringView(b).mid(j, lengthB)); order != 0) {
                return order;
            }
            i = endA;
            j = endB;
            continue;
        }
        if (a.at(i) != b.at(j)) {
            return a.at(i) < b.at(j) ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < a.size()) {
        return 1;
    }
    return j < b.size() ? -1 : 0;
}

bool UpdateVersionOrder::isNewer(const QString& remoteVersion, const QString& remoteBuild,
                                 const QString& localVersion, const QString& localBuild)
{
    const qint64 remote = buildNumber(remoteBuild);
    const qint64 local = buildNumber(localBuild);
    if (remote != local) {
        return remote > local;
    }
    return compareVersions(remoteVersion, localVersion) > 0;
}
