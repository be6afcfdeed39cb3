#pragma once

#include <QWidget>

class AppState;
class QPushButton;
class QTextBrowser;

// The licence agreement, asked once: the text to read (scrollable,
// selectable), "Выйти" and "Принимаю" (the default button, on Return).
// Accepting stores the acceptance with its time through the application
// state; the gate then moves on by itself.
class EULAAcceptanceView : public QWidget
{
    Q_OBJECT
public:
    EULAAcceptanceView(AppState* appState, QWidget* parent = nullptr);

    // The agreement: a heading line, numbered sections, the closing line.
    static QString agreementText();
    // The same text as rich text for the viewer.
    static QString agreementHtml();

    QTextBrowser* textView() const { return m_text; }
    QPushButton* acceptButton() const { return m_accept; }
    QPushButton* quitButton() const { return m_quit; }

Q_SIGNALS:
    void quitRequested();

private:
    AppState* m_appState;
    QTextBrowser* m_text;
    QPushButton* m_accept;
    QPushButton* m_quit;
};
