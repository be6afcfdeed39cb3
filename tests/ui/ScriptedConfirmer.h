#pragma once

#include "Confirmer.h"

#include <QList>

// Answers confirmations from a script instead of opening dialogs: every
// request is recorded; answer is given at once unless hold is set, in which
// case the answer waits in pending until the test calls answerPending.
class ScriptedConfirmer : public Confirmer
{
public:
    void confirm(QWidget*, const ConfirmationRequest& request, std::function<void(bool)> done) override
    {
        requests.append(request);
        if (hold)
            pending.append(std::move(done));
        else
            done(answer);
    }
    void answerPending(bool confirmed)
    {
        const auto waiting = std::exchange(pending, {});
        for (const auto& done : waiting)
            done(confirmed);
    }

    bool answer = false;
    bool hold = false;
    QList<ConfirmationRequest> requests;
    QList<std::function<void(bool)>> pending;
};
