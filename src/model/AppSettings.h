#pragma once

#include "FanControlMode.h"
#include "VideoSearchMode.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <optional>

// The one record of user preferences and service endpoints. The record holds
// no ranges: values are stored as entered, and each reader applies its own.
struct AppSettings
{
    QString archivePath;
    double largeFolderThresholdGB = 5.0;
    double largeFileThresholdMB = 50.0;
    double plusVideoThresholdMB = 50.0;
    VideoSearchMode videoSearchMode = VideoSearchMode::namePrefix;
    QString videoNamePrefix;
    double archiveCandidateMinGB = 10.0;
    qint64 archiveCandidateMinDays = 60;
    qint64 installerMaxAgeDays = 30;
    bool scanHomeDirectory = true;
    bool eulaAccepted = false;
    // Seconds since 2001-01-01 UTC (see ReferenceDate).
    std::optional<double> eulaAcceptedAt;
    bool onboardingCompleted = false;
    bool showAds = true;
    bool analyticsEnabled = true;
    bool lowPowerMode = false;
    FanControlMode fanControlMode = FanControlMode::system;
    double fanManualBoostPercent = 75.0;
    double fanAutoBoostTempC = 78.0;
    double fanAutoBoostTargetPercent = 85.0;
    bool compressCleanArchive = true;
    QString adsConfigURL;
    QString analyticsEndpoint;
    QString errorsEndpoint;
    QString feedbackEndpoint;
    bool errorReportingEnabled = true;
    QString updateCheckURL;
    QString regionCheckURL;
    QString privacyPolicyURL;
    QStringList excludedPaths;

    // The defaults-store key the record is kept under as JSON.
    static inline const QString storeKey = QStringLiteral("BriskoSettings");

    // The defaults, with the archive folder under the given home folder.
    static AppSettings defaults(const QString& homePath);
    // An archive folder as typed: "~" and "~/…" become the home folder; the
    // result must be an absolute path (moves record where items went, and a
    // relative place would depend on the directory the program started in).
    // Nothing for anything else.
    static std::optional<QString> archivePathFrom(const QString& text, const QString& homePath);
    static inline const QString relativeArchivePathMessage =
        QStringLiteral("Путь к архиву должен быть абсолютным (например /media/диск/Архив или ~/Архив)");

    // Strict: every key but eulaAcceptedAt present with the right type, or nothing.
    static std::optional<AppSettings> fromJson(const QByteArray& json);
    static std::optional<AppSettings> fromJsonObject(const QJsonObject& object);
    // Fails (returns false) when a number is not finite: JSON cannot hold it.
    bool toJsonObject(QJsonObject* out) const;
    std::optional<QByteArray> toJson() const;

    bool operator==(const AppSettings& other) const = default;
};

Q_DECLARE_METATYPE(AppSettings)
