#pragma once

#include "PausingClock.h"
#include "platform/SmcTransport.h"

#include <QString>

#include <optional>

// The SMC this process talks to and the model identifier of the machine it
// belongs to. Normally that is this machine, through the Linux "applesmc"
// driver; the variable BRISKO_SMC picks another:
//
//   sim:PROFILE[:readonly]   the simulator with one of its profiles; with
//                            "readonly" every write is refused
//   applesmc:ROOT            the driver's files under ROOT instead of "/"
//   none                     no SMC at all
struct SmcMachine
{
    SmcTransportPtr transport; // null when there is none
    PausingClockPtr clock;
    // "hw.model" of the machine; nothing when it cannot be read.
    std::optional<QString> modelIdentifier;

    static inline const char* environmentVariable = "BRISKO_SMC";

    // The choice by description or from the environment, which can give the
    // simulator, is defined in SmcMachineSelection.cpp and built into
    // brisko_fans only: the root helper links brisko_smc and talks to this
    // machine's driver alone.
    //
    // Nothing, with error set, for a description that names no SMC.
    static std::optional<SmcMachine> fromDescription(const QString& description, PausingClockPtr clock,
                                                     QString* error);
    // BRISKO_SMC, or this machine when it is unset or empty. An invalid
    // value gives a machine without SMC (and a warning on standard error).
    static SmcMachine fromEnvironment();
    // This machine, whatever the environment says.
    static SmcMachine platform();
    static std::optional<QString> modelIdentifierFromEnvironment();
};
