#pragma once

#include <QWidget>

class QLabel;
class QVBoxLayout;

// A card with an optional heading and a padded body: the frame of every
// settings group and overview panel. The surface is CardFrame's, painted from
// the Theme, so it follows the palette; children go into body().
class PanelCard : public QWidget
{
    Q_OBJECT

public:
    explicit PanelCard(const QString& title = QString(), QWidget* parent = nullptr);

    QVBoxLayout* body() const { return m_body; }
    // Null for a card without a heading.
    QLabel* titleLabel() const { return m_title; }

    // A secondary-coloured, wrapping caption for notes under controls.
    static QLabel* makeNote(const QString& text, QWidget* parent = nullptr);
    // A bold heading inside a card (sub-sections, list titles).
    static QLabel* makeHeading(const QString& text, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void applyFonts();

    QLabel* m_title = nullptr;
    QVBoxLayout* m_body = nullptr;
};
