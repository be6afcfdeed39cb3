#include "CleanArchivePanel.h"

#include "Confirmer.h"
#include "Theme.h"
#include "WindowHomeLayout.h"
#include "app/AppState.h"
#include "base/ByteCountFormatter.h"
#include "base/RussianPlural.h"
#include "platform/Workspace.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CleanArchivePanel::CleanArchivePanel(const WindowServices& services, QWidget* parent)
    : PanelCard(QStringLiteral("Чистый архив"), parent)
    , m_services(services)
{
    setObjectName(QStringLiteral("cleanArchivePanel"));
    body()->addWidget(makeNote(QStringLiteral("Копирует профиль данных на архивный диск. Исходники остаются на месте. "
                                              "Восстановление — по manifest.json."),
                               this));
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    m_profile = new QComboBox(this);
    m_profile->setObjectName(QStringLiteral("cleanArchiveProfile"));
    for (CleanArchiveProfile profile : CleanArchiveProfiles::all()) {
        m_profile->addItem(CleanArchiveProfiles::title(profile), CleanArchiveProfiles::rawValue(profile));
    }
    form->addRow(QStringLiteral("Профиль"), m_profile);
    body()->addLayout(form);
    m_description = makeNote(QString(), this);
    m_description->setObjectName(QStringLiteral("profileDescription"));
    body()->addWidget(m_description);
    m_compress = new QCheckBox(QStringLiteral("Сжимать tar.zst (экономия места на архивном диске)"), this);
    m_compress->setObjectName(QStringLiteral("compressCleanArchive"));
    body()->addWidget(m_compress);
    m_create = new QPushButton(QStringLiteral("Создать архив"), this);
    m_create->setObjectName(QStringLiteral("createCleanArchive"));
    auto* createRow = new QHBoxLayout;
    createRow->addWidget(m_create);
    createRow->addStretch(1);
    body()->addLayout(createRow);

    auto* listHeader = new QHBoxLayout;
    listHeader->addWidget(makeHeading(QStringLiteral("Сохранённые архивы"), this));
    listHeader->addStretch(1);
    m_refresh = new QPushButton(QStringLiteral("Обновить список"), this);
    m_refresh->setObjectName(QStringLiteral("refreshCleanArchives"));
    listHeader->addWidget(m_refresh);
    body()->addSpacing(Theme::smallSpacing);
    body()->addLayout(listHeader);
    m_empty = makeNote(QStringLiteral("Архивов пока нет."), this);
    body()->addWidget(m_empty);
    m_rows = new QVBoxLayout;
    m_rows->setSpacing(Theme::smallSpacing);
    body()->addLayout(m_rows);

    connect(m_profile, &QComboBox::currentIndexChanged, this,
            [this] { m_description->setText(description(selectedProfile(), windowHomeLayout(m_services.appState))); });
    connect(m_compress, &QCheckBox::toggled, this, [this](bool on) {
        AppState* state = m_services.appState;
        if (!state || state->settings().compressCleanArchive == on) {
            return;
        }
        AppSettings settings = state->settings();
        settings.compressCleanArchive = on;
        state->setSettings(settings);
        state->saveSettings();
    });
    connect(m_create, &QPushButton::clicked, this, [this] {
        if (m_services.appState) {
            m_services.appState->createCleanArchive(selectedProfile());
        }
    });
    connect(m_refresh, &QPushButton::clicked, this, [this] {
        if (m_services.appState) {
            m_services.appState->refreshCleanArchives();
        }
    });
    if (AppState* state = m_services.appState) {
        connect(state, &AppState::cleanArchivesChanged, this, &CleanArchivePanel::updateArchives);
        connect(state, &AppState::settingsChanged, this, &CleanArchivePanel::updateSettings);
        connect(state, &AppState::busyChanged, this, &CleanArchivePanel::updateBusy);
    }
    m_description->setText(description(selectedProfile(), windowHomeLayout(m_services.appState)));
    updateSettings();
    updateArchives();
}

QString CleanArchivePanel::description(CleanArchiveProfile profile, const HomeLayout& layout)
{
    if (profile == CleanArchiveProfile::developer) {
        return QStringLiteral("Projects, Developer, .ssh, конфиги (без node_modules)");
    }
    QStringList folders;
    for (const QByteArray& name : CleanArchiveProfiles::homeFolders(profile, layout)) {
        folders.append(QFile::decodeName(name));
    }
    const QString list = folders.join(QStringLiteral(", "));
    if (profile == CleanArchiveProfile::creative) {
        return list + QStringLiteral(", проекты с «ГОТОВО»/«РЕЛИЗ»");
    }
    return list + QStringLiteral(" (без установщиков)");
}

CleanArchiveProfile CleanArchivePanel::selectedProfile() const
{
    return CleanArchiveProfiles::fromRawValue(m_profile->currentData().toString())
        .value_or(CleanArchiveProfile::essential);
}

void CleanArchivePanel::showEvent(QShowEvent* event)
{
    if (!m_listedOnce && m_services.appState) {
        m_listedOnce = true;
        m_services.appState->refreshCleanArchives();
    }
    PanelCard::showEvent(event);
}

void CleanArchivePanel::updateSettings()
{
    if (m_services.appState) {
        m_compress->setChecked(m_services.appState->settings().compressCleanArchive);
    }
}

void CleanArchivePanel::updateArchives()
{
    while (QLayoutItem* item = m_rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const CleanArchiveSummaryList archives =
        m_services.appState ? m_services.appState->cleanArchives() : CleanArchiveSummaryList();
    for (const CleanArchiveSummary& archive : archives) {
        auto* row = new QWidget(this);
        row->setObjectName(QStringLiteral("cleanArchiveRow"));
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* text = new QVBoxLayout;
        text->setSpacing(0);
        auto* name = new QLabel(archive.id, row);
        name->setObjectName(QStringLiteral("name"));
        text->addWidget(name);
        const bool packed = archive.manifest.compression == QLatin1String("tar.zst");
        const qint64 onDisk = packed ? archive.manifest.compressedBytes.value_or(archive.manifest.totalBytes)
                                     : archive.manifest.totalBytes;
        auto* details = new QLabel(RussianPlural::count(archive.manifest.entries.size(), RussianPlural::items) + QStringLiteral(" · ") +
                                       QStringLiteral("На диске: ") + ByteCountFormatter::format(onDisk) +
                                       (packed ? QStringLiteral(" (tar.zst)") : QString()),
                                   row);
        details->setObjectName(QStringLiteral("details"));
        details->setForegroundRole(QPalette::PlaceholderText);
        details->setFont(Theme(palette()).captionFont());
        text->addWidget(details);
        layout->addLayout(text, 1);
        auto* restore = new QPushButton(QStringLiteral("Восстановить"), row);
        restore->setObjectName(QStringLiteral("restore"));
        layout->addWidget(restore);
        auto* reveal = new QPushButton(QStringLiteral("Показать"), row);
        reveal->setObjectName(QStringLiteral("reveal"));
        layout->addWidget(reveal);
        connect(restore, &QPushButton::clicked, this, [this, archive] { requestRestore(archive); });
        connect(reveal, &QPushButton::clicked, this, [this, url = archive.url] {
            if (m_services.workspace) {
                m_services.workspace->revealFile(url);
            }
        });
        m_rows->addWidget(row);
    }
    m_empty->setVisible(archives.isEmpty());
    updateBusy();
}

void CleanArchivePanel::updateBusy()
{
    const bool busy = !m_services.appState || m_services.appState->isBusy();
    m_profile->setEnabled(!busy);
    m_compress->setEnabled(!busy);
    m_create->setEnabled(!busy);
    m_refresh->setEnabled(!busy);
    for (QPushButton* button : findChildren<QPushButton*>(QStringLiteral("restore"))) {
        button->setEnabled(!busy);
    }
}

void CleanArchivePanel::requestRestore(const CleanArchiveSummary& archive)
{
    AppState* state = m_services.appState;
    if (!state || !m_services.confirmer) {
        return;
    }
    // Said before anything is unpacked: what comes back and what is skipped.
    const QStringList present = state->cleanArchiveEntriesAtHome(archive);
    const qsizetype total = archive.manifest.entries.size();
    ConfirmationRequest request;
    request.title = QStringLiteral("Восстановить архив?");
    if (present.size() == total) {
        request.message = QStringLiteral("Всё из этого архива уже есть в домашней папке — восстанавливать нечего: "
                                         "существующее не перезаписывается.");
    } else {
        request.message = QStringLiteral("В домашнюю папку вернётся ")
                          + RussianPlural::count(total - present.size(), RussianPlural::items) + QLatin1Char('.');
        if (!present.isEmpty()) {
            constexpr qsizetype named = 5;
            QStringList names;
            for (const QString& name : present.mid(0, named)) {
                names.append(QStringLiteral("«") + name + QStringLiteral("»"));
            }
            QString list = names.join(QStringLiteral(", "));
            if (present.size() > named) {
                list += QStringLiteral(" и ещё ") + QString::number(present.size() - named);
            }
            request.message += QStringLiteral(" Уже есть и будут пропущены: ") + list
                               + QStringLiteral(" — существующее не перезаписывается.");
        }
    }
    request.confirmText = QStringLiteral("Восстановить");
    QPointer<AppState> target(state);
    m_services.confirmer->confirm(this, request, [target, archive](bool confirmed) {
        if (confirmed && target) {
            target->restoreCleanArchive(archive);
        }
    });
}
