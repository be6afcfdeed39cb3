#pragma once

#include <QString>

// What the update service and its installer tell the user when a step fails.
namespace UpdateError {
inline const QString untrustedSource = QStringLiteral("Источник обновлений не входит в доверенный список");
inline const QString serverUnavailable = QStringLiteral("Сервер недоступен");
inline const QString untrustedDownload = QStringLiteral("Ссылка на обновление ведёт на недоверенный хост");
inline const QString missingChecksum = QStringLiteral("Для обновления не указан контрольный SHA-256");
inline const QString checksumMismatch = QStringLiteral("Контрольная сумма загруженного обновления не совпала");
inline const QString mountFailed = QStringLiteral("Не удалось смонтировать образ обновления");
inline const QString appNotFoundInImage = QStringLiteral("Приложение не найдено в образе");
inline const QString unexpectedAppBundle = QStringLiteral("В образе найдено неожиданное приложение");
inline const QString invalidCodeSignature = QStringLiteral("Подпись обновления не прошла проверку");
inline const QString downloadTooLarge = QStringLiteral("Обновление больше допустимого размера");
} // namespace UpdateError
