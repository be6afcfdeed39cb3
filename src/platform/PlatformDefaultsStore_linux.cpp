#include "PlatformDefaultsStore.h"

#include "SettingsDefaultsStore.h"

#include <QDir>
#include <QStandardPaths>

QString PlatformDefaultsStore::location()
{
    const QString overridePath = qEnvironmentVariable("BRISKO_DEFAULTS");
    if (!overridePath.isEmpty()) {
        return overridePath;
    }
    // XDG_CONFIG_HOME, else ~/.config
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(config).filePath(QStringLiteral("brisko-vella/defaults.ini"));
}

DefaultsStorePtr PlatformDefaultsStore::open()
{
    return std::make_shared<SettingsDefaultsStore>(location(), QSettings::IniFormat);
}
