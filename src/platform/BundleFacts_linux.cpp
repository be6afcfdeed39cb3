#include "BundleFacts.h"

#include "BriskoBuildInfo.h"
#include "PlatformPaths.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// An installed copy lives in an application folder, "<app>/Contents/bin/<program>",
// whose Contents/Info.json (covered by the update signature) describes it, as
// the information dictionary does in a bundle. A build folder has none: there
// the build's own values stand.
QHash<QString, QString> bundleInfo()
{
    QHash<QString, QString> info = {
        {QStringLiteral("CFBundleShortVersionString"), QStringLiteral(BRISKO_SHORT_VERSION)},
        {QStringLiteral("CFBundleVersion"), QStringLiteral(BRISKO_BUILD_NUMBER)},
        {QStringLiteral("CFBundleIdentifier"), QStringLiteral(BRISKO_BUNDLE_ID)},
        {QStringLiteral("CFBundleName"), QStringLiteral("Brisko Vella")},
    };
    const QString executable = PlatformPaths::executable().toString();
    const qsizetype marker = executable.lastIndexOf(QLatin1String("/Contents/bin/"));
    if (marker < 0) {
        return info;
    }
    QFile file(executable.left(marker) + QStringLiteral("/Contents/Info.json"));
    if (file.size() > (1 << 20) || !file.open(QIODevice::ReadOnly)) {
        return info;
    }
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    if (object.value(QLatin1String("CFBundleIdentifier")).toString() != info.value(QStringLiteral("CFBundleIdentifier"))) {
        return info;
    }
    for (const QString& key : {QStringLiteral("CFBundleShortVersionString"), QStringLiteral("CFBundleVersion")}) {
        if (const QJsonValue value = object.value(key); value.isString() && !value.toString().isEmpty()) {
            info.insert(key, value.toString());
        }
    }
    return info;
}

} // namespace

std::optional<QString> BundleFacts::infoString(const QString& key)
{
    static const QHash<QString, QString> info = bundleInfo();
    const auto it = info.constFind(key);
    if (it == info.constEnd()) {
        return std::nullopt;
    }
    return *it;
}
