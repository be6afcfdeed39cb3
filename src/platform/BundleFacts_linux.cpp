#include "BundleFacts.h"

#include "BriskoBuildInfo.h"

#include <QHash>

std::optional<QString> BundleFacts::infoString(const QString& key)
{
    // On Linux the build writes the dictionary into the program itself.
    static const QHash<QString, QString> info = {
        {QStringLiteral("CFBundleShortVersionString"), QStringLiteral(BRISKO_SHORT_VERSION)},
        {QStringLiteral("CFBundleVersion"), QStringLiteral(BRISKO_BUILD_NUMBER)},
        {QStringLiteral("CFBundleIdentifier"), QStringLiteral(BRISKO_BUNDLE_ID)},
        {QStringLiteral("CFBundleName"), QStringLiteral("Brisko Vella")},
    };
    const auto it = info.constFind(key);
    if (it == info.constEnd()) {
        return std::nullopt;
    }
    return *it;
}
