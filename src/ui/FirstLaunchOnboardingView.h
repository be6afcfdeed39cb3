#pragma once

#include "WindowServices.h"

#include <QWidget>

class OnboardingProgressHeader;
class QLabel;
class QPushButton;
class QStackedWidget;

// The first-launch introduction in three steps: welcome, the archive disk,
// permissions. "Назад" and "Далее" move between them; "Начать работу" on the
// last step stores the introduction as finished through the application
// state, after which the gate moves on by itself.
class FirstLaunchOnboardingView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int totalSteps = 3;

    FirstLaunchOnboardingView(const WindowServices& services, QWidget* parent = nullptr);

    int step() const { return m_step; }
    void setStep(int step);

    QPushButton* backButton() const { return m_back; }
    QPushButton* nextButton() const { return m_next; }
    QPushButton* finishButton() const { return m_finish; }
    QPushButton* chooseFolderButton() const { return m_chooseFolder; }
    // Only while full disk access is missing.
    QPushButton* openSettingsButton() const { return m_openSettings; }
    QLabel* archivePathLabel() const { return m_archivePath; }
    // Whether the permissions step found access missing when last shown.
    bool asksForFullDiskAccess() const { return m_needsFullDiskAccess; }

private:
    QWidget* welcomePage();
    QWidget* archivePage();
    QWidget* permissionsPage();
    void updateArchivePath();
    void updateEnabled();
    void updatePermissions();

    WindowServices m_services;
    int m_step = 0;
    bool m_needsFullDiskAccess = false;
    OnboardingProgressHeader* m_header = nullptr;
    QStackedWidget* m_pages = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_next = nullptr;
    QPushButton* m_finish = nullptr;
    QPushButton* m_chooseFolder = nullptr;
    QPushButton* m_openSettings = nullptr;
    QLabel* m_archivePath = nullptr;
    QWidget* m_accessGranted = nullptr;
    QWidget* m_accessMissing = nullptr;
};
