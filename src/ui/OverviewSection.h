#pragma once

#include "WindowServices.h"
#include "scan/ScanCategory.h"

#include <QMap>
#include <QScrollArea>

#include <optional>

class AdBannerView;
class NoticeBanner;
class QGridLayout;
class QLabel;
class QPushButton;
class QuickScanCategoryButton;
class QVBoxLayout;
class StatChip;

// Section 0, "Обзор": the top bar with freed space and disk fill, the update
// and full-disk-access notices, the banner announcement, the quick scan of
// the eight categories with the way to the results, the volumes, and the
// places of the health, safe-cleanup and clean-archive sections. Scrolls.
//
// It starts nothing by itself when a category is clicked: it asks with
// quickScanRequested, and the owner runs the scan and reports back with
// setScanningCategory.
class OverviewSection : public QScrollArea
{
    Q_OBJECT
public:
    explicit OverviewSection(const WindowServices& services, QWidget* parent = nullptr);

    // The category whose scan runs now, shown on its button; none when idle.
    void setScanningCategory(std::optional<ScanCategory> category);

    QuickScanCategoryButton* quickScanButton(ScanCategory category) const { return m_quickScan.value(category); }
    QString freedText() const;
    QString diskFillText() const;
    // "N элементов · size" next to the results link.
    QString resultsSummaryText() const;
    bool fullDiskAccessBannerShown() const;

Q_SIGNALS:
    // A quick-scan button was clicked while the application was idle.
    void quickScanRequested(ScanCategory category);
    // The "Результаты →" link was clicked.
    void showResultsRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildTopBar(QWidget* content);
    QWidget* buildQuickScan();
    QWidget* buildDisks();
    void updateTopBar();
    void updateQuickScanTexts();
    void updateResultsRow();
    void updateDisks();
    void updateBusy();
    void updateFullDiskAccess();

    WindowServices m_services;
    QVBoxLayout* m_content = nullptr;
    StatChip* m_freedChip = nullptr;
    StatChip* m_diskChip = nullptr;
    QVBoxLayout* m_updateSlot = nullptr;
    NoticeBanner* m_fullDiskAccess = nullptr;
    AdBannerView* m_adBanner = nullptr;
    QMap<ScanCategory, QuickScanCategoryButton*> m_quickScan;
    QWidget* m_resultsRow = nullptr;
    QLabel* m_resultsSummary = nullptr;
    QPushButton* m_resultsLink = nullptr;
    QPushButton* m_sortDownloads = nullptr;
    QPushButton* m_refreshDisks = nullptr;
    QGridLayout* m_diskGrid = nullptr;
    QLabel* m_noDisks = nullptr;
    std::optional<ScanCategory> m_scanning;
};
