#include "UpdatesGroup.h"

#include "IconSet.h"
#include "IconTextLine.h"
#include "PanelCard.h"
#include "Theme.h"
#include "app/AppState.h"
#include "platform/BundleFacts.h"
#include "update/UpdateService.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

UpdatesGroup::UpdatesGroup(const WindowServices& services, QWidget* parent)
    : QWidget(parent)
    , m_services(services)
{
    const Theme theme(palette());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(Theme::smallSpacing + 2);
    const QString version =
        BundleFacts::infoString(QStringLiteral("CFBundleShortVersionString")).value_or(QStringLiteral("0.0.0"));
    const QString build = BundleFacts::infoString(QStringLiteral("CFBundleVersion")).value_or(QStringLiteral("0"));
    auto* current = new QLabel(QStringLiteral("Текущая версия: ") + version + QStringLiteral(" (build ") + build +
                                   QStringLiteral(")"),
                               this);
    current->setObjectName(QStringLiteral("currentVersion"));
    layout->addWidget(current);

    auto* row = new QHBoxLayout;
    m_check = new QPushButton(this);
    m_check->setObjectName(QStringLiteral("checkForUpdates"));
    m_check->setIcon(
        IconSet::icon(QStringLiteral("arrow.triangle.2.circlepath"), theme.accent(), theme.secondaryText()));
    row->addWidget(m_check);
    m_offer = new QLabel(this);
    m_offer->setObjectName(QStringLiteral("updateOffer"));
    row->addWidget(m_offer);
    m_action = new QPushButton(this);
    m_action->setObjectName(QStringLiteral("updateAction"));
    row->addWidget(m_action);
    row->addStretch(1);
    layout->addLayout(row);
    m_instructions = PanelCard::makeNote(QString(), this);
    m_instructions->setObjectName(QStringLiteral("installInstructions"));
    layout->addWidget(m_instructions);
    m_status = new IconTextLine(this);
    m_status->setObjectName(QStringLiteral("updateStatus"));
    layout->addWidget(m_status);

    UpdateService* updates = m_services.updates;
    connect(m_check, &QPushButton::clicked, this, [this] {
        if (m_services.updates && m_services.appState) {
            m_checked = true;
            m_services.updates->check(m_services.appState->settings().updateCheckURL);
        }
    });
    connect(m_action, &QPushButton::clicked, this, &UpdatesGroup::act);
    if (updates) {
        connect(updates, &UpdateService::availableUpdateChanged, this, &UpdatesGroup::update);
        connect(updates, &UpdateService::isCheckingChanged, this, &UpdatesGroup::update);
        connect(updates, &UpdateService::lastCheckErrorChanged, this, &UpdatesGroup::update);
        connect(updates, &UpdateService::phaseChanged, this, &UpdatesGroup::update);
    }
    update();
}

void UpdatesGroup::act()
{
    UpdateService* updates = m_services.updates;
    if (!updates) {
        return;
    }
    if (updates->phase().kind == UpdatePhase::Kind::readyToInstall) {
        updates->installDownloadedUpdate();
    } else if (updates->availableUpdate()) {
        updates->downloadUpdate();
    }
}

void UpdatesGroup::update()
{
    UpdateService* updates = m_services.updates;
    m_check->setVisible(updates != nullptr);
    if (!updates) {
        m_offer->hide();
        m_action->hide();
        m_instructions->hide();
        m_status->hide();
        return;
    }
    const Theme theme(palette());
    const bool checking = updates->isChecking();
    const UpdatePhase phase = updates->phase();
    const std::optional<AppUpdateInfo> offer = updates->availableUpdate();
    const bool busy = phase.kind == UpdatePhase::Kind::downloading || phase.kind == UpdatePhase::Kind::installing;
    m_check->setText(checking ? QStringLiteral("Проверка…") : QStringLiteral("Проверить обновления"));
    m_check->setEnabled(!checking && !busy);

    m_offer->setVisible(offer.has_value());
    m_action->setVisible(offer.has_value());
    m_instructions->hide();
    if (offer) {
        m_offer->setText(QStringLiteral("Доступна версия ") + offer->version);
        switch (phase.kind) {
        case UpdatePhase::Kind::downloading:
            m_action->setText(QStringLiteral("Загрузка…"));
            break;
        case UpdatePhase::Kind::readyToInstall:
            m_action->setText(QStringLiteral("Установить и перезапустить"));
            break;
        case UpdatePhase::Kind::installing:
            m_action->setText(QStringLiteral("Установка…"));
            break;
        case UpdatePhase::Kind::idle:
        case UpdatePhase::Kind::failed:
            m_action->setText(QStringLiteral("Скачать ") + offer->version);
            break;
        }
        const bool installable = phase.kind != UpdatePhase::Kind::readyToInstall || updates->canInstallInPlace();
        m_action->setIcon(
            phase.kind == UpdatePhase::Kind::readyToInstall
                ? QIcon()
                : IconSet::icon(QStringLiteral("arrow.down.circle"), theme.accent(), theme.secondaryText()));
        m_action->setEnabled(!busy && installable);
        if (!installable) {
            m_instructions->setText(updates->installInstructions());
            m_instructions->show();
        }
    }

    if (phase.kind == UpdatePhase::Kind::failed) {
        m_status->setContent(QStringLiteral("exclamationmark.triangle.fill"), IconTextLine::Tone::warning,
                             phase.message);
        m_status->show();
    } else if (updates->lastCheckError()) {
        m_status->setContent(QStringLiteral("exclamationmark.triangle.fill"), IconTextLine::Tone::warning,
                             *updates->lastCheckError());
        m_status->show();
    } else if (m_checked && !checking && !offer) {
        m_status->setContent(QStringLiteral("checkmark.circle.fill"), IconTextLine::Tone::success,
                             QStringLiteral("Установлена последняя версия"));
        m_status->show();
    } else {
        m_status->hide();
    }
}
