#include "SectionFactory.h"

#include "PlaceholderSection.h"
#include "WindowServices.h"

QWidget* SectionFactory::coolingSection(const WindowServices&, QWidget* parent)
{
    return new PlaceholderSection(QStringLiteral("Охлаждение"), parent);
}

QWidget* SectionFactory::settingsSection(const WindowServices&, QWidget* parent)
{
    return new PlaceholderSection(QStringLiteral("Настройки"), parent);
}

QWidget* SectionFactory::healthSection(const WindowServices&, QWidget* parent)
{
    return new PlaceholderSection(QStringLiteral("Здоровье хранилища"), parent);
}

QWidget* SectionFactory::safeCleanupSection(const WindowServices&, QWidget* parent)
{
    return new PlaceholderSection(QStringLiteral("Безопасная очистка"), parent);
}

QWidget* SectionFactory::cleanArchiveSection(const WindowServices&, QWidget* parent)
{
    return new PlaceholderSection(QStringLiteral("Чистый архив"), parent);
}
