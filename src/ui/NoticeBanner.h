#pragma once

#include "CardFrame.h"

class QHBoxLayout;
class QLabel;
class QPushButton;

// A tinted card that tells the user one thing and offers actions: icon,
// bold title, a wrapped message and buttons on the right. Used for the
// update and full-disk-access notices on the overview.
class NoticeBanner : public CardFrame
{
    Q_OBJECT
public:
    explicit NoticeBanner(QWidget* parent = nullptr);

    void setIcon(const QString& symbolName);
    void setTitle(const QString& title);
    // An empty message hides the second line.
    void setMessage(const QString& message);
    QString title() const;
    QString message() const;

    // Adds a button on the right; the banner owns it.
    QPushButton* addButton(const QString& text, bool primary = false);
    // Removes every button (the update banner changes its buttons with its state).
    void clearButtons();
    QList<QPushButton*> buttons() const { return m_buttons; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void refreshIcon();

    QLabel* m_icon = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_message = nullptr;
    QHBoxLayout* m_buttonRow = nullptr;
    QList<QPushButton*> m_buttons;
    QString m_symbol;
};
