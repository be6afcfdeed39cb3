#pragma once

#include <QWidget>

// A small painted pill with an icon and one line of text; the overview's top
// bar shows the freed space and the disk fill in two of them.
class StatChip : public QWidget
{
    Q_OBJECT
public:
    explicit StatChip(const QString& symbolName, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    static constexpr int chipHeight = 30;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    QString m_text;
};
