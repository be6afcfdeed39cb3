#include "AppSettings.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace {

const QString serverBase = QStringLiteral("https://api.korvane.ru");
const QString siteBase = QStringLiteral("https://korvane.ru");

bool readBool(const QJsonObject& o, const char* key, bool* out)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isBool()) {
        return false;
    }
    *out = v.toBool();
    return true;
}

bool readDouble(const QJsonObject& o, const char* key, double* out)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isDouble()) {
        return false;
    }
    *out = v.toDouble();
    return true;
}

bool readInt(const QJsonObject& o, const char* key, qint64* out)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isDouble()) {
        return false;
    }
    const double d = v.toDouble();
    // An integer field holds a whole number in the signed 64-bit range.
    if (!std::isfinite(d) || d != std::trunc(d) || d < -9.2233720368547758e18 || d >= 9.2233720368547758e18) {
        return false;
    }
    *out = qint64(d);
    return true;
}

bool readString(const QJsonObject& o, const char* key, QString* out)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isString()) {
        return false;
    }
    *out = v.toString();
    return true;
}

} // namespace

AppSettings AppSettings::defaults(const QString& homePath)
{
    AppSettings s;
    s.archivePath = QDir(homePath).filePath(QStringLiteral("Movies/Brisko Archive"));
    s.adsConfigURL = serverBase + QStringLiteral("/api/brisko/ads.json");
    s.analyticsEndpoint = serverBase + QStringLiteral("/api/brisko/events.php");
    s.errorsEndpoint = serverBase + QStringLiteral("/api/brisko/errors.php");
    s.feedbackEndpoint = serverBase + QStringLiteral("/api/brisko/feedback.php");
    s.updateCheckURL = serverBase + QStringLiteral("/api/brisko/version.json");
    s.regionCheckURL = serverBase + QStringLiteral("/api/brisko/region.php");
    s.privacyPolicyURL = siteBase + QStringLiteral("/brisko-vella/privacy");
    s.excludedPaths = {QStringLiteral("Library"), QStringLiteral("node_modules"), QStringLiteral(".Trash"),
                       QStringLiteral(".npm"), QStringLiteral(".cache")};
    return s;
}

std::optional<AppSettings> AppSettings::fromJson(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return std::nullopt;
    }
    return fromJsonObject(doc.object());
}

std::optional<QString> AppSettings::archivePathFrom(const QString& text, const QString& homePath)
{
    QString path = text.trimmed();
    if (path == QLatin1String("~")) {
        path = homePath;
    } else if (path.startsWith(QLatin1String("~/"))) {
        path = QDir(homePath).filePath(path.mid(2));
    }
    if (!path.startsWith(QLatin1Char('/'))) {
        return std::nullopt;
    }
    return QDir::cleanPath(path);
}

std::optional<AppSettings> AppSettings::fromJsonObject(const QJsonObject& o)
{
    AppSettings s;
    QString videoMode;
    QString fanMode;
    const bool ok = readString(o, "archivePath", &s.archivePath)
        && readDouble(o, "largeFolderThresholdGB", &s.largeFolderThresholdGB)
        && readDouble(o, "largeFileThresholdMB", &s.largeFileThresholdMB)
        && readDouble(o, "plusVideoThresholdMB", &s.plusVideoThresholdMB)
        && readString(o, "videoSearchMode", &videoMode) && readString(o, "videoNamePrefix", &s.videoNamePrefix)
        && readDouble(o, "archiveCandidateMinGB", &s.archiveCandidateMinGB)
        && readInt(o, "archiveCandidateMinDays", &s.archiveCandidateMinDays)
        && readInt(o, "installerMaxAgeDays", &s.installerMaxAgeDays)
        && readBool(o, "scanHomeDirectory", &s.scanHomeDirectory) && readBool(o, "eulaAccepted", &s.eulaAccepted)
        && readBool(o, "onboardingCompleted", &s.onboardingCompleted) && readBool(o, "showAds", &s.showAds)
        && readBool(o, "analyticsEnabled", &s.analyticsEnabled) && readBool(o, "lowPowerMode", &s.lowPowerMode)
        && readString(o, "fanControlMode", &fanMode)
        && readDouble(o, "fanManualBoostPercent", &s.fanManualBoostPercent)
        && readDouble(o, "fanAutoBoostTempC", &s.fanAutoBoostTempC)
        && readDouble(o, "fanAutoBoostTargetPercent", &s.fanAutoBoostTargetPercent)
        && readBool(o, "compressCleanArchive", &s.compressCleanArchive)
        && readString(o, "adsConfigURL", &s.adsConfigURL) && readString(o, "analyticsEndpoint", &s.analyticsEndpoint)
        && readString(o, "errorsEndpoint", &s.errorsEndpoint) && readString(o, "feedbackEndpoint", &s.feedbackEndpoint)
        && readBool(o, "errorReportingEnabled", &s.errorReportingEnabled)
        && readString(o, "updateCheckURL", &s.updateCheckURL) && readString(o, "regionCheckURL", &s.regionCheckURL)
        && readString(o, "privacyPolicyURL", &s.privacyPolicyURL);
    if (!ok) {
        return std::nullopt;
    }
    const std::optional<VideoSearchMode> video = VideoSearchModes::fromRawValue(videoMode);
    const std::optional<FanControlMode> fan = FanControlModes::fromRawValue(fanMode);
    if (!video || !fan) {
        return std::nullopt;
    }
    s.videoSearchMode = *video;
    s.fanControlMode = *fan;

    const QJsonValue excluded = o.value(QLatin1String("excludedPaths"));
    if (!excluded.isArray()) {
        return std::nullopt;
    }
    for (const QJsonValue& name : excluded.toArray()) {
        if (!name.isString()) {
            return std::nullopt;
        }
        s.excludedPaths.append(name.toString());
    }

    if (o.contains(QLatin1String("eulaAcceptedAt"))) {
        double at = 0;
        if (!readDouble(o, "eulaAcceptedAt", &at)) {
            return std::nullopt;
        }
        s.eulaAcceptedAt = at;
    }
    return s;
}

bool AppSettings::toJsonObject(QJsonObject* out) const
{
    const double numbers[] = {largeFolderThresholdGB, largeFileThresholdMB, plusVideoThresholdMB,
                              archiveCandidateMinGB, fanManualBoostPercent, fanAutoBoostTempC,
                              fanAutoBoostTargetPercent, eulaAcceptedAt.value_or(0.0)};
    for (double n : numbers) {
        if (!std::isfinite(n)) {
            return false;
        }
    }
    QJsonObject o;
    o.insert(QLatin1String("archivePath"), archivePath);
    o.insert(QLatin1String("largeFolderThresholdGB"), largeFolderThresholdGB);
    o.insert(QLatin1String("largeFileThresholdMB"), largeFileThresholdMB);
    o.insert(QLatin1String("plusVideoThresholdMB"), plusVideoThresholdMB);
    o.insert(QLatin1String("videoSearchMode"), VideoSearchModes::rawValue(videoSearchMode));
    o.insert(QLatin1String("videoNamePrefix"), videoNamePrefix);
    o.insert(QLatin1String("archiveCandidateMinGB"), archiveCandidateMinGB);
    o.insert(QLatin1String("archiveCandidateMinDays"), archiveCandidateMinDays);
    o.insert(QLatin1String("installerMaxAgeDays"), installerMaxAgeDays);
    o.insert(QLatin1String("scanHomeDirectory"), scanHomeDirectory);
    o.insert(QLatin1String("eulaAccepted"), eulaAccepted);
    if (eulaAcceptedAt) {
        o.insert(QLatin1String("eulaAcceptedAt"), *eulaAcceptedAt);
    }
    o.insert(QLatin1String("onboardingCompleted"), onboardingCompleted);
    o.insert(QLatin1String("showAds"), showAds);
    o.insert(QLatin1String("analyticsEnabled"), analyticsEnabled);
    o.insert(QLatin1String("lowPowerMode"), lowPowerMode);
    o.insert(QLatin1String("fanControlMode"), FanControlModes::rawValue(fanControlMode));
    o.insert(QLatin1String("fanManualBoostPercent"), fanManualBoostPercent);
    o.insert(QLatin1String("fanAutoBoostTempC"), fanAutoBoostTempC);
    o.insert(QLatin1String("fanAutoBoostTargetPercent"), fanAutoBoostTargetPercent);
    o.insert(QLatin1String("compressCleanArchive"), compressCleanArchive);
    o.insert(QLatin1String("adsConfigURL"), adsConfigURL);
    o.insert(QLatin1String("analyticsEndpoint"), analyticsEndpoint);
    o.insert(QLatin1String("errorsEndpoint"), errorsEndpoint);
    o.insert(QLatin1String("feedbackEndpoint"), feedbackEndpoint);
    o.insert(QLatin1String("errorReportingEnabled"), errorReportingEnabled);
    o.insert(QLatin1String("updateCheckURL"), updateCheckURL);
    o.insert(QLatin1String("regionCheckURL"), regionCheckURL);
    o.insert(QLatin1String("privacyPolicyURL"), privacyPolicyURL);
    o.insert(QLatin1String("excludedPaths"), QJsonArray::fromStringList(excludedPaths));
    *out = o;
    return true;
}

std::optional<QByteArray> AppSettings::toJson() const
{
    QJsonObject o;
    if (!toJsonObject(&o)) {
        return std::nullopt;
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}
