#include "PlatformDefaultsStore.h"

#include "FolderDefaultsStore.h"
#include "SettingsDefaultsStore.h"

#include <QDir>
#include <QFileInfo>
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

QString PlatformDefaultsStore::queuesLocation()
{
    return queuesBeside(location());
}

QString PlatformDefaultsStore::queuesBeside(const QString& storeFile)
{
    const QFileInfo store(storeFile);
    return store.dir().filePath(store.completeBaseName() + QStringLiteral(".queues"));
}

DefaultsStorePtr PlatformDefaultsStore::openQueues()
{
    // Usage events are not the user's data: losing the latest few in a power
    // cut is better than every command waiting for the disk at its end.
    return std::make_shared<FolderDefaultsStore>(queuesLocation(), FolderDefaultsStore::Sync::none);
}
