#pragma once

#include "WindowServices.h"

#include <QWidget>

class IconTextLine;
class QLabel;
class QPushButton;

// The body of the settings' "Обновления" group: the running version, the
// check, and the update service's phases (an offered version with its
// download, the install and relaunch, and failures). Without an update
// service only the running version is shown.
class UpdatesGroup : public QWidget
{
    Q_OBJECT

public:
    explicit UpdatesGroup(const WindowServices& services, QWidget* parent = nullptr);

private:
    void update();
    void act();

    WindowServices m_services;
    bool m_checked = false;
    QPushButton* m_check = nullptr;
    QLabel* m_offer = nullptr;
    QPushButton* m_action = nullptr;
    QLabel* m_instructions = nullptr;
    IconTextLine* m_status = nullptr;
};
