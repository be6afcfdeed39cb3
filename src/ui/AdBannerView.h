#pragma once

#include "WindowServices.h"
#include "server/AdItem.h"

#include <QAbstractButton>
#include <QPixmap>

// The banner announcement: the banner service's current banner, painted as a
// clickable card. The picture is the application's own picture named by
// imageAsset, else the cached picture of the banner's id, else the maker's
// mark in a smaller layout.
//
// Each banner that appears in the view is counted once as "ad_impression"
// (again only after another banner was shown); a click counts "ad_click" and
// opens the banner's page through the workspace when it is a web address.
class AdBannerView : public QAbstractButton
{
    Q_OBJECT
public:
    explicit AdBannerView(const WindowServices& services, QWidget* parent = nullptr);

    const AdItem& shownAd() const { return m_ad; }
    bool hasPicture() const { return !m_picture.isNull(); }
    QSize sizeHint() const override;

    static constexpr int thumbnailSize = 56;
    static constexpr int markSize = 36;
    // Where the application's own banner pictures live in the resources.
    static QString assetPath(const QString& imageAsset);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void reportImpression();
    void openCurrent();
    QPixmap choosePicture() const;

    WindowServices m_services;
    AdItem m_ad;
    QPixmap m_picture;
};
