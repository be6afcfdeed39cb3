#pragma once

#include "scan/DiskInfo.h"

#include <QWidget>

// One volume on the overview: name and mount point, a capacity bar, the free
// space and the used space with its percentage. Painted.
class DiskCard : public QWidget
{
    Q_OBJECT
public:
    explicit DiskCard(const DiskInfo& disk, QWidget* parent = nullptr);

    const DiskInfo& disk() const { return m_disk; }
    // Used share of the total, 0 when the total is unknown.
    double usedFraction() const;
    // "Свободно: " and the formatted free space.
    QString freeText() const;
    // "Занято: ", the formatted used space and the used percentage.
    QString usedText() const;

    QSize sizeHint() const override { return {320, cardHeight}; }
    static constexpr int cardHeight = 104;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    DiskInfo m_disk;
};
