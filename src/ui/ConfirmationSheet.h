#pragma once

#include "Confirmer.h"

#include <QDialog>

class ProminentButton;
class QLabel;
class QPushButton;

// A question in the window's own look: a card over the window with the
// title, the message wrapped to a width that fits it, "Отмена" and the
// confirming button. A destructive action is filled in the palette's
// destructive colour and is never the default: Return then cancels, as
// Escape always does; otherwise Return confirms. Without a confirm text it
// is an alert with the cancel button alone. Window-modal, opened with
// open(); accepted means confirmed.
class ConfirmationSheet : public QDialog
{
    Q_OBJECT
public:
    explicit ConfirmationSheet(const ConfirmationRequest& request, QWidget* parent = nullptr);

    ProminentButton* confirmButton() const { return m_confirm; }
    QPushButton* cancelButton() const { return m_cancel; }
    QLabel* messageLabel() const { return m_message; }
    // The buttons offered, left to right.
    QList<QPushButton*> buttons() const;

    static constexpr int minimumWidth = 360;
    static constexpr int maximumWidth = 560;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QLabel* m_message = nullptr;
    QPushButton* m_cancel = nullptr;
    ProminentButton* m_confirm = nullptr;
};
