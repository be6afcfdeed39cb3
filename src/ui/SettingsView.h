#pragma once

#include "WindowServices.h"
#include "app/ArchiveFolderStatus.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class FeedbackSheet;
class IconTextLine;
class PanelCard;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class SettingsNumberField;
struct AppSettings;

// The "Настройки" section: ten groups in a scrolling column. Every control
// edits one field of the application state's settings and saves the record
// at once; a number the record must not hold is refused in place and nothing
// is saved. Controls are named after the field they edit (objectName), which
// is how tests and accessibility tools find them.
//
// The groups whose fields the scans read are disabled while the application
// state is busy; updates, support and the about block stay usable.
class SettingsView : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsView(const WindowServices& services, QWidget* parent = nullptr);

    static QString archiveStatusText(ArchiveFolderStatus status);
    IconTextLine* archiveStatusLine() const { return m_archiveStatus; }
    // Created on first use; the view owns it.
    FeedbackSheet* feedbackSheet() const;
    void openFeedbackSheet();

protected:
    void showEvent(QShowEvent* event) override;

private:
    PanelCard* addGroup(const QString& title);
    void buildPerformance();
    void buildArchiveDisk();
    void buildArchiveCandidates();
    void buildInstallers();
    void buildVideoSearch();
    void buildThresholds();
    void buildStatistics();
    void buildUpdates();
    void buildSupport();
    void buildAbout();

    SettingsNumberField* numberField(const QString& field, bool days,
                                     const std::function<void(AppSettings&, double)>& set,
                                     const std::function<void(AppSettings&, qint64)>& setDays = {});
    QCheckBox* toggle(const QString& field, const QString& text, const std::function<void(AppSettings&, bool)>& set);

    // Copies the settings, applies change and, when that changed anything,
    // publishes and saves the record.
    void edit(const std::function<void(AppSettings&)>& change);
    void refreshFromSettings();
    void updateArchiveStatus();
    void updateVideoForms();
    void updateBusy();

    WindowServices m_services;
    QVBoxLayout* m_groups = nullptr;
    QList<PanelCard*> m_busyGuarded;
    bool m_refreshing = false;

    QCheckBox* m_lowPower = nullptr;
    QLineEdit* m_archivePath = nullptr;
    IconTextLine* m_archiveStatus = nullptr;
    SettingsNumberField* m_candidateMinGB = nullptr;
    SettingsNumberField* m_candidateMinDays = nullptr;
    SettingsNumberField* m_installerDays = nullptr;
    QComboBox* m_videoMode = nullptr;
    QWidget* m_fileTypeForm = nullptr;
    QWidget* m_namePrefixForm = nullptr;
    SettingsNumberField* m_videoThreshold = nullptr;
    QLineEdit* m_videoPrefix = nullptr;
    SettingsNumberField* m_largeFolder = nullptr;
    SettingsNumberField* m_largeFile = nullptr;
    QCheckBox* m_analytics = nullptr;
    QCheckBox* m_errorReports = nullptr;
    QLabel* m_anonymousId = nullptr;
    QPointer<FeedbackSheet> m_feedbackSheet;
};
