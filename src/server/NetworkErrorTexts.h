#pragma once

#include <QString>

// What the user reads when an exchange with the server failed, the same
// whichever way the request went (the platform loader or a status-only post).
namespace NetworkErrorTexts {
inline QString refused() { return QStringLiteral("сервер отклонил соединение"); }
inline QString closed() { return QStringLiteral("сервер закрыл соединение"); }
inline QString notFound() { return QStringLiteral("сервер не найден"); }
inline QString timedOut() { return QStringLiteral("сервер не ответил вовремя"); }
inline QString secureConnectionFailed() { return QStringLiteral("не удалось установить защищённое соединение"); }
inline QString offline() { return QStringLiteral("нет подключения к сети"); }
} // namespace NetworkErrorTexts
