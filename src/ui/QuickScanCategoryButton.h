#pragma once

#include "scan/ScanCategory.h"

#include <QAbstractButton>
#include <QTimer>

// One category on the overview's quick scan: icon, title and description
// from the scan model, painted as a card. While its category is being
// scanned it shows a spinner and the "Сканирование…" caption. Disabled
// (by the owner) while the application is busy.
class QuickScanCategoryButton : public QAbstractButton
{
    Q_OBJECT
public:
    QuickScanCategoryButton(ScanCategory category, QWidget* parent = nullptr);

    ScanCategory category() const { return m_category; }
    QString title() const { return m_title; }
    QString description() const { return m_description; }
    bool isScanning() const { return m_scanning; }

    void setTexts(const QString& title, const QString& description);
    void setScanning(bool scanning);

    // Where the title (one line) and the description (up to four lines) are
    // drawn; the layout test checks the Russian texts fit them.
    QRect titleRect() const;
    QRect descriptionRect() const;
    QFont titleFont() const;
    static constexpr int buttonWidth = 245;
    // The longest description takes three full lines at the usual 9 pt, so a
    // slightly wider face or hinting needs a fourth; the height follows the
    // fonts, so a larger desktop font never cuts the description off.
    static constexpr int descriptionLines = 4;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void fitHeightToFonts();

    ScanCategory m_category;
    QString m_title;
    QString m_description;
    bool m_scanning = false;
    bool m_hovered = false;
    int m_spinnerAngle = 0;
    QTimer m_spinner;
};
