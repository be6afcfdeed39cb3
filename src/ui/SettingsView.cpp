#include "SettingsView.h"

#include "AboutBlock.h"
#include "FeedbackSheet.h"
#include "IconSet.h"
#include "IconTextLine.h"
#include "PanelCard.h"
#include "ScrollingPage.h"
#include "SettingsNumberField.h"
#include "Theme.h"
#include "UpdatesGroup.h"
#include "app/AppState.h"
#include "platform/Workspace.h"
#include "scan/AppVideoTypes.h"
#include "scan/DiskScanner.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {
QFormLayout* makeForm()
{
    auto* form = new QFormLayout;
    form->setContentsMargins(0, 0, 0, 0);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    form->setFormAlignment(Qt::AlignLeft | Qt::AlignTop);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->setHorizontalSpacing(Theme::spacing + 4);
    form->setVerticalSpacing(Theme::smallSpacing + 2);
    return form;
}

// Field labels share one width so that the fields of all groups line up.
constexpr int labelWidth = 210;

void addRow(QFormLayout* form, const QString& text, QWidget* field)
{
    auto* label = new QLabel(text, field->parentWidget());
    label->setMinimumWidth(labelWidth);
    label->setBuddy(field);
    form->addRow(label, field);
}

void addRow(QFormLayout* form, const QString& text, QLayout* field, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setMinimumWidth(labelWidth);
    form->addRow(label, field);
}

// A note indented under the control it explains.
QLabel* indentedNote(const QString& text, QWidget* parent)
{
    QLabel* note = PanelCard::makeNote(text, parent);
    note->setContentsMargins(24, 0, 0, 0);
    return note;
}
} // namespace

SettingsView::SettingsView(const WindowServices& services, QWidget* parent)
    : QWidget(parent)
    , m_services(services)
{
    QVBoxLayout* column = ScrollingPage::install(this, QStringLiteral("Настройки"));
    m_groups = new QVBoxLayout;
    m_groups->setSpacing(Theme::spacing + 4);
    column->addLayout(m_groups);
    column->addStretch(1);

    buildPerformance();
    buildArchiveDisk();
    buildArchiveCandidates();
    buildInstallers();
    buildVideoSearch();
    buildThresholds();
    buildStatistics();
    buildUpdates();
    buildSupport();
    buildAbout();

    if (AppState* state = m_services.appState) {
        connect(state, &AppState::settingsChanged, this, &SettingsView::refreshFromSettings);
        connect(state, &AppState::busyChanged, this, &SettingsView::updateBusy);
    }
    refreshFromSettings();
    updateBusy();
}

PanelCard* SettingsView::addGroup(const QString& title)
{
    auto* card = new PanelCard(title, this);
    m_groups->addWidget(card);
    return card;
}

QCheckBox* SettingsView::toggle(const QString& field, const QString& text,
                                const std::function<void(AppSettings&, bool)>& set)
{
    auto* box = new QCheckBox(text, this);
    box->setObjectName(field);
    connect(box, &QCheckBox::toggled, this, [this, set](bool on) {
        if (!m_refreshing) {
            edit([&](AppSettings& s) { set(s, on); });
        }
    });
    return box;
}

SettingsNumberField* SettingsView::numberField(const QString& field, bool days,
                                               const std::function<void(AppSettings&, double)>& set,
                                               const std::function<void(AppSettings&, qint64)>& setDays)
{
    auto* number
        = new SettingsNumberField(days ? SettingsNumberField::Kind::days : SettingsNumberField::Kind::threshold, this);
    number->setObjectName(field);
    number->lineEdit()->setObjectName(field + QStringLiteral("Edit"));
    if (days) {
        connect(number, &SettingsNumberField::daysEdited, this,
                [this, setDays](qint64 value) { edit([&](AppSettings& s) { setDays(s, value); }); });
    } else {
        connect(number, &SettingsNumberField::valueEdited, this,
                [this, set](double value) { edit([&](AppSettings& s) { set(s, value); }); });
    }
    return number;
}

void SettingsView::buildPerformance()
{
    PanelCard* card = addGroup(QStringLiteral("Производительность"));
    m_busyGuarded.append(card);
    m_lowPower = toggle(QStringLiteral("lowPowerMode"), QStringLiteral("Режим экономии ресурсов"),
                        [](AppSettings& s, bool on) { s.lowPowerMode = on; });
    card->body()->addWidget(m_lowPower);
    card->body()->addWidget(
        indentedNote(QStringLiteral("Меньше нагрузка на диск и CPU — рекомендуется для старых iMac с HDD."), card));
}

void SettingsView::buildArchiveDisk()
{
    PanelCard* card = addGroup(QStringLiteral("Архивный диск"));
    m_busyGuarded.append(card);
    auto* form = makeForm();
    auto* row = new QHBoxLayout;
    row->setSpacing(Theme::smallSpacing);
    m_archivePath = new QLineEdit(card);
    m_archivePath->setObjectName(QStringLiteral("archivePath"));
    m_archivePath->setAccessibleName(QStringLiteral("Путь к архиву"));
    row->addWidget(m_archivePath, 1);
    auto* browse = new QPushButton(QStringLiteral("Обзор…"), card);
    browse->setObjectName(QStringLiteral("pickArchiveFolder"));
    row->addWidget(browse);
    addRow(form, QStringLiteral("Путь к архиву"), row, card);
    card->body()->addLayout(form);
    m_archiveStatus = new IconTextLine(card);
    m_archiveStatus->setObjectName(QStringLiteral("archiveStatus"));
    card->body()->addWidget(m_archiveStatus);

    connect(m_archivePath, &QLineEdit::textEdited, this, [this](const QString& text) {
        const std::optional<QString> path =
            m_services.appState ? AppSettings::archivePathFrom(text, m_services.appState->home().toString()) : std::nullopt;
        if (!path) {
            // The record keeps the last absolute path until the text is one.
            m_archiveStatus->setContent(QStringLiteral("exclamationmark.triangle.fill"), IconTextLine::Tone::warning,
                                        AppSettings::relativeArchivePathMessage);
            return;
        }
        edit([&](AppSettings& s) { s.archivePath = *path; });
    });
    connect(browse, &QPushButton::clicked, this, [this] {
        if (m_services.appState) {
            m_services.appState->pickArchiveFolder();
        }
    });
}

void SettingsView::buildArchiveCandidates()
{
    PanelCard* card = addGroup(QStringLiteral("Кандидаты на архив"));
    m_busyGuarded.append(card);
    auto* form = makeForm();
    m_candidateMinGB = numberField(QStringLiteral("archiveCandidateMinGB"), false,
                                   [](AppSettings& s, double v) { s.archiveCandidateMinGB = v; });
    addRow(form, QStringLiteral("Мин. размер папки (ГБ)"), m_candidateMinGB);
    m_candidateMinDays = numberField(QStringLiteral("archiveCandidateMinDays"), true, {},
                                     [](AppSettings& s, qint64 v) { s.archiveCandidateMinDays = v; });
    addRow(form, QStringLiteral("Не изменялась (дней)"), m_candidateMinDays);
    card->body()->addLayout(form);
    auto* keywords = PanelCard::makeNote(QStringLiteral("Также находит папки с ключевыми словами: ") +
                                             DiskScanner::archiveCandidateKeywords().join(QStringLiteral(", ")),
                                         card);
    keywords->setObjectName(QStringLiteral("archiveKeywords"));
    card->body()->addWidget(keywords);
}

void SettingsView::buildInstallers()
{
    PanelCard* card = addGroup(QStringLiteral("Установщики"));
    m_busyGuarded.append(card);
    auto* form = makeForm();
    m_installerDays = numberField(QStringLiteral("installerMaxAgeDays"), true, {},
                                  [](AppSettings& s, qint64 v) { s.installerMaxAgeDays = v; });
    addRow(form, QStringLiteral("Старше (дней)"), m_installerDays);
    card->body()->addLayout(form);
}

void SettingsView::buildVideoSearch()
{
    PanelCard* card = addGroup(QStringLiteral("Поиск видео"));
    m_busyGuarded.append(card);
    auto* form = makeForm();
    m_videoMode = new QComboBox(card);
    m_videoMode->setObjectName(QStringLiteral("videoSearchMode"));
    m_videoMode->addItem(QStringLiteral("Все крупные видео"), VideoSearchModes::rawValue(VideoSearchMode::fileType));
    m_videoMode->addItem(QStringLiteral("По тексту в имени"), VideoSearchModes::rawValue(VideoSearchMode::namePrefix));
    m_videoMode->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    addRow(form, QStringLiteral("Режим"), m_videoMode);
    card->body()->addLayout(form);

    m_fileTypeForm = new QWidget(card);
    auto* fileType = new QVBoxLayout(m_fileTypeForm);
    fileType->setContentsMargins(0, 0, 0, 0);
    auto* thresholdForm = makeForm();
    m_videoThreshold = numberField(QStringLiteral("plusVideoThresholdMB"), false,
                                   [](AppSettings& s, double v) { s.plusVideoThresholdMB = v; });
    addRow(thresholdForm, QStringLiteral("Мин. размер видео (МБ)"), m_videoThreshold);
    fileType->addLayout(thresholdForm);
    fileType->addWidget(PanelCard::makeNote(
        QStringLiteral("Ищутся все видеофайлы указанных типов, если размер больше порога."), m_fileTypeForm));
    auto* types = PanelCard::makeNote(QStringLiteral("Типы: ") + AppVideoTypes::extensionsLabel(), m_fileTypeForm);
    types->setObjectName(QStringLiteral("videoTypes"));
    fileType->addWidget(types);
    card->body()->addWidget(m_fileTypeForm);

    m_namePrefixForm = new QWidget(card);
    auto* prefix = new QVBoxLayout(m_namePrefixForm);
    prefix->setContentsMargins(0, 0, 0, 0);
    auto* prefixForm = makeForm();
    m_videoPrefix = new QLineEdit(m_namePrefixForm);
    m_videoPrefix->setObjectName(QStringLiteral("videoNamePrefix"));
    m_videoPrefix->setPlaceholderText(QStringLiteral("например +"));
    m_videoPrefix->setMaximumWidth(240);
    addRow(prefixForm, QStringLiteral("Текст в имени"), m_videoPrefix);
    prefix->addLayout(prefixForm);
    prefix->addWidget(PanelCard::makeNote(QStringLiteral("Ищутся видеофайлы, в имени которых встречается указанный "
                                                         "текст. Пустое поле — поиск не выполняется."),
                                          m_namePrefixForm));
    card->body()->addWidget(m_namePrefixForm);

    connect(m_videoMode, &QComboBox::currentIndexChanged, this, [this] {
        if (m_refreshing) {
            return;
        }
        const auto mode = VideoSearchModes::fromRawValue(m_videoMode->currentData().toString());
        if (mode) {
            edit([&](AppSettings& s) { s.videoSearchMode = *mode; });
        }
        updateVideoForms();
    });
    connect(m_videoPrefix, &QLineEdit::textEdited, this,
            [this](const QString& text) { edit([&](AppSettings& s) { s.videoNamePrefix = text; }); });
}

void SettingsView::buildThresholds()
{
    PanelCard* card = addGroup(QStringLiteral("Пороги сканирования"));
    m_busyGuarded.append(card);
    auto* form = makeForm();
    m_largeFolder = numberField(QStringLiteral("largeFolderThresholdGB"), false,
                                [](AppSettings& s, double v) { s.largeFolderThresholdGB = v; });
    addRow(form, QStringLiteral("Большие папки (ГБ)"), m_largeFolder);
    m_largeFile = numberField(QStringLiteral("largeFileThresholdMB"), false,
                              [](AppSettings& s, double v) { s.largeFileThresholdMB = v; });
    addRow(form, QStringLiteral("Крупные файлы (МБ)"), m_largeFile);
    card->body()->addLayout(form);
}

void SettingsView::buildStatistics()
{
    PanelCard* card = addGroup(QStringLiteral("Реклама и статистика"));
    m_busyGuarded.append(card);
    m_analytics = toggle(QStringLiteral("analyticsEnabled"), QStringLiteral("Анонимная статистика использования"),
                         [](AppSettings& s, bool on) { s.analyticsEnabled = on; });
    card->body()->addWidget(m_analytics);
    m_errorReports = toggle(QStringLiteral("errorReportingEnabled"),
                            QStringLiteral("Автоотчёт об ошибках (для исправления)"),
                            [](AppSettings& s, bool on) { s.errorReportingEnabled = on; });
    card->body()->addWidget(m_errorReports);

    auto* form = makeForm();
    m_anonymousId = new QLabel(card);
    m_anonymousId->setObjectName(QStringLiteral("anonymousId"));
    m_anonymousId->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont mono = m_anonymousId->font();
    mono.setStyleHint(QFont::Monospace);
    mono.setFamily(QStringLiteral("monospace"));
    m_anonymousId->setFont(mono);
    addRow(form, QStringLiteral("ID устройства"), m_anonymousId);
    card->body()->addLayout(form);
    card->body()->addWidget(PanelCard::makeNote(
        QStringLiteral("Статистика: запуски, сканирования, клики по рекламе. Ошибки отправляются анонимно на сервер; "
                       "автоматическая обработка включается только на доверенном сервере с отдельным секретом."),
        card));
    auto* privacy = new QLabel(QStringLiteral("<a href=\"privacy\">Политика конфиденциальности</a>"), card);
    privacy->setObjectName(QStringLiteral("privacyLink"));
    privacy->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(privacy, &QLabel::linkActivated, this, [this] {
        if (m_services.workspace && m_services.appState) {
            m_services.workspace->openUrl(QUrl(m_services.appState->settings().privacyPolicyURL));
        }
    });
    card->body()->addWidget(privacy);
}

void SettingsView::buildUpdates()
{
    PanelCard* card = addGroup(QStringLiteral("Обновления"));
    card->body()->addWidget(new UpdatesGroup(m_services, card));
}

void SettingsView::buildSupport()
{
    PanelCard* card = addGroup(QStringLiteral("Поддержка"));
    card->body()->addWidget(PanelCard::makeNote(QStringLiteral("Ошибка, вопрос или предложение — сообщение уйдёт в "
                                                               "Korvane. Можно приложить диагностику одним кликом."),
                                                card));
    auto* write = new QPushButton(QStringLiteral("Написать разработчику"), card);
    write->setObjectName(QStringLiteral("writeToDeveloper"));
    const Theme theme(palette());
    write->setIcon(IconSet::icon(QStringLiteral("envelope"), theme.accent(), theme.secondaryText()));
    write->setEnabled(m_services.feedback != nullptr);
    auto* row = new QHBoxLayout;
    row->addWidget(write);
    row->addStretch(1);
    card->body()->addLayout(row);
    connect(write, &QPushButton::clicked, this, &SettingsView::openFeedbackSheet);
}

void SettingsView::buildAbout()
{
    PanelCard* card = addGroup(QStringLiteral("О программе"));
    card->body()->addWidget(new AboutBlock(m_services, card));
    card->body()->addSpacing(Theme::smallSpacing);
    const auto addNote = [&](const QString& heading, const QString& text) {
        auto* title = new QLabel(heading, card);
        QFont bold = title->font();
        bold.setWeight(QFont::DemiBold);
        title->setFont(bold);
        card->body()->addWidget(title);
        card->body()->addWidget(PanelCard::makeNote(text, card));
    };
    addNote(QStringLiteral("Принцип работы"), QStringLiteral("Скан → Превью → Подтверждение → Перенос"));
    addNote(QStringLiteral("Проверка региона"), QStringLiteral("Блокировка только при IP в Украине. Без интернета "
                                                               "приложение работает офлайн с базовой рекламой."));
    card->body()->addWidget(PanelCard::makeNote(QStringLiteral("Кэши приложений показываются для информации — их "
                                                               "нужно очищать внутри самих программ (Cursor, "
                                                               "Telegram и др.)."),
                                                card));
}

FeedbackSheet* SettingsView::feedbackSheet() const
{
    return m_feedbackSheet;
}

void SettingsView::openFeedbackSheet()
{
    if (!m_services.feedback) {
        return;
    }
    if (!m_feedbackSheet) {
        m_feedbackSheet = new FeedbackSheet(m_services, this);
    }
    m_feedbackSheet->open();
}

void SettingsView::edit(const std::function<void(AppSettings&)>& change)
{
    AppState* state = m_services.appState;
    if (!state) {
        return;
    }
    AppSettings settings = state->settings();
    change(settings);
    if (settings == state->settings()) {
        return;
    }
    state->setSettings(settings);
    state->saveSettings();
}

void SettingsView::refreshFromSettings()
{
    AppState* state = m_services.appState;
    if (!state) {
        return;
    }
    const AppSettings& s = state->settings();
    m_refreshing = true;
    m_lowPower->setChecked(s.lowPowerMode);
    if (m_archivePath->text() != s.archivePath) {
        m_archivePath->setText(s.archivePath);
    }
    m_candidateMinGB->setValue(s.archiveCandidateMinGB);
    m_candidateMinDays->setValue(double(s.archiveCandidateMinDays));
    m_installerDays->setValue(double(s.installerMaxAgeDays));
    m_videoMode->setCurrentIndex(m_videoMode->findData(VideoSearchModes::rawValue(s.videoSearchMode)));
    m_videoThreshold->setValue(s.plusVideoThresholdMB);
    if (m_videoPrefix->text() != s.videoNamePrefix) {
        m_videoPrefix->setText(s.videoNamePrefix);
    }
    m_largeFolder->setValue(s.largeFolderThresholdGB);
    m_largeFile->setValue(s.largeFileThresholdMB);
    m_analytics->setChecked(s.analyticsEnabled);
    m_errorReports->setChecked(s.errorReportingEnabled);
    m_anonymousId->setText(state->anonymousId().isEmpty() ? QStringLiteral("—") : state->anonymousId());
    m_refreshing = false;
    updateVideoForms();
    updateArchiveStatus();
}

QString SettingsView::archiveStatusText(ArchiveFolderStatus status)
{
    switch (status) {
    case ArchiveFolderStatus::willBeCreated:
        return QStringLiteral("Папка будет создана при первом переносе");
    case ArchiveFolderStatus::notWritable:
        return QStringLiteral("Проверьте подключение архивного диска");
    case ArchiveFolderStatus::writable:
        break;
    }
    return QStringLiteral("Архив доступен для записи");
}

void SettingsView::updateArchiveStatus()
{
    if (!m_services.appState) {
        return;
    }
    const ArchiveFolderStatus status = m_services.appState->archiveFolderStatus();
    const bool ok = status == ArchiveFolderStatus::writable;
    m_archiveStatus->setContent(
        ok ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("exclamationmark.triangle.fill"),
        ok ? IconTextLine::Tone::success : IconTextLine::Tone::warning, archiveStatusText(status));
}

void SettingsView::updateVideoForms()
{
    const bool byType = m_videoMode->currentData().toString() == VideoSearchModes::rawValue(VideoSearchMode::fileType);
    m_fileTypeForm->setVisible(byType);
    m_namePrefixForm->setVisible(!byType);
}

void SettingsView::updateBusy()
{
    const bool busy = m_services.appState && m_services.appState->isBusy();
    for (PanelCard* card : std::as_const(m_busyGuarded)) {
        card->setEnabled(!busy);
    }
}

void SettingsView::showEvent(QShowEvent* event)
{
    // A disk may have been connected or ejected since the view was last shown.
    updateArchiveStatus();
    QWidget::showEvent(event);
}
