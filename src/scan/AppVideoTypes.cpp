#include "AppVideoTypes.h"

#include <QStringList>

#include <algorithm>

const QSet<QString>& AppVideoTypes::extensions()
{
    static const QSet<QString> set = {
        QStringLiteral("mp4"),  QStringLiteral("mov"),  QStringLiteral("avi"),  QStringLiteral("mkv"),
        QStringLiteral("m4v"),  QStringLiteral("wmv"),  QStringLiteral("webm"), QStringLiteral("flv"),
        QStringLiteral("mpeg"), QStringLiteral("mpg"),  QStringLiteral("3gp"),  QStringLiteral("mts"),
    };
    return set;
}

QString AppVideoTypes::extensionsLabel()
{
    QStringList sorted(extensions().cbegin(), extensions().cend());
    std::sort(sorted.begin(), sorted.end());
    for (QString& ext : sorted) {
        ext.prepend(QLatin1Char('.'));
    }
    return sorted.join(QStringLiteral(", "));
}
