#pragma once

#include "Confirmer.h"

// Confirmations as the window's own ConfirmationSheet, opened with open().
class DialogConfirmer : public Confirmer
{
public:
    void confirm(QWidget* parent, const ConfirmationRequest& request, std::function<void(bool)> done) override;
};
