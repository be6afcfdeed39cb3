#include "ScanCategory.h"

#include "AppVideoTypes.h"
#include "model/AppSettings.h"

#include <cmath>

QList<ScanCategory> ScanCategories::allCategories()
{
    return {ScanCategory::largeFolders,    ScanCategory::archiveCandidates, ScanCategory::downloadsInbox,
            ScanCategory::plusVideos,      ScanCategory::largeLooseFiles,   ScanCategory::oldInstallers,
            ScanCategory::appCaches,       ScanCategory::systemJunk};
}

QString ScanCategories::rawValue(ScanCategory category)
{
    switch (category) {
    case ScanCategory::largeFolders:
        return QStringLiteral("largeFolders");
    case ScanCategory::archiveCandidates:
        return QStringLiteral("archiveCandidates");
    case ScanCategory::downloadsInbox:
        return QStringLiteral("downloadsInbox");
    case ScanCategory::plusVideos:
        return QStringLiteral("plusVideos");
    case ScanCategory::largeLooseFiles:
        return QStringLiteral("largeLooseFiles");
    case ScanCategory::oldInstallers:
        return QStringLiteral("oldInstallers");
    case ScanCategory::appCaches:
        return QStringLiteral("appCaches");
    case ScanCategory::systemJunk:
        break;
    }
    return QStringLiteral("systemJunk");
}

std::optional<ScanCategory> ScanCategories::fromRawValue(const QString& raw)
{
    for (ScanCategory category : allCategories()) {
        if (rawValue(category) == raw) {
            return category;
        }
    }
    return std::nullopt;
}

QString ScanCategories::title(ScanCategory category, const AppSettings* settings)
{
    switch (category) {
    case ScanCategory::largeFolders:
        return QStringLiteral("Большие папки");
    case ScanCategory::archiveCandidates:
        return QStringLiteral("Кандидаты на архив");
    case ScanCategory::downloadsInbox:
        return QStringLiteral("Downloads (файлы в корне)");
    case ScanCategory::plusVideos:
        return plusVideosTitle(settings);
    case ScanCategory::largeLooseFiles:
        return QStringLiteral("Крупные файлы в Downloads");
    case ScanCategory::oldInstallers:
        return QStringLiteral("Старые установщики");
    case ScanCategory::appCaches:
        return QStringLiteral("Кэши приложений");
    case ScanCategory::systemJunk:
        break;
    }
    return QStringLiteral("Служебный мусор");
}

QString ScanCategories::subtitle(ScanCategory category, const AppSettings* settings)
{
    switch (category) {
    case ScanCategory::largeFolders:
        return QStringLiteral("Папки больше заданного порога в домашней директории");
    case ScanCategory::archiveCandidates:
        return QStringLiteral("Большие старые проекты на Desktop — готовы к переносу на архив");
    case ScanCategory::downloadsInbox:
        return QStringLiteral("Несортированные файлы прямо в Downloads");
    case ScanCategory::plusVideos:
        return plusVideosDescription(settings);
    case ScanCategory::largeLooseFiles:
        return QStringLiteral("Крупные файлы в корне Downloads");
    case ScanCategory::oldInstallers:
        return QStringLiteral("Старые .dmg и .pkg в Downloads");
    case ScanCategory::appCaches:
        return QStringLiteral("Cursor, мессенджеры — безопасные кэши можно очистить кнопкой «Очистить»");
    case ScanCategory::systemJunk:
        break;
    }
    return QStringLiteral("Кэши приложений и служебные файлы — безопасные позиции можно очистить");
}

QString ScanCategories::iconName(ScanCategory category)
{
    switch (category) {
    case ScanCategory::largeFolders:
        return QStringLiteral("folder.fill");
    case ScanCategory::archiveCandidates:
        return QStringLiteral("archivebox.fill");
    case ScanCategory::downloadsInbox:
        return QStringLiteral("tray.full.fill");
    case ScanCategory::plusVideos:
        return QStringLiteral("film.fill");
    case ScanCategory::largeLooseFiles:
        return QStringLiteral("doc.fill");
    case ScanCategory::oldInstallers:
        return QStringLiteral("shippingbox.fill");
    case ScanCategory::appCaches:
        return QStringLiteral("externaldrive.fill");
    case ScanCategory::systemJunk:
        break;
    }
    return QStringLiteral("trash.fill");
}

QString ScanCategories::plusVideosTitle(const AppSettings* settings)
{
    if (!settings) {
        return QStringLiteral("Видео по тексту в имени");
    }
    if (settings->videoSearchMode == VideoSearchMode::fileType) {
        return QStringLiteral("Крупные видеофайлы");
    }
    const QString text = settings->videoNamePrefix.trimmed();
    if (text.isEmpty()) {
        return QStringLiteral("Видео по тексту в имени");
    }
    return QStringLiteral("Видео с «") + text + QStringLiteral("» в имени");
}

QString ScanCategories::plusVideosDescription(const AppSettings* settings)
{
    if (!settings) {
        return QStringLiteral("Видео с указанным текстом в имени — кандидаты на архив");
    }
    // The threshold is written whole, the fraction dropped (50.9 shows as 50).
    const double threshold = settings->plusVideoThresholdMB;
    const QString n = std::isfinite(threshold) ? QString::number(qint64(threshold)) : QStringLiteral("0");
    if (settings->videoSearchMode == VideoSearchMode::fileType) {
        return QStringLiteral("Все видео ≥ ") + n + QStringLiteral(" МБ (") + AppVideoTypes::extensionsLabel()
            + QStringLiteral(")");
    }
    const QString text = settings->videoNamePrefix.trimmed();
    if (text.isEmpty()) {
        return QStringLiteral("Укажите текст в настройках — иначе поиск не выполняется");
    }
    return QStringLiteral("Видео ≥ ") + n + QStringLiteral(" МБ, имя содержит «") + text + QStringLiteral("»");
}

bool ScanCategories::isCleanable(ScanCategory category)
{
    return category == ScanCategory::appCaches || category == ScanCategory::systemJunk;
}
