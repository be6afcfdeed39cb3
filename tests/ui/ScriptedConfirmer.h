#pragma once

#include "Confirmer.h"

#include <QList>

// Answers confirmations from a script instead of opening dialogs: every
// request is recorded and answered at once.
class ScriptedConfirmer : public Confirmer
{
public:
    void confirm(QWidget*, const ConfirmationRequest& request, std::function<void(bool)> done) override
    {
        requests.append(request);
        done(answer);
    }

    bool answer = false;
    QList<ConfirmationRequest> requests;
};
