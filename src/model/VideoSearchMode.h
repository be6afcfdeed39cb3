#pragma once

#include <QString>

#include <optional>

enum class VideoSearchMode { namePrefix, fileType };

namespace VideoSearchModes {
QString rawValue(VideoSearchMode mode);
std::optional<VideoSearchMode> fromRawValue(const QString& raw);
// "По тексту в имени", "Все крупные видео"
QString settingsLabel(VideoSearchMode mode);
} // namespace VideoSearchModes
