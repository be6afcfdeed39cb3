#pragma once

#include <QWidget>

class QPushButton;

// Stands alone when the region check blocked the program: the mark, why, and
// one way out. Nothing else of the program is reachable from here.
class RegionBlockedView : public QWidget
{
    Q_OBJECT
public:
    explicit RegionBlockedView(QWidget* parent = nullptr);

    QPushButton* quitButton() const { return m_quit; }

Q_SIGNALS:
    // "Выйти" was pressed; the application object ends the program.
    void quitRequested();

private:
    QPushButton* m_quit;
};
