#pragma once

class QWidget;
struct WindowServices;

// Where the window takes the views of its cooling, settings, health,
// safe-cleanup and clean-archive places from. ContentView calls each once
// while it is built; the widget returned is parented to parent and lives as
// long as the window.
//
// The three overview places (health, safe cleanup, clean archive) stand one
// under another in the scrolling overview: their widgets must take their
// natural height and must not scroll themselves. The cooling and settings
// sections fill the detail area under the status banner and scroll on their
// own when they need to.
namespace SectionFactory {
QWidget* coolingSection(const WindowServices& services, QWidget* parent);
QWidget* settingsSection(const WindowServices& services, QWidget* parent);
QWidget* healthSection(const WindowServices& services, QWidget* parent);
QWidget* safeCleanupSection(const WindowServices& services, QWidget* parent);
QWidget* cleanArchiveSection(const WindowServices& services, QWidget* parent);
} // namespace SectionFactory
