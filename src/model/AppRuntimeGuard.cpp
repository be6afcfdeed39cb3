#include "AppRuntimeGuard.h"

#include "platform/PlatformPaths.h"

AppRuntimeGuard::Risk AppRuntimeGuard::currentRisk()
{
    return riskForPath(PlatformPaths::executable().toString());
}

AppRuntimeGuard::Risk AppRuntimeGuard::riskForPath(const QString& path)
{
    if (path.startsWith(QLatin1String("/Volumes/")) || path.startsWith(QLatin1String("/media/"))
        || path.startsWith(QLatin1String("/run/media/"))) {
        return Risk::diskImage;
    }
    if (path.contains(QLatin1String("/AppTranslocation/"))
        || (path.contains(QLatin1String("/private/var/folders/")) && path.endsWith(QLatin1String(".app")))) {
        return Risk::translocated;
    }
    return Risk::none;
}

QString AppRuntimeGuard::message(Risk risk)
{
    switch (risk) {
    case Risk::diskImage:
        return QStringLiteral("Brisko Vella запущен с образа диска (DMG). Скопируйте приложение в папку «Программы» и "
                              "запускайте оттуда — иначе macOS может завершить его при отключении образа.");
    case Risk::translocated:
        return QStringLiteral("macOS временно изолировал приложение. Перетащите Brisko Vella в «Программы» и откройте "
                              "снова — иначе возможны неожиданные сбои.");
    case Risk::none:
        break;
    }
    return {};
}
