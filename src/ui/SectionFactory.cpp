#include "SectionFactory.h"

#include "CleanArchivePanel.h"
#include "CoolingView.h"
#include "MacHealthDashboardSection.h"
#include "SafeCleanupPanel.h"
#include "SettingsView.h"
#include "WindowServices.h"

QWidget* SectionFactory::coolingSection(const WindowServices& services, QWidget* parent)
{
    return new CoolingView(services, parent);
}

QWidget* SectionFactory::settingsSection(const WindowServices& services, QWidget* parent)
{
    return new SettingsView(services, parent);
}

QWidget* SectionFactory::healthSection(const WindowServices& services, QWidget* parent)
{
    return new MacHealthDashboardSection(services, parent);
}

QWidget* SectionFactory::safeCleanupSection(const WindowServices& services, QWidget* parent)
{
    return new SafeCleanupPanel(services, parent);
}

QWidget* SectionFactory::cleanArchiveSection(const WindowServices& services, QWidget* parent)
{
    return new CleanArchivePanel(services, parent);
}
