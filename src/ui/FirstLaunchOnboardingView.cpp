#include "FirstLaunchOnboardingView.h"

#include "GateCard.h"
#include "GateScreenParts.h"
#include "IconSet.h"
#include "OnboardingProgressHeader.h"
#include "ProminentButton.h"
#include "Theme.h"
#include "app/AppState.h"
#include "fans/SystemPermissionsHelper.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {
constexpr int cardWidth = 720;
constexpr int cardHeight = 540;
constexpr int contentWidth = cardWidth - 2 * 36;

QLabel* iconLabel(const QString& symbol, const QColor& tint, int size, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(IconSet::pixmap(symbol, tint, size, 2.0));
    label->setFixedSize(size, size);
    return label;
}

QHBoxLayout* iconRow(const QString& symbol, const QColor& tint, QLabel* text, QWidget* parent)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(Theme::spacing);
    row->addWidget(iconLabel(symbol, tint, 22, parent), 0, Qt::AlignTop);
    row->addWidget(text, 1);
    return row;
}
} // namespace

FirstLaunchOnboardingView::FirstLaunchOnboardingView(const WindowServices& services, QWidget* parent)
    : QWidget(parent)
    , m_services(services)
{
    auto* outer = new QVBoxLayout(this);
    auto* card = new GateCard(this);
    card->setFixedSize(cardWidth, cardHeight);
    outer->addWidget(card, 0, Qt::AlignCenter);

    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(36, 28, 36, 24);
    column->setSpacing(Theme::spacing);

    m_header = new OnboardingProgressHeader(totalSteps, card);
    column->addWidget(m_header);
    column->addSpacing(Theme::spacing);

    m_pages = new QStackedWidget(card);
    m_pages->addWidget(welcomePage());
    m_pages->addWidget(archivePage());
    m_pages->addWidget(permissionsPage());
    column->addWidget(m_pages, 1);

    auto* footer = new QHBoxLayout;
    footer->setSpacing(Theme::spacing);
    m_back = new QPushButton(QStringLiteral("Назад"), card);
    m_back->setMinimumWidth(110);
    footer->addWidget(m_back);
    footer->addStretch(1);
    m_next = new ProminentButton(QStringLiteral("Далее"), card);
    m_next->setMinimumWidth(140);
    footer->addWidget(m_next);
    m_finish = new ProminentButton(QStringLiteral("Начать работу"), card);
    m_finish->setMinimumWidth(160);
    footer->addWidget(m_finish);
    column->addLayout(footer);

    connect(m_back, &QPushButton::clicked, this, [this] { setStep(m_step - 1); });
    connect(m_next, &QPushButton::clicked, this, [this] { setStep(m_step + 1); });
    connect(m_finish, &QPushButton::clicked, this, [this] {
        if (m_services.appState) {
            m_services.appState->completeOnboarding();
        }
    });
    if (m_services.appState) {
        connect(m_services.appState, &AppState::settingsChanged, this, &FirstLaunchOnboardingView::updateArchivePath);
        connect(m_services.appState, &AppState::busyChanged, this, &FirstLaunchOnboardingView::updateEnabled);
    }
    updateArchivePath();
    setStep(0);
}

void FirstLaunchOnboardingView::setStep(int step)
{
    m_step = qBound(0, step, totalSteps - 1);
    if (m_step == totalSteps - 1) {
        updatePermissions();
    }
    m_header->setStep(m_step);
    m_pages->setCurrentIndex(m_step);
    m_next->setVisible(m_step < totalSteps - 1);
    m_finish->setVisible(m_step == totalSteps - 1);
    updateEnabled();
}

void FirstLaunchOnboardingView::updateEnabled()
{
    const bool busy = m_services.appState && m_services.appState->isBusy();
    m_back->setEnabled(m_step > 0);
    m_chooseFolder->setEnabled(!busy);
}

QWidget* FirstLaunchOnboardingView::welcomePage()
{
    const Theme theme = Theme::of(this);
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(Theme::spacing);
    column->addWidget(GateScreenParts::mark(56, page));
    column->addWidget(
        GateScreenParts::text(QStringLiteral("Добро пожаловать в Brisko Vella"), theme.largeTitleFont(), false, page));
    column->addSpacing(Theme::smallSpacing);
    const std::pair<QString, QString> features[] = {
        {QStringLiteral("externaldrive.fill"), QStringLiteral("Очистка и архивация диска")},
        {QStringLiteral("arrow.uturn.backward"), QStringLiteral("Перенос файлов на архивный диск с откатом")},
        {QStringLiteral("fanblades.fill"), QStringLiteral("Мониторинг температуры и boost вентиляторов")},
    };
    for (const auto& [symbol, line] : features) {
        column->addLayout(iconRow(symbol, theme.accent(), GateScreenParts::text(line, theme.headlineFont(), false, page),
                                  page));
    }
    column->addSpacing(Theme::smallSpacing);
    column->addWidget(GateScreenParts::text(
        QStringLiteral("Brisko Vella помогает освободить место на системном диске, не удаляя файлы без вашего "
                       "подтверждения."),
        theme.bodyFont(), true, page));
    column->addStretch(1);
    return page;
}

QWidget* FirstLaunchOnboardingView::archivePage()
{
    const Theme theme = Theme::of(this);
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(Theme::spacing);
    column->addLayout(iconRow(QStringLiteral("externaldrive.fill"), theme.accent(),
                              GateScreenParts::text(QStringLiteral("Архивный диск"), theme.titleFont(), false, page),
                              page));
    column->addWidget(GateScreenParts::text(
        QStringLiteral("Сюда будут переноситься файлы с системного диска. Выберите внешний диск или папку на "
                       "другом томе — так вы реально освободите место."),
        theme.bodyFont(), false, page));
    column->addSpacing(Theme::smallSpacing);

    auto* pathCard = new GateCard(page);
    auto* pathRow = new QHBoxLayout(pathCard);
    pathRow->setContentsMargins(Theme::padding, 10, 10, 10);
    pathRow->setSpacing(Theme::spacing);
    pathRow->addWidget(iconLabel(QStringLiteral("folder.fill"), theme.secondaryText(), 18, pathCard));
    m_archivePath = new QLabel(pathCard);
    m_archivePath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pathRow->addWidget(m_archivePath, 1);
    m_chooseFolder = new QPushButton(QStringLiteral("Выбрать папку…"), pathCard);
    pathRow->addWidget(m_chooseFolder);
    column->addWidget(pathCard);

    column->addWidget(
        GateScreenParts::text(QStringLiteral("Путь можно изменить позже в Настройках."), theme.captionFont(), true, page));
    column->addStretch(1);

    connect(m_chooseFolder, &QPushButton::clicked, this, [this] {
        if (m_services.appState) {
            m_services.appState->pickArchiveFolder();
        }
    });
    return page;
}

QWidget* FirstLaunchOnboardingView::permissionsPage()
{
    const Theme theme = Theme::of(this);
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(Theme::spacing);
    column->addLayout(iconRow(
        QStringLiteral("lock.fill"), theme.accent(),
        GateScreenParts::text(QStringLiteral("Разрешения (рекомендуется)"), theme.titleFont(), false, page), page));

    m_accessGranted = new QWidget(page);
    auto* granted = new QVBoxLayout(m_accessGranted);
    granted->setContentsMargins(0, 0, 0, 0);
    granted->addLayout(iconRow(QStringLiteral("checkmark.circle.fill"), theme.success(),
                               GateScreenParts::text(QStringLiteral("Полный доступ к диску уже включён или не требуется."),
                                                     theme.bodyFont(), false, m_accessGranted),
                               m_accessGranted));
    column->addWidget(m_accessGranted);

    m_accessMissing = new QWidget(page);
    auto* missing = new QVBoxLayout(m_accessMissing);
    missing->setContentsMargins(0, 0, 0, 0);
    missing->setSpacing(Theme::spacing);
    missing->addLayout(iconRow(
        QStringLiteral("exclamationmark.triangle.fill"), theme.warning(),
        GateScreenParts::text(QStringLiteral("Без этого разрешения сканирование кэшей приложений и части папок "
                                             "Library может быть неполным."),
                              theme.bodyFont(), false, m_accessMissing),
        m_accessMissing));
    missing->addWidget(GateScreenParts::text(
        QStringLiteral("Для полного сканирования кэшей и логов приложений включите «Полный доступ к диску» для Brisko "
                       "Vella: Системные настройки → Конфиденциальность и безопасность → Полный доступ к диску → "
                       "включите переключатель для Brisko Vella. После этого перезапустите приложение."),
        theme.bodyFont(), true, m_accessMissing));
    m_openSettings = new QPushButton(QStringLiteral("Открыть настройки «Полный доступ к диску»"), m_accessMissing);
    missing->addWidget(m_openSettings, 0, Qt::AlignLeft);
    column->addWidget(m_accessMissing);
    column->addStretch(1);

    connect(m_openSettings, &QPushButton::clicked, this, [this] {
        if (m_services.workspace) {
            SystemPermissionsHelper::openFullDiskAccessSettings(*m_services.workspace);
        }
    });
    return page;
}

void FirstLaunchOnboardingView::updatePermissions()
{
    const AppState* state = m_services.appState;
    m_needsFullDiskAccess =
        state && SystemPermissionsHelper::needsFullDiskAccess(*state->fileSystem(), state->home());
    m_accessGranted->setVisible(!m_needsFullDiskAccess);
    m_accessMissing->setVisible(m_needsFullDiskAccess);
}

void FirstLaunchOnboardingView::updateArchivePath()
{
    const QString path = m_services.appState ? m_services.appState->settings().archivePath : QString();
    // Long paths keep their beginning and their last folder.
    const int available = contentWidth - 200;
    m_archivePath->setText(m_archivePath->fontMetrics().elidedText(path, Qt::ElideMiddle, available));
    m_archivePath->setToolTip(path);
    m_archivePath->setAccessibleName(path);
}
