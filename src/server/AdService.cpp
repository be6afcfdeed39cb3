#include "AdService.h"

#include <QDir>
#include <QFileInfo>
#include <QPromise>
#include <QSaveFile>
#include <QStandardPaths>

AdService::AdService(QPointer<HttpTransport> transport, DefaultsStorePtr defaults, QString pictureFolder,
                     QObject* parent)
    : QObject(parent)
    , m_transport(std::move(transport))
    , m_defaults(std::move(defaults))
    , m_pictureFolder(std::move(pictureFolder))
{
    m_ads = AdsConfig::fallback().banners;
    m_currentAd = m_ads.first();
    connect(&m_rotation, &QTimer::timeout, this, &AdService::rotate);
    loadCached();
    loadCachedImageIndex();
}

AdService::~AdService() = default;

QString AdService::defaultPictureFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) {
        base = QDir::tempPath();
    }
    return QDir(base).filePath(QStringLiteral("Brisko/AdImages"));
}

bool AdService::isSafeId(const QString& id)
{
    if (id.isEmpty() || id.size() > 64 || id.startsWith(QLatin1Char('.'))) {
        return false;
    }
    for (const QChar c : id) {
        const char16_t u = c.unicode();
        const bool safe = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'.'
            || u == u'_' || u == u'-';
        if (!safe) {
            return false;
        }
    }
    return true;
}

int AdService::effectiveRotateSeconds(const std::optional<qint64>& configured)
{
    if (!configured) {
        return defaultRotateSeconds;
    }
    return int(std::clamp<qint64>(*configured, minimumRotateSeconds, maximumRotateSeconds));
}

void AdService::loadCached()
{
    const std::optional<QByteArray> stored = m_defaults->data(cacheKey);
    if (!stored) {
        return;
    }
    const std::optional<AdsConfig> config = AdsConfig::decode(*stored);
    if (!config || config->banners.isEmpty()) {
        return;
    }
    setBanners(config->banners);
    m_rotateSeconds = effectiveRotateSeconds(config->rotateSeconds);
}

void AdService::loadCachedImageIndex()
{
    const QFileInfoList files = QDir(m_pictureFolder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    bool changed = false;
    for (const QFileInfo& file : files) {
        if (isSafeId(file.completeBaseName())) {
            m_cachedImagePaths.insert(file.completeBaseName(), file.absoluteFilePath());
            changed = true;
        }
    }
    if (changed) {
        Q_EMIT cachedImagePathsChanged();
    }
}

QFuture<void> AdService::start(const QString& configURL)
{
    const quint64 generation = ++m_startGeneration;
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    const QFuture<void> started = promise->future();
    QPointer<AdService> self(this);
    const auto current = [self, generation] { return self && self->m_startGeneration == generation; };
    fetch(configURL, current, [current, self, promise] {
        if (current()) {
            self->startRotation();
        }
        promise->finish();
    });
    return started;
}

QFuture<void> AdService::fetchAds(const QString& configURL)
{
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    const QFuture<void> fetched = promise->future();
    fetch(configURL, [] { return true; }, [promise] { promise->finish(); });
    return fetched;
}

void AdService::fetch(const QString& configURL, std::function<bool()> current, std::function<void()> done)
{
    const QUrl url = HttpTransport::serverUrl(configURL);
    if (!url.isValid() || !m_transport) {
        startOfflineFallback();
        done();
        return;
    }
    HttpRequest request;
    request.url = url;
    request.timeout = m_timing.fetchTimeout;
    request.maxBodyBytes = maxConfigBytes;
    QPointer<AdService> self(this);
    m_transport->send(request, [self, current, done](const HttpResponse& response) {
        // A start superseded meanwhile does not touch the list any more.
        if (!self || !current() || !response.isSuccess() || !response.hasCompleteBody()) {
            done();
            return;
        }
        const std::optional<AdsConfig> config = AdsConfig::decode(response.body);
        if (!config || config->banners.isEmpty()) {
            done();
            return;
        }
        self->setBanners(config->banners);
        self->m_defaults->setData(cacheKey, response.body);
        self->cachePictures(self->m_ads, 0, done);
    });
}

void AdService::setBanners(const AdItemList& banners)
{
    m_ads = banners.mid(0, maxBanners);
    m_adIndex = 0;
    Q_EMIT adsChanged();
    m_currentAd = m_ads.first();
    Q_EMIT currentAdChanged();
}

void AdService::startOfflineFallback()
{
    m_rotation.stop();
    if (m_ads.isEmpty()) {
        setBanners(AdsConfig::fallback().banners);
    }
    startRotation();
}

void AdService::startRotation()
{
    const qint64 interval = qint64(m_rotateSeconds) * m_timing.second.count();
    m_rotation.start(int(std::clamp<qint64>(interval, 1, std::numeric_limits<int>::max())));
}

void AdService::rotate()
{
    if (m_ads.isEmpty()) {
        return;
    }
    m_adIndex = (m_adIndex + 1) % m_ads.size();
    m_currentAd = m_ads.at(m_adIndex);
    Q_EMIT currentAdChanged();
}

void AdService::cachePictures(AdItemList banners, qsizetype index, std::function<void()> done)
{
    for (; index < banners.size(); ++index) {
        const AdItem& banner = banners.at(index);
        if (!banner.imageURL || !isSafeId(banner.id)) {
            continue;
        }
        const QUrl url = HttpTransport::serverUrl(*banner.imageURL);
        if (!url.isValid()) {
            continue;
        }
        const QString target = QDir(m_pictureFolder).filePath(banner.id + QStringLiteral(".png"));
        if (QFileInfo(target).isFile()) {
            recordPicture(banner.id, target);
            continue;
        }
        if (!m_transport) {
            continue;
        }
        HttpRequest request;
        request.url = url;
        request.timeout = m_timing.pictureTimeout;
        request.maxBodyBytes = maxPictureBytes;
        QPointer<AdService> self(this);
        const QString id = banner.id;
        m_transport->send(request, [self, banners, index, done, target, id](const HttpResponse& response) {
            if (!self) {
                done();
                return;
            }
            // An error page is not a picture.
            if (response.isSuccess() && response.hasCompleteBody() && !response.body.isEmpty()
                && self->writePicture(target, response.body)) {
                self->recordPicture(id, target);
            }
            self->cachePictures(banners, index + 1, done);
        });
        return;
    }
    done();
}

bool AdService::writePicture(const QString& target, const QByteArray& bytes) const
{
    if (!QDir().mkpath(m_pictureFolder)) {
        return false;
    }
    QSaveFile file(target);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

void AdService::recordPicture(const QString& id, const QString& path)
{
    if (m_cachedImagePaths.value(id) == path) {
        return;
    }
    m_cachedImagePaths.insert(id, path);
    Q_EMIT cachedImagePathsChanged();
}
