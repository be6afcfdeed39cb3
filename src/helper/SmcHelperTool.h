#pragma once

#include "fans/SmcMachine.h"

#include <QByteArrayList>
#include <QString>

#include <optional>

// What brisko-smc-helper does, kept out of its main() so that it can be
// tested against the simulator and a fake driver tree. The helper runs as
// root, so it trusts nothing it is given: the argument list must be exactly
// "set-percent N" (N a plain decimal integer 0…100) or "auto".
class SmcHelperTool
{
public:
    // Exit statuses; all below 126, which pkexec keeps for itself.
    static constexpr int exitSuccess = 0;
    static constexpr int exitFailed = 1;
    static constexpr int exitUsage = 2;

    struct Command
    {
        enum class Kind { setPercent, automatic };
        Kind kind = Kind::automatic;
        int percent = 0;
    };

    static std::optional<Command> parse(const QByteArrayList& arguments, QString* error);
    // Parses and carries out the arguments on the machine's SMC. On failure
    // message holds what to print on standard error.
    static int run(const QByteArrayList& arguments, const SmcMachine& machine, QString* message);

    static QString usage();
};
