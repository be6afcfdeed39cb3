#pragma once

#include "WindowServices.h"

#include <QDialog>

class IconTextLine;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// "Написать разработчику": a message, an optional reply address and the
// diagnostics switch, sent through the feedback service. Opened with open()
// (window-modal, no nested event loop). "Отправить" stays disabled and reads
// "Отправка…" while the service is sending; the service's last result is the
// line at the bottom. A sent message is cleared from the form.
class FeedbackSheet : public QDialog
{
    Q_OBJECT

public:
    explicit FeedbackSheet(const WindowServices& services, QWidget* parent = nullptr);

    QPushButton* sendButton() const { return m_send; }
    QPushButton* closeButton() const { return m_close; }
    QPlainTextEdit* messageEdit() const { return m_message; }
    QLineEdit* emailEdit() const { return m_email; }
    QCheckBox* diagnosticsSwitch() const { return m_diagnostics; }
    IconTextLine* resultLine() const { return m_result; }

    void send();

private:
    void updateSending();
    void updateResult();
    void updateIcons();

    WindowServices m_services;
    QPlainTextEdit* m_message;
    QLineEdit* m_email;
    QCheckBox* m_diagnostics;
    QPushButton* m_close;
    QPushButton* m_send;
    IconTextLine* m_result;
    bool m_clearWhenSent = false;
};
