#pragma once

#include <QString>

#include <memory>
#include <optional>

struct OsVersion
{
    QString name; // "macOS", "Linux"
    int major = 0;
    int minor = 0;
    int patch = 0;
};

// Facts about the machine, looked up by the system-control names the product
// was designed around ("hw.model", "machdep.cpu.brand_string",
// "hw.physicalcpu"); each platform maps them to what it has.
class SystemFacts
{
public:
    virtual ~SystemFacts() = default;

    virtual std::optional<QString> string(const QString& name) const = 0;
    virtual std::optional<quint64> integer(const QString& name) const = 0;
    // Logical processors available to the process.
    virtual qint64 processorCount() const = 0;
    virtual quint64 physicalMemory() const = 0;
    virtual OsVersion osVersion() const = 0;
};

using SystemFactsPtr = std::shared_ptr<const SystemFacts>;
