#pragma once

#include "AdsConfig.h"
#include "HttpTransport.h"
#include "platform/DefaultsStore.h"

#include <QFuture>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>

// The banner announcements: the current rotation, fetched from the maker's
// server at launch, with the last good list kept for offline starts, the
// banner pictures cached on disk, and a timer that moves to the next banner.
// No failure is shown or reported: a network error, a bad status, a bad body
// or an empty list keeps the banners already known (cached or built-in).
// Lives on the main thread.
//
// A banner's id names its picture file. Ids come from the server, so only
// ids made of letters, digits, ".", "_" and "-" (not starting with a dot, at
// most 64 characters) are used as file names; other banners are shown
// without a cached picture.
class AdService : public QObject
{
    Q_OBJECT

public:
    static inline const QString cacheKey = QStringLiteral("BriskoAdsCache");
    static constexpr int defaultRotateSeconds = 30;
    static constexpr int minimumRotateSeconds = 10;
    // A day; longer intervals would overflow the timer and mean nothing.
    static constexpr int maximumRotateSeconds = 86400;
    static constexpr qint64 maxConfigBytes = qint64(1) << 20;
    static constexpr qint64 maxPictureBytes = qint64(5) << 20;
    // More banners than this are not rotated nor their pictures fetched.
    static constexpr qsizetype maxBanners = 50;

    struct Timing
    {
        // The length of one of rotateSeconds' seconds; tests shorten it.
        std::chrono::milliseconds second{1000};
        std::chrono::milliseconds fetchTimeout{15000};
        std::chrono::milliseconds pictureTimeout{30000};
    };

    // Starts from the built-in list, then the cached configuration and the
    // pictures already in pictureFolder.
    AdService(QPointer<HttpTransport> transport, DefaultsStorePtr defaults, QString pictureFolder,
              QObject* parent = nullptr);
    ~AdService() override;

    // "Brisko/AdImages" in the user's data folder, else in the temporary one.
    static QString defaultPictureFolder();

    void setTiming(const Timing& timing) { m_timing = timing; }

    // Fetches the list, then (re)starts the rotation. A later start
    // supersedes one still fetching. The future finishes once the rotation
    // runs.
    QFuture<void> start(const QString& configURL);
    // The fetch alone; finishes after the pictures of a new list are cached.
    QFuture<void> fetchAds(const QString& configURL);

    const AdItem& currentAd() const { return m_currentAd; }
    const AdItemList& ads() const { return m_ads; }
    // Banner id → picture file.
    const QMap<QString, QString>& cachedImagePaths() const { return m_cachedImagePaths; }
    int rotateSeconds() const { return m_rotateSeconds; }
    qsizetype adIndex() const { return m_adIndex; }
    bool isRotating() const { return m_rotation.isActive(); }
    int rotationIntervalMs() const { return m_rotation.interval(); }

    static bool isSafeId(const QString& id);
    // Absent → 30, below 10 → 10, above a day → a day.
    static int effectiveRotateSeconds(const std::optional<qint64>& configured);

Q_SIGNALS:
    void currentAdChanged();
    void adsChanged();
    void cachedImagePathsChanged();

private:
    void loadCached();
    void loadCachedImageIndex();
    // The answer is used only while current() holds.
    void fetch(const QString& configURL, std::function<bool()> current, std::function<void()> done);
    void startOfflineFallback();
    void startRotation();
    void rotate();
    void cachePictures(AdItemList banners, qsizetype index, std::function<void()> done);
    bool writePicture(const QString& target, const QByteArray& bytes) const;
    void recordPicture(const QString& id, const QString& path);
    void setBanners(const AdItemList& banners);

    QPointer<HttpTransport> m_transport;
    DefaultsStorePtr m_defaults;
    QString m_pictureFolder;
    Timing m_timing;

    AdItem m_currentAd;
    AdItemList m_ads;
    QMap<QString, QString> m_cachedImagePaths;
    int m_rotateSeconds = defaultRotateSeconds;
    QTimer m_rotation;
    qsizetype m_adIndex = 0;
    quint64 m_startGeneration = 0;
};
