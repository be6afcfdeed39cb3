#include "MacHealthDashboardSection.h"

#include "HealthGauge.h"
#include "IconSet.h"
#include "IconTextLine.h"
#include "Theme.h"
#include "WindowHomeLayout.h"
#include "app/AppState.h"
#include "base/ByteCountFormatter.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <cmath>

namespace {
// A caption over a bold value; returns the value label.
QLabel* figure(QBoxLayout* row, const QString& caption, const QString& name, QWidget* parent)
{
    auto* box = new QVBoxLayout;
    box->setSpacing(2);
    auto* title = new QLabel(caption, parent);
    title->setForegroundRole(QPalette::PlaceholderText);
    title->setFont(Theme(parent->palette()).captionFont());
    box->addWidget(title);
    auto* value = new QLabel(parent);
    value->setObjectName(name);
    value->setFont(Theme(parent->palette()).headlineFont());
    box->addWidget(value);
    row->addLayout(box);
    return value;
}

void clearLayout(QLayout* layout)
{
    while (QLayoutItem* item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
}
} // namespace

MacHealthDashboardSection::MacHealthDashboardSection(const WindowServices& services, QWidget* parent)
    : PanelCard(windowHomeLayout(services.appState).texts().healthTitle, parent)
    , m_services(services)
{
    setObjectName(QStringLiteral("healthSection"));
    const Theme theme(palette());

    m_intro = new QWidget(this);
    auto* intro = new QVBoxLayout(m_intro);
    intro->setContentsMargins(0, 0, 0, 0);
    intro->addWidget(makeNote(QStringLiteral("Запустите общее быстрое сканирование — оценка здоровья, объём мусора и "
                                             "подсказки по очистке."),
                              m_intro));
    m_scan = new QPushButton(QStringLiteral("Общее быстрое сканирование"), m_intro);
    m_scan->setObjectName(QStringLiteral("quickHealthScan"));
    m_scan->setIcon(IconSet::icon(QStringLiteral("waveform.path.ecg"), theme.accent(), theme.secondaryText()));
    auto* scanRow = new QHBoxLayout;
    scanRow->addWidget(m_scan);
    scanRow->addStretch(1);
    intro->addLayout(scanRow);
    body()->addWidget(m_intro);

    m_progressRow = new QWidget(this);
    auto* progress = new QHBoxLayout(m_progressRow);
    progress->setContentsMargins(0, 0, 0, 0);
    m_progressText = new QLabel(m_progressRow);
    progress->addWidget(m_progressText);
    m_progress = new QProgressBar(m_progressRow);
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_progress->setMaximumHeight(8);
    progress->addWidget(m_progress, 1);
    body()->addWidget(m_progressRow);

    m_result = new QWidget(this);
    auto* result = new QVBoxLayout(m_result);
    result->setContentsMargins(0, 0, 0, 0);
    result->setSpacing(Theme::spacing);
    auto* top = new QHBoxLayout;
    top->setSpacing(Theme::padding * 2);
    m_gauge = new HealthGauge(m_result);
    top->addWidget(m_gauge, 0, Qt::AlignTop);
    auto* right = new QVBoxLayout;
    right->setSpacing(Theme::spacing);
    right->addWidget(buildFigures());
    m_tips = new QVBoxLayout;
    m_tips->setSpacing(Theme::smallSpacing);
    right->addLayout(m_tips);
    auto* buttons = new QHBoxLayout;
    m_results = new QPushButton(QStringLiteral("Результаты →"), m_result);
    m_results->setObjectName(QStringLiteral("healthResults"));
    m_results->setFlat(true);
    QPalette link = m_results->palette();
    link.setColor(QPalette::ButtonText, link.color(QPalette::Link));
    m_results->setPalette(link);
    buttons->addWidget(m_results);
    m_rescan = new QPushButton(QStringLiteral("Повторить скан"), m_result);
    m_rescan->setObjectName(QStringLiteral("repeatHealthScan"));
    m_rescan->setIcon(IconSet::icon(QStringLiteral("arrow.clockwise"), theme.accent(), theme.secondaryText()));
    buttons->addWidget(m_rescan);
    buttons->addStretch(1);
    right->addLayout(buttons);
    right->addStretch(1);
    top->addLayout(right, 1);
    result->addLayout(top);
    m_facts = new QGridLayout;
    m_facts->setHorizontalSpacing(Theme::padding);
    m_facts->setVerticalSpacing(Theme::smallSpacing);
    result->addLayout(m_facts);
    body()->addWidget(m_result);

    connect(m_scan, &QPushButton::clicked, this, &MacHealthDashboardSection::startScan);
    connect(m_rescan, &QPushButton::clicked, this, &MacHealthDashboardSection::startScan);
    connect(m_results, &QPushButton::clicked, this, &MacHealthDashboardSection::showResultsRequested);
    if (AppState* state = m_services.appState) {
        connect(state, &AppState::healthSnapshotChanged, this, &MacHealthDashboardSection::update);
        connect(state, &AppState::healthScanProgressChanged, this, &MacHealthDashboardSection::update);
        connect(state, &AppState::busyChanged, this, &MacHealthDashboardSection::updateBusy);
    }
    update();
    updateBusy();
}

QWidget* MacHealthDashboardSection::buildFigures()
{
    auto* figures = new QWidget(m_result);
    auto* row = new QHBoxLayout(figures);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(Theme::padding * 2);
    m_reclaimable = figure(row, QStringLiteral("Можно освободить"), QStringLiteral("reclaimable"), figures);
    m_diskUsed = figure(row, QStringLiteral("Диск занят"), QStringLiteral("diskUsed"), figures);
    m_found = figure(row, QStringLiteral("Найдено"), QStringLiteral("found"), figures);
    row->addStretch(1);
    m_scannedAt = new QLabel(figures);
    m_scannedAt->setObjectName(QStringLiteral("scannedAt"));
    m_scannedAt->setForegroundRole(QPalette::PlaceholderText);
    row->addWidget(m_scannedAt, 0, Qt::AlignBottom);
    return figures;
}

void MacHealthDashboardSection::startScan()
{
    if (m_services.appState) {
        m_services.appState->runQuickHealthScan();
    }
}

namespace {
// The machine facts keep "unknown" where a fact could not be read (it is
// also what the error reports send); the Russian window says so in Russian.
QString russianFact(QString fact)
{
    static const QRegularExpression unknown(QStringLiteral("\\bunknown\\b"));
    return fact.replace(unknown, QStringLiteral("не определено"));
}
} // namespace

void MacHealthDashboardSection::update()
{
    AppState* state = m_services.appState;
    const std::optional<MacHealthSnapshot> snapshot = state ? state->healthSnapshot() : std::nullopt;
    const ScanProgress progress = state ? state->healthScanProgress() : ScanProgress();

    m_progressRow->setVisible(progress.isRunning);
    m_progressText->setText(progress.currentTask);
    m_progress->setValue(int(std::lround(std::clamp(progress.progress, 0.0, 1.0) * 1000)));
    m_intro->setVisible(!snapshot && !progress.isRunning);
    m_result->setVisible(snapshot.has_value());
    if (!snapshot) {
        return;
    }

    m_gauge->setScore(snapshot->healthPercent);
    m_reclaimable->setText(ByteCountFormatter::format(snapshot->reclaimableBytes));
    m_diskUsed->setText(snapshot->diskUsedPercent
                            ? QString::number(std::lround(*snapshot->diskUsedPercent * 100)) + QStringLiteral("%")
                            : QStringLiteral("—"));
    m_found->setText(QString::number(snapshot->itemCount));
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    m_scannedAt->setText(QStringLiteral("Скан: ") +
                         russian.toString(snapshot->scannedAt.toLocalTime().time(), QLocale::ShortFormat));

    clearLayout(m_tips);
    for (const QString& tip : snapshot->tips) {
        auto* line = new IconTextLine(m_result);
        line->setObjectName(QStringLiteral("healthTip"));
        line->setContent(QStringLiteral("lightbulb.fill"), IconTextLine::Tone::warning, tip);
        m_tips->addWidget(line);
    }

    clearLayout(m_facts);
    const MacHardwareInfo& hw = snapshot->hardware;
    const QList<std::pair<QString, QString>> facts = {
        {QStringLiteral("Модель"), russianFact(hw.marketingName)},
        {QStringLiteral("Идентификатор"), russianFact(hw.modelIdentifier)},
        {QStringLiteral("Процессор"), russianFact(hw.chipName)},
        {QStringLiteral("Память"), QString::number(hw.memoryGB) + QStringLiteral("\u00a0ГБ")},
        {QStringLiteral("Система"), russianFact(hw.osVersion)},
        {QStringLiteral("Тип"), hw.isNotebook ? QStringLiteral("Ноутбук") : QStringLiteral("Настольный")},
    };
    constexpr int columns = 3;
    for (int i = 0; i < facts.size(); ++i) {
        auto* key = new QLabel(facts.at(i).first, m_result);
        key->setForegroundRole(QPalette::PlaceholderText);
        key->setFont(Theme(palette()).captionFont());
        auto* value = new QLabel(facts.at(i).second, m_result);
        value->setObjectName(QStringLiteral("fact"));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setWordWrap(true);
        const int row = (i / columns) * 2;
        m_facts->addWidget(key, row, i % columns);
        m_facts->addWidget(value, row + 1, i % columns);
    }
    for (int c = 0; c < columns; ++c) {
        m_facts->setColumnStretch(c, 1);
    }
}

void MacHealthDashboardSection::updateBusy()
{
    const bool busy = m_services.appState && m_services.appState->isBusy();
    m_scan->setEnabled(!busy);
    m_rescan->setEnabled(!busy);
}
