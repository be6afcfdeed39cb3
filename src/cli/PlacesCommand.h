#pragma once

#include "CliCommand.h"

// brisko places [--json]: where the program looks in this home — each user
// folder, the cache and Trash folders and the default archive folder, whether
// it exists and where its location came from — so that a user can see why a
// category found nothing.
class PlacesCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;
};
