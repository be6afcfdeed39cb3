#pragma once

#include <QString>

#include <functional>

class QWidget;

// What a confirmation asks: the texts of a two-button question.
struct ConfirmationRequest
{
    QString title;
    QString message;
    QString confirmText;
    QString cancelText = QStringLiteral("Отмена");
    // The confirming button is styled as destructive (deleting to the Trash).
    bool destructive = false;
    // Return confirms; otherwise (and always for a destructive action) it cancels.
    bool confirmIsDefault = true;
};

// Asks the user before a destructive operation. The answer arrives later
// through done (true = confirmed), never by blocking the caller, so the main
// flow never runs a nested event loop. done is called exactly once, on the
// main thread, unless parent is destroyed first.
//
// The window uses DialogConfirmer; tests hand in one that answers by script.
class Confirmer
{
public:
    virtual ~Confirmer() = default;
    virtual void confirm(QWidget* parent, const ConfirmationRequest& request, std::function<void(bool)> done) = 0;
};
