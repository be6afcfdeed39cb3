#include "SafeCleanupPanel.h"

#include "Confirmer.h"
#include "Theme.h"
#include "app/AppState.h"
#include "base/ByteCountFormatter.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

SafeCleanupPanel::SafeCleanupPanel(const WindowServices& services, QWidget* parent)
    : PanelCard(QStringLiteral("Безопасная очистка кэшей"), parent)
    , m_services(services)
{
    setObjectName(QStringLiteral("safeCleanupPanel"));
    body()->addWidget(
        makeNote(QStringLiteral("Удаляются только кэши с низким риском (Safari, Chrome, pip и др.). Данные "
                                "приложений не затрагиваются."),
                 this));
    m_find = new QPushButton(QStringLiteral("Найти безопасные кэши"), this);
    m_find->setObjectName(QStringLiteral("findSafeCaches"));
    auto* findRow = new QHBoxLayout;
    findRow->addWidget(m_find);
    findRow->addStretch(1);
    body()->addLayout(findRow);

    m_list = new QWidget(this);
    auto* list = new QVBoxLayout(m_list);
    list->setContentsMargins(0, 0, 0, 0);
    m_rows = new QVBoxLayout;
    m_rows->setSpacing(Theme::smallSpacing);
    list->addLayout(m_rows);
    auto* footer = new QHBoxLayout;
    m_selected = new QLabel(m_list);
    m_selected->setObjectName(QStringLiteral("selectedSafeCleanupSize"));
    footer->addWidget(m_selected);
    footer->addStretch(1);
    m_refresh = new QPushButton(QStringLiteral("Обновить список"), m_list);
    m_refresh->setObjectName(QStringLiteral("refreshSafeCaches"));
    footer->addWidget(m_refresh);
    m_clean = new QPushButton(QStringLiteral("Очистить выбранное"), m_list);
    m_clean->setObjectName(QStringLiteral("cleanSafeCaches"));
    footer->addWidget(m_clean);
    list->addLayout(footer);
    body()->addWidget(m_list);

    const auto find = [this] {
        if (m_services.appState) {
            m_services.appState->scanSafeCleanup();
        }
    };
    connect(m_find, &QPushButton::clicked, this, find);
    connect(m_refresh, &QPushButton::clicked, this, find);
    connect(m_clean, &QPushButton::clicked, this, &SafeCleanupPanel::cleanSelected);
    if (AppState* state = m_services.appState) {
        connect(state, &AppState::safeCleanupCandidatesChanged, this, &SafeCleanupPanel::updateCandidates);
        connect(state, &AppState::busyChanged, this, &SafeCleanupPanel::updateBusy);
    }
    updateCandidates();
}

void SafeCleanupPanel::updateCandidates()
{
    const SafeCleanupCandidateList candidates =
        m_services.appState ? m_services.appState->safeCleanupCandidates() : SafeCleanupCandidateList();
    QList<QWidget*> rows;
    for (int i = 0; i < m_rows->count(); ++i) {
        rows.append(m_rows->itemAt(i)->widget());
    }
    bool sameList = rows.size() == candidates.size();
    for (qsizetype i = 0; sameList && i < rows.size(); ++i) {
        sameList = rows.at(i)->property("candidate").toUuid() == candidates.at(i).id;
    }
    if (sameList) {
        // A tick changed: the row that sent it may be inside its own signal,
        // so rows are updated in place, never rebuilt for a tick.
        for (qsizetype i = 0; i < rows.size(); ++i) {
            auto* box = rows.at(i)->findChild<QCheckBox*>();
            const QSignalBlocker blocker(box);
            box->setChecked(candidates.at(i).isSelected);
        }
    } else {
        for (QWidget* row : std::as_const(rows)) {
            m_rows->removeWidget(row);
            row->hide();
            row->deleteLater();
        }
        for (const SafeCleanupCandidate& candidate : candidates) {
            m_rows->addWidget(makeRow(candidate));
        }
    }
    m_find->setVisible(candidates.isEmpty());
    m_list->setVisible(!candidates.isEmpty());
    updateSelection();
    updateBusy();
}

QWidget* SafeCleanupPanel::makeRow(const SafeCleanupCandidate& candidate)
{
    auto* row = new QWidget(m_list);
    row->setObjectName(QStringLiteral("safeCleanupRow"));
    row->setProperty("candidate", candidate.id);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* box = new QCheckBox(candidate.label, row);
    box->setChecked(candidate.isSelected);
    layout->addWidget(box, 1);
    auto* size = new QLabel(ByteCountFormatter::format(candidate.size), row);
    size->setObjectName(QStringLiteral("size"));
    layout->addWidget(size);
    auto* risk = new QLabel(CacheRisks::title(candidate.risk), row);
    risk->setObjectName(QStringLiteral("risk"));
    risk->setForegroundRole(QPalette::PlaceholderText);
    risk->setMinimumWidth(risk->fontMetrics().horizontalAdvance(QStringLiteral("Осторожно")) + 8);
    risk->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(risk);
    const QUuid id = candidate.id;
    connect(box, &QCheckBox::toggled, this, [this, id](bool on) {
        if (m_services.appState) {
            m_services.appState->toggleSafeCleanupSelection(id, on);
        }
        updateSelection();
    });
    return row;
}

void SafeCleanupPanel::updateSelection()
{
    const qint64 selected = m_services.appState ? m_services.appState->selectedSafeCleanupSize() : 0;
    m_selected->setText(QStringLiteral("Выбрано: ") + ByteCountFormatter::format(selected));
    updateBusy();
}

void SafeCleanupPanel::updateBusy()
{
    AppState* state = m_services.appState;
    const bool busy = !state || state->isBusy();
    m_find->setEnabled(!busy);
    m_refresh->setEnabled(!busy);
    m_clean->setEnabled(!busy && state->selectedSafeCleanupSize() > 0);
    m_list->setEnabled(!busy);
}

void SafeCleanupPanel::cleanSelected()
{
    AppState* state = m_services.appState;
    // The deletion is permanent: never without the question.
    if (!state || !m_services.confirmer) {
        return;
    }
    const qint64 size = state->selectedSafeCleanupSize();
    ConfirmationRequest request;
    request.title = QStringLiteral("Очистить выбранное?");
    request.message = QStringLiteral("Будет удалено ") + ByteCountFormatter::format(size) +
                      QStringLiteral(". Приложения пересоздадут кэши при необходимости.");
    request.confirmText = QStringLiteral("Очистить");
    request.destructive = true;
    QPointer<AppState> target(state);
    const auto run = [target](bool confirmed) {
        if (confirmed && target) {
            target->runSafeCleanup();
        }
    };
    m_services.confirmer->confirm(this, request, run);
}
