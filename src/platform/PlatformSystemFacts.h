#pragma once

#include "SystemFacts.h"

// The running machine's facts. On Linux: "hw.model" is the DMI product name
// (a Mac running Linux reports its model identifier there), the processor
// brand comes from /proc/cpuinfo, physical cores are the distinct
// (package, core) pairs, memory and the kernel version from the kernel.
class PlatformSystemFacts : public SystemFacts
{
public:
    // root replaces "/" for the files read (/sys, /proc), for tests.
    explicit PlatformSystemFacts(QString root = QString());

    std::optional<QString> string(const QString& name) const override;
    std::optional<quint64> integer(const QString& name) const override;
    qint64 processorCount() const override;
    quint64 physicalMemory() const override;
    OsVersion osVersion() const override;

    // "6.1.0-18-amd64" → Linux 6.1.0; "6.6.20+rpt-rpi-v8" → Linux 6.6.20.
    static OsVersion parseKernelRelease(const QString& release);

private:
    QString m_root;
};
