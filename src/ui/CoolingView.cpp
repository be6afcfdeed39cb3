#include "CoolingView.h"

#include "IconSet.h"
#include "IconTextLine.h"
#include "PanelCard.h"
#include "ScrollingPage.h"
#include "Theme.h"
#include "app/AppState.h"
#include "base/TemperatureText.h"
#include "fans/FanControlService.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace {
constexpr int cardColumns = 4;

QString percentText(int percent)
{
    return QString::number(percent) + QStringLiteral("\u00a0% от максимума");
}

QString rpmText(std::optional<int> rpm)
{
    return rpm ? QString::number(*rpm) : QStringLiteral("—");
}

// A small card: a caption on top, a large value, an optional detail line.
PanelCard* readingCard(QWidget* parent, const QString& symbol)
{
    auto* card = new PanelCard(QString(), parent);
    card->body()->setSpacing(2);
    auto* top = new QHBoxLayout;
    top->setSpacing(Theme::smallSpacing);
    if (!symbol.isEmpty()) {
        auto* icon = new QLabel(card);
        icon->setObjectName(QStringLiteral("icon"));
        icon->setPixmap(IconSet::pixmap(symbol, Theme(card->palette()).accent(), 16, card->devicePixelRatioF()));
        top->addWidget(icon);
    }
    auto* caption = new QLabel(card);
    caption->setObjectName(QStringLiteral("caption"));
    caption->setForegroundRole(QPalette::PlaceholderText);
    top->addWidget(caption, 1);
    card->body()->addLayout(top);
    auto* value = new QLabel(card);
    value->setObjectName(QStringLiteral("value"));
    value->setFont(Theme(card->palette()).titleFont());
    card->body()->addWidget(value);
    auto* detail = new QLabel(card);
    detail->setObjectName(QStringLiteral("detail"));
    detail->setFont(Theme(card->palette()).captionFont());
    detail->setForegroundRole(QPalette::PlaceholderText);
    detail->setWordWrap(true);
    card->body()->addWidget(detail);
    return card;
}

void setCard(PanelCard* card, const QString& caption, const QString& value, const QString& detail)
{
    card->findChild<QLabel*>(QStringLiteral("caption"))->setText(caption);
    card->findChild<QLabel*>(QStringLiteral("value"))->setText(value);
    auto* detailLabel = card->findChild<QLabel*>(QStringLiteral("detail"));
    detailLabel->setText(detail);
    detailLabel->setVisible(!detail.isEmpty());
}

// Keeps exactly count cards in the grid, making or removing them as needed.
void resizeCards(QList<PanelCard*>& cards, QGridLayout* grid, qsizetype count, QWidget* parent, const QString& symbol)
{
    while (cards.size() > count) {
        delete cards.takeLast();
    }
    while (cards.size() < count) {
        PanelCard* card = readingCard(parent, symbol);
        const int index = int(cards.size());
        grid->addWidget(card, index / cardColumns, index % cardColumns);
        cards.append(card);
    }
}

QLabel* sectionHeading(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(Theme(parent->palette()).headlineFont());
    return label;
}
} // namespace

CoolingView::CoolingView(const WindowServices& services, QWidget* parent)
    : QWidget(parent)
    , m_services(services)
{
    QVBoxLayout* column = ScrollingPage::install(this, QStringLiteral("Управление вентиляторами"));
    QWidget* content = column->parentWidget();
    column->addWidget(PanelCard::makeNote(QStringLiteral("Температура и обороты вентиляторов через Apple SMC. Boost — "
                                                         "при необходимости ускорить кулеры."),
                                          content));

    auto* bannerCard = new PanelCard(QString(), content);
    m_banner = new IconTextLine(bannerCard);
    m_banner->setObjectName(QStringLiteral("coolingStatus"));
    bannerCard->body()->addWidget(m_banner);
    m_alert = new IconTextLine(bannerCard);
    m_alert->setObjectName(QStringLiteral("coolingAlert"));
    bannerCard->body()->addWidget(m_alert);
    column->addWidget(bannerCard);

    // Temperatures
    auto* tempHeader = new QHBoxLayout;
    tempHeader->addWidget(sectionHeading(QStringLiteral("Температура"), content));
    tempHeader->addStretch(1);
    m_maxTemperature = new QLabel(content);
    m_maxTemperature->setObjectName(QStringLiteral("maxTemperature"));
    m_maxTemperature->setForegroundRole(QPalette::PlaceholderText);
    tempHeader->addWidget(m_maxTemperature);
    column->addLayout(tempHeader);
    m_noSensors = PanelCard::makeNote(noSensorsText, content);
    m_noSensors->setObjectName(QStringLiteral("noSensors"));
    column->addWidget(m_noSensors);
    m_temperatureGrid = new QGridLayout;
    m_temperatureGrid->setSpacing(Theme::spacing);
    column->addLayout(m_temperatureGrid);

    // Fans
    column->addWidget(sectionHeading(QStringLiteral("Вентиляторы"), content));
    m_noFans = PanelCard::makeNote(noFansText, content);
    m_noFans->setObjectName(QStringLiteral("noFans"));
    column->addWidget(m_noFans);
    m_fanGrid = new QGridLayout;
    m_fanGrid->setSpacing(Theme::spacing);
    column->addLayout(m_fanGrid);
    for (int c = 0; c < cardColumns; ++c) {
        m_temperatureGrid->setColumnStretch(c, 1);
        m_fanGrid->setColumnStretch(c, 1);
    }

    // Control
    auto* control = new PanelCard(QStringLiteral("Управление"), content);
    column->addWidget(control);
    m_lock = new QWidget(control);
    m_lock->setObjectName(QStringLiteral("monitoringOnly"));
    auto* lockRow = new QHBoxLayout(m_lock);
    lockRow->setContentsMargins(0, 0, 0, 0);
    auto* lockIcon = new QLabel(m_lock);
    lockIcon->setPixmap(
        IconSet::pixmap(QStringLiteral("lock.fill"), Theme(palette()).secondaryText(), 18, devicePixelRatioF()));
    lockIcon->setAccessibleName(QStringLiteral("Заблокировано"));
    lockRow->addWidget(lockIcon);
    lockRow->addWidget(new QLabel(monitoringOnlyText, m_lock), 1);
    control->body()->addWidget(m_lock);

    m_controls = new QWidget(control);
    auto* controls = new QVBoxLayout(m_controls);
    controls->setContentsMargins(0, 0, 0, 0);
    controls->setSpacing(Theme::spacing);
    auto* modeForm = new QFormLayout;
    modeForm->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    m_mode = new QComboBox(m_controls);
    m_mode->setObjectName(QStringLiteral("fanControlMode"));
    m_mode->addItem(QStringLiteral("Система (авто)"), int(FanControlMode::system));
    m_mode->addItem(QStringLiteral("Ручной boost"), int(FanControlMode::manual));
    m_mode->addItem(QStringLiteral("Auto при перегреве"), int(FanControlMode::autoBoost));
    m_mode->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    modeForm->addRow(QStringLiteral("Режим"), m_mode);
    controls->addLayout(modeForm);

    m_manualForm = new QWidget(m_controls);
    auto* manual = new QFormLayout(m_manualForm);
    manual->setContentsMargins(0, 0, 0, 0);
    auto* manualRow = new QHBoxLayout;
    m_manualSlider = makeSlider(QStringLiteral("fanManualBoostPercent"), 0, 100);
    m_manualSlider->setAccessibleName(QStringLiteral("Скорость"));
    manualRow->addWidget(m_manualSlider, 1);
    m_manualValue = new QLabel(m_manualForm);
    m_manualValue->setMinimumWidth(fontMetrics().horizontalAdvance(percentText(100)) + 4);
    manualRow->addWidget(m_manualValue);
    manual->addRow(QStringLiteral("Скорость"), manualRow);
    manual->addRow(PanelCard::makeNote(QStringLiteral("Изменения применяются автоматически."), m_manualForm));
    controls->addWidget(m_manualForm);

    m_autoForm = new QWidget(m_controls);
    auto* automatic = new QFormLayout(m_autoForm);
    automatic->setContentsMargins(0, 0, 0, 0);
    auto* thresholdRow = new QHBoxLayout;
    m_thresholdSlider = makeSlider(QStringLiteral("fanAutoBoostTempC"), 50, 95);
    m_thresholdSlider->setAccessibleName(QStringLiteral("Порог температуры (°C)"));
    thresholdRow->addWidget(m_thresholdSlider, 1);
    m_thresholdValue = new QLabel(m_autoForm);
    m_thresholdValue->setMinimumWidth(fontMetrics().horizontalAdvance(percentText(100)) + 4);
    thresholdRow->addWidget(m_thresholdValue);
    automatic->addRow(QStringLiteral("Порог температуры (°C)"), thresholdRow);
    auto* targetRow = new QHBoxLayout;
    m_targetSlider = makeSlider(QStringLiteral("fanAutoBoostTargetPercent"), 50, 100);
    m_targetSlider->setAccessibleName(QStringLiteral("Скорость при перегреве"));
    targetRow->addWidget(m_targetSlider, 1);
    m_targetValue = new QLabel(m_autoForm);
    m_targetValue->setMinimumWidth(fontMetrics().horizontalAdvance(percentText(100)) + 4);
    targetRow->addWidget(m_targetValue);
    automatic->addRow(QStringLiteral("Скорость при перегреве"), targetRow);
    automatic->addRow(PanelCard::makeNote(
        QStringLiteral("При температуре ≥ порога вентиляторы ускоряются автоматически."), m_autoForm));
    controls->addWidget(m_autoForm);

    auto* releaseRow = new QHBoxLayout;
    m_release = new QPushButton(QStringLiteral("Вернуть системное управление"), m_controls);
    m_release->setObjectName(QStringLiteral("releaseToSystem"));
    releaseRow->addWidget(m_release);
    m_adminPending = new QLabel(adminPendingText, m_controls);
    m_adminPending->setObjectName(QStringLiteral("adminPending"));
    m_adminPending->setForegroundRole(QPalette::PlaceholderText);
    releaseRow->addWidget(m_adminPending);
    releaseRow->addStretch(1);
    controls->addLayout(releaseRow);
    control->body()->addWidget(m_controls);

    column->addWidget(PanelCard::makeNote(
        QStringLiteral("Brisko не заменяет систему охлаждения macOS. Boost запускает встроенный помощник с правами "
                       "администратора — Terminal не открывается. Вернуть обороты macOS — кнопкой «Вернуть системное "
                       "управление» или режимом «Система (авто)»."),
        content));
    column->addStretch(1);

    connect(m_mode, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_refreshing) {
            chooseMode(FanControlMode(m_mode->currentData().toInt()));
        }
    });
    connect(m_manualSlider, &QSlider::valueChanged, this, &CoolingView::onManualSlider);
    connect(m_thresholdSlider, &QSlider::valueChanged, this, &CoolingView::onThresholdSlider);
    connect(m_targetSlider, &QSlider::valueChanged, this, &CoolingView::onTargetSlider);
    connect(m_release, &QPushButton::clicked, this, &CoolingView::returnToSystem);

    if (FanControlService* fans = m_services.fans) {
        connect(fans, &FanControlService::snapshotChanged, this, &CoolingView::updateSnapshot);
        connect(fans, &FanControlService::lastErrorChanged, this, &CoolingView::updateBanner);
        connect(fans, &FanControlService::adminAlertMessageChanged, this, &CoolingView::updateBanner);
        connect(fans, &FanControlService::isRequestingAdminChanged, this, &CoolingView::updateAdminState);
        connect(fans, &FanControlService::modeChanged, this, &CoolingView::updateControls);
        connect(fans, &FanControlService::manualBoostPercentChanged, this, &CoolingView::updateControls);
        connect(fans, &FanControlService::autoBoostThresholdCChanged, this, &CoolingView::updateControls);
        connect(fans, &FanControlService::autoBoostTargetPercentChanged, this, &CoolingView::updateControls);
    }
    updateSnapshot();
    updateControls();
    updateAdminState();
}

QSlider* CoolingView::makeSlider(const QString& name, int minimum, int maximum)
{
    auto* slider = new QSlider(Qt::Horizontal, this);
    slider->setObjectName(name);
    slider->setRange(minimum, maximum);
    slider->setSingleStep(sliderStep);
    slider->setPageStep(sliderStep * 2);
    slider->setTickInterval(sliderStep);
    slider->setMinimumWidth(260);
    return slider;
}

int CoolingView::snapToStep(int value)
{
    return int(std::lround(value / double(sliderStep))) * sliderStep;
}

void CoolingView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_services.fans && m_services.appState) {
        m_services.fans->start(m_services.appState->settings());
    }
}

void CoolingView::hideEvent(QHideEvent* event)
{
    if (m_services.fans) {
        persistSettings();
        m_services.fans->pausePolling();
    }
    QWidget::hideEvent(event);
}

void CoolingView::persistSettings()
{
    AppState* state = m_services.appState;
    FanControlService* fans = m_services.fans;
    if (!state || !fans) {
        return;
    }
    AppSettings settings = state->settings();
    fans->syncSettings(settings);
    if (m_pendingMode) {
        settings.fanControlMode = *m_pendingMode;
    }
    state->setSettings(settings);
    state->saveSettings();
}

void CoolingView::chooseMode(FanControlMode mode)
{
    FanControlService* fans = m_services.fans;
    if (!fans) {
        return;
    }
    switch (mode) {
    case FanControlMode::system:
        m_pendingMode.reset();
        returnToSystem();
        return;
    case FanControlMode::manual:
        m_pendingMode.reset();
        fans->setMode(FanControlMode::manual);
        fans->applyManualBoost();
        persistSettings();
        return;
    case FanControlMode::autoBoost:
        break;
    }
    if (!fans->manualOverrideActive()) {
        m_pendingMode.reset();
        fans->setMode(FanControlMode::autoBoost);
        fans->applyAutoBoostIfNeeded();
        persistSettings();
        return;
    }
    m_pendingMode = FanControlMode::autoBoost;
    persistSettings();
    QPointer<CoolingView> self(this);
    fans->releaseToSystem().then(this, [self] {
        if (!self || self->m_pendingMode != FanControlMode::autoBoost) {
            // Another choice came in while the fans were handed back.
            return;
        }
        self->m_pendingMode.reset();
        if (FanControlService* service = self->m_services.fans) {
            service->setMode(FanControlMode::autoBoost);
            service->applyAutoBoostIfNeeded();
        }
        self->persistSettings();
        self->updateControls();
    });
}

void CoolingView::returnToSystem()
{
    if (!m_services.fans) {
        return;
    }
    m_pendingMode.reset();
    m_services.fans->releaseToSystem();
    persistSettings();
    updateControls();
}

void CoolingView::onManualSlider(int value)
{
    if (m_refreshing || !m_services.fans) {
        return;
    }
    const int snapped = snapToStep(value);
    if (snapped != value) {
        m_manualSlider->setValue(snapped);
        return;
    }
    m_services.fans->setManualBoostPercent(snapped);
    m_services.fans->scheduleManualBoost();
    persistSettings();
}

void CoolingView::onThresholdSlider(int value)
{
    if (m_refreshing || !m_services.fans) {
        return;
    }
    const int snapped = snapToStep(value);
    if (snapped != value) {
        m_thresholdSlider->setValue(snapped);
        return;
    }
    m_services.fans->setAutoBoostThresholdC(snapped);
    m_services.fans->applyAutoBoostIfNeeded();
    persistSettings();
}

void CoolingView::onTargetSlider(int value)
{
    if (m_refreshing || !m_services.fans) {
        return;
    }
    const int snapped = snapToStep(value);
    if (snapped != value) {
        m_targetSlider->setValue(snapped);
        return;
    }
    m_services.fans->setAutoBoostTargetPercent(snapped);
    m_services.fans->applyAutoBoostIfNeeded();
    persistSettings();
}

void CoolingView::updateSnapshot()
{
    const CoolingSnapshot snapshot = m_services.fans ? m_services.fans->snapshot() : CoolingSnapshot::loading();
    const bool loading = snapshot == CoolingSnapshot::loading();

    resizeCards(m_temperatureCards, m_temperatureGrid, snapshot.temperatures.size(), this, QString());
    for (qsizetype i = 0; i < snapshot.temperatures.size(); ++i) {
        const TemperatureReading& reading = snapshot.temperatures.at(i);
        setCard(m_temperatureCards.at(i), reading.label, TemperatureText::celsius(reading.celsius, 1), reading.id);
    }
    m_maxTemperature->setText(snapshot.maxTemperature ? QStringLiteral("макс. ") + TemperatureText::celsius(*snapshot.maxTemperature, 0)
                                                      : QString());
    m_noSensors->setVisible(!loading && snapshot.temperatures.isEmpty());

    resizeCards(m_fanCards, m_fanGrid, snapshot.fans.size(), this, QStringLiteral("fanblades.fill"));
    for (qsizetype i = 0; i < snapshot.fans.size(); ++i) {
        const FanStatus& fan = snapshot.fans.at(i);
        setCard(m_fanCards.at(i), fan.name, QString::number(fan.currentRPM) + QStringLiteral(" RPM"),
                QStringLiteral("мин. ") + rpmText(fan.minimumRPM) + QStringLiteral(" · цель ") + rpmText(fan.targetRPM)
                    + QStringLiteral(" · макс. ") + rpmText(fan.maximumRPM));
    }
    m_noFans->setVisible(!loading && snapshot.fans.isEmpty());

    // Controls only where the fans can be driven; during the first reading
    // they are shown but inactive.
    const bool monitoringOnly = !loading && !snapshot.isControllable;
    m_lock->setVisible(monitoringOnly);
    m_controls->setVisible(!monitoringOnly);
    m_controls->setEnabled(snapshot.isControllable);
    updateBanner();
}

void CoolingView::updateBanner()
{
    FanControlService* fans = m_services.fans;
    const CoolingSnapshot snapshot = fans ? fans->snapshot() : CoolingSnapshot::loading();
    if (fans && fans->lastError()) {
        m_banner->setContent(QStringLiteral("exclamationmark.triangle.fill"), IconTextLine::Tone::warning,
                             *fans->lastError());
        m_banner->show();
    } else if (snapshot.note) {
        m_banner->setContent(QStringLiteral("info.circle.fill"), IconTextLine::Tone::accent, *snapshot.note);
        m_banner->show();
    } else {
        m_banner->hide();
    }
    const std::optional<QString> alert = fans ? fans->adminAlertMessage() : std::nullopt;
    m_alert->setContent(QStringLiteral("exclamationmark.triangle.fill"), IconTextLine::Tone::danger,
                        alert.value_or(QString()));
    m_alert->setVisible(alert.has_value());
    m_banner->parentWidget()->setVisible(m_banner->isVisibleTo(m_banner->parentWidget()) ||
                                         m_alert->isVisibleTo(m_alert->parentWidget()));
}

void CoolingView::updateControls()
{
    FanControlService* fans = m_services.fans;
    if (!fans) {
        return;
    }
    m_refreshing = true;
    const FanControlMode mode = m_pendingMode.value_or(fans->mode());
    m_mode->setCurrentIndex(m_mode->findData(int(mode)));
    m_manualSlider->setValue(int(std::lround(fans->manualBoostPercent())));
    m_thresholdSlider->setValue(int(std::lround(fans->autoBoostThresholdC())));
    m_targetSlider->setValue(int(std::lround(fans->autoBoostTargetPercent())));
    m_refreshing = false;
    m_manualValue->setText(percentText(int(std::lround(fans->manualBoostPercent()))));
    m_thresholdValue->setText(TemperatureText::celsius(double(std::lround(fans->autoBoostThresholdC())), 0));
    m_targetValue->setText(percentText(int(std::lround(fans->autoBoostTargetPercent()))));
    m_manualForm->setVisible(mode == FanControlMode::manual);
    m_autoForm->setVisible(mode == FanControlMode::autoBoost);
}

void CoolingView::updateAdminState()
{
    const bool requesting = m_services.fans && m_services.fans->isRequestingAdmin();
    m_adminPending->setVisible(requesting);
    m_release->setEnabled(!requesting);
}
