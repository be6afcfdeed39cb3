#pragma once

#include "NoticeBanner.h"

#include <QPointer>

class UpdateService;
class Workspace;

// The overview's update notice, shown while the update service offers an
// update: "Доступна версия …" with download and browser buttons, then the
// download, the ready download with "Установить и перезапустить", and the
// installation. A failed step shows its message with the first buttons again,
// so the user can retry or take the image from the browser.
class UpdateBanner : public NoticeBanner
{
    Q_OBJECT
public:
    UpdateBanner(UpdateService* updates, Workspace* workspace, QWidget* parent = nullptr);

private:
    void refresh();
    void showOffer(const QString& version, const QString& message);
    void addBrowserButton();

    QPointer<UpdateService> m_updates;
    Workspace* m_workspace = nullptr;
};
