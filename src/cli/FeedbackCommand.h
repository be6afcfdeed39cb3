#pragma once

#include "CliCommand.h"

// brisko feedback MESSAGE [--email E] [--diagnostics] [--offline]: sends a
// message to the developers, as the feedback form does.
class FeedbackCommand : public CliCommand
{
public:
    using CliCommand::CliCommand;

    QString name() const override;
    QString synopsis() const override;
    QString summary() const override;
    QString details() const override;
    CommandResult run(const QStringList& arguments, Console& console) override;
};
