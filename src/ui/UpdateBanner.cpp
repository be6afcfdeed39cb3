#include "UpdateBanner.h"

#include "Theme.h"
#include "platform/Workspace.h"
#include "update/UpdateService.h"

#include <QPushButton>

UpdateBanner::UpdateBanner(UpdateService* updates, Workspace* workspace, QWidget* parent)
    : NoticeBanner(parent)
    , m_updates(updates)
    , m_workspace(workspace)
{
    setObjectName(QStringLiteral("updateBanner"));
    setIcon(QStringLiteral("arrow.down.circle"));
    if (m_updates) {
        connect(m_updates, &UpdateService::availableUpdateChanged, this, &UpdateBanner::refresh);
        connect(m_updates, &UpdateService::phaseChanged, this, &UpdateBanner::refresh);
    }
    refresh();
}

void UpdateBanner::showOffer(const QString& version, const QString& message)
{
    setTitle(QStringLiteral("Доступна версия ") + version);
    setMessage(message);
    QPushButton* download = addButton(QStringLiteral("Скачать обновление"), true);
    connect(download, &QPushButton::clicked, this, [this] {
        if (m_updates)
            m_updates->downloadUpdate();
    });
    addBrowserButton();
}

void UpdateBanner::addBrowserButton()
{
    QPushButton* browser = addButton(QStringLiteral("Открыть в браузере"));
    connect(browser, &QPushButton::clicked, this, [this] {
        if (m_updates && m_updates->availableUpdate() && m_workspace)
            m_workspace->openUrl(m_updates->availableUpdate()->downloadURL);
    });
}

void UpdateBanner::refresh()
{
    clearButtons();
    const std::optional<AppUpdateInfo> update = m_updates ? m_updates->availableUpdate() : std::nullopt;
    if (!update) {
        hide();
        return;
    }
    const Theme theme = Theme::of(this);
    setTint(theme.accent());
    setIcon(QStringLiteral("arrow.down.circle"));
    setToolTip(update->releaseNotes);
    const UpdatePhase phase = m_updates->phase();
    switch (phase.kind) {
    case UpdatePhase::Kind::idle:
        showOffer(update->version, QString());
        break;
    case UpdatePhase::Kind::failed:
        setTint(theme.warning());
        setIcon(QStringLiteral("exclamationmark.triangle.fill"));
        showOffer(update->version, phase.message);
        break;
    case UpdatePhase::Kind::downloading:
        setTitle(QStringLiteral("Загрузка обновления…"));
        setMessage(QString());
        break;
    case UpdatePhase::Kind::readyToInstall: {
        setTitle(QStringLiteral("Обновление загружено"));
        // Where this copy cannot replace itself the banner says how to update
        // instead of offering a button that can only fail.
        if (!m_updates->canInstallInPlace()) {
            setMessage(m_updates->installInstructions());
            addBrowserButton();
            break;
        }
        setMessage(QString());
        QPushButton* install = addButton(QStringLiteral("Установить и перезапустить"), true);
        connect(install, &QPushButton::clicked, this, [this] {
            if (m_updates)
                m_updates->installDownloadedUpdate();
        });
        break;
    }
    case UpdatePhase::Kind::installing:
        setTitle(QStringLiteral("Установка… приложение перезапустится"));
        setMessage(QString());
        break;
    }
    show();
}
