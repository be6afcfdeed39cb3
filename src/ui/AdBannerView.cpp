#include "AdBannerView.h"

#include "CardFrame.h"
#include "IconSet.h"
#include "Theme.h"
#include "app/AppState.h"
#include "platform/Workspace.h"
#include "server/AdService.h"

#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QUrl>

AdBannerView::AdBannerView(const WindowServices& services, QWidget* parent)
    : QAbstractButton(parent)
    , m_services(services)
{
    setObjectName(QStringLiteral("adBanner"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    if (m_services.ads) {
        connect(m_services.ads, &AdService::currentAdChanged, this, &AdBannerView::refresh);
        connect(m_services.ads, &AdService::cachedImagePathsChanged, this, &AdBannerView::refresh);
    }
    connect(this, &QAbstractButton::clicked, this, &AdBannerView::openCurrent);
    refresh();
}

QString AdBannerView::assetPath(const QString& imageAsset)
{
    return QStringLiteral(":/ads/") + imageAsset + (imageAsset.contains(u'.') ? QString() : QStringLiteral(".png"));
}

QPixmap AdBannerView::choosePicture() const
{
    const qreal ratio = devicePixelRatioF();
    const QSize target = QSize(thumbnailSize, thumbnailSize) * ratio;
    auto load = [&](const QString& path) -> QPixmap {
        if (path.isEmpty())
            return {};
        QImageReader reader(path);
        // Only the thumbnail is ever drawn: never decode a huge picture at full size.
        const QSize size = reader.size();
        if (size.isValid() && (size.width() > target.width() || size.height() > target.height()))
            reader.setScaledSize(size.scaled(target, Qt::KeepAspectRatioByExpanding));
        const QImage image = reader.read();
        if (image.isNull())
            return {};
        QPixmap pixmap = QPixmap::fromImage(image);
        pixmap.setDevicePixelRatio(ratio);
        return pixmap;
    };
    if (m_ad.imageAsset && !m_ad.imageAsset->isEmpty()) {
        QPixmap asset = load(assetPath(*m_ad.imageAsset));
        if (!asset.isNull())
            return asset;
    }
    if (m_services.ads)
        return load(m_services.ads->cachedImagePaths().value(m_ad.id));
    return {};
}

void AdBannerView::refresh()
{
    if (!m_services.ads)
        return;
    m_ad = m_services.ads->currentAd();
    m_picture = choosePicture();
    setText(m_ad.title);
    setAccessibleName(m_ad.title);
    setAccessibleDescription(m_ad.subtitle);
    setToolTip(m_ad.url);
    setFixedHeight(sizeHint().height());
    update();
    reportImpression();
}

QSize AdBannerView::sizeHint() const
{
    return {480, hasPicture() ? thumbnailSize + 2 * Theme::spacing : markSize + 2 * Theme::spacing + 4};
}

void AdBannerView::showEvent(QShowEvent* event)
{
    QAbstractButton::showEvent(event);
    reportImpression();
}

void AdBannerView::reportImpression()
{
    if (isVisible() && m_services.appState)
        m_services.appState->trackAdImpression(m_ad.id);
}

void AdBannerView::openCurrent()
{
    if (m_ad.id.isEmpty())
        return;
    if (m_services.appState)
        m_services.appState->track(QStringLiteral("ad_click"),
                                   {{QStringLiteral("ad_id"), m_ad.id}, {QStringLiteral("url"), m_ad.url}});
    // The address comes from the server: only web pages are opened, never a
    // local file or another program's scheme.
    const QUrl url(m_ad.url, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (m_services.workspace && url.isValid() && !url.host().isEmpty()
        && (scheme == QStringLiteral("https") || scheme == QStringLiteral("http")))
        m_services.workspace->openUrl(url);
}

void AdBannerView::paintEvent(QPaintEvent*)
{
    const Theme theme = Theme::of(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    CardFrame::paintCard(painter, rect(), theme, QColor(), hasFocus());

    const int imageSize = hasPicture() ? thumbnailSize : markSize;
    const QRectF imageRect(Theme::spacing, (height() - imageSize) / 2.0, imageSize, imageSize);
    painter.save();
    QPainterPath clip;
    clip.addRoundedRect(imageRect, 10, 10);
    painter.setClipPath(clip);
    if (hasPicture()) {
        const QSizeF logical = QSizeF(m_picture.size()) / m_picture.devicePixelRatio();
        const QSizeF scaled = logical.scaled(imageRect.size(), Qt::KeepAspectRatioByExpanding);
        const QRectF target(imageRect.center() - QPointF(scaled.width() / 2, scaled.height() / 2), scaled);
        painter.drawPixmap(target, m_picture, QRectF(QPointF(0, 0), QSizeF(m_picture.size())));
    } else {
        painter.fillPath(clip, Theme::withAlpha(theme.accent(), theme.dark() ? 0.22 : 0.10));
        const QPixmap mark = IconSet::korvaneMark(imageSize - 8, devicePixelRatioF());
        if (!mark.isNull())
            painter.drawPixmap(imageRect.topLeft() + QPointF(4, 4), mark);
    }
    painter.restore();

    const int textX = int(imageRect.right()) + Theme::spacing;
    int textRight = width() - Theme::spacing;
    const QFontMetrics captionMetrics(theme.captionFont());
    if (m_ad.sponsor && !m_ad.sponsor->isEmpty()) {
        painter.setFont(theme.captionFont());
        painter.setPen(theme.secondaryText());
        const QString sponsor = captionMetrics.elidedText(*m_ad.sponsor, Qt::ElideRight, width() / 4);
        const int sponsorWidth = captionMetrics.horizontalAdvance(sponsor);
        painter.drawText(QRect(textRight - sponsorWidth, Theme::spacing, sponsorWidth, captionMetrics.height()),
                         Qt::AlignRight | Qt::AlignTop, sponsor);
        textRight -= sponsorWidth + Theme::spacing;
    }
    const QFontMetrics titleMetrics(theme.headlineFont());
    const int blockHeight = titleMetrics.height() + 2 + captionMetrics.height();
    const int top = (height() - blockHeight) / 2;
    const int textWidth = textRight - textX;
    painter.setFont(theme.headlineFont());
    painter.setPen(theme.text());
    painter.drawText(QRect(textX, top, textWidth, titleMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     titleMetrics.elidedText(m_ad.title, Qt::ElideRight, textWidth));
    painter.setFont(theme.captionFont());
    painter.setPen(theme.secondaryText());
    painter.drawText(QRect(textX, top + titleMetrics.height() + 2, width() - textX - Theme::spacing,
                           captionMetrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     captionMetrics.elidedText(m_ad.subtitle, Qt::ElideRight, width() - textX - Theme::spacing));
}
