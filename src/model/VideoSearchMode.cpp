#include "VideoSearchMode.h"

QString VideoSearchModes::rawValue(VideoSearchMode mode)
{
    return mode == VideoSearchMode::fileType ? QStringLiteral("fileType") : QStringLiteral("namePrefix");
}

std::optional<VideoSearchMode> VideoSearchModes::fromRawValue(const QString& raw)
{
    if (raw == QLatin1String("namePrefix")) {
        return VideoSearchMode::namePrefix;
    }
    if (raw == QLatin1String("fileType")) {
        return VideoSearchMode::fileType;
    }
    return std::nullopt;
}

QString VideoSearchModes::settingsLabel(VideoSearchMode mode)
{
    return mode == VideoSearchMode::fileType ? QStringLiteral("Все крупные видео")
                                             : QStringLiteral("По тексту в имени");
}
