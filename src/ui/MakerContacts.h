#pragma once

#include <QString>

// How users reach the maker: shown in the about block and the help menu.
namespace MakerContacts {
inline const QString organisation = QStringLiteral("Korvane");
inline const QString email = QStringLiteral("support@korvane.ru");
inline const QString website = QStringLiteral("https://korvane.ru");
} // namespace MakerContacts
