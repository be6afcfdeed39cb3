#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <optional>

// A stand-in for the applesmc driver's sysfs folder under a temporary root:
// plain files with the attribute names and the driver's text values.
class FakeApplesmcTree
{
public:
    // device: the driver folder below the root; subfolder: where in it the
    // attributes lie ("" or "hwmon/hwmon3").
    explicit FakeApplesmcTree(const QString& device = QStringLiteral("/sys/devices/platform/applesmc.768"),
                              const QString& subfolder = QString())
        : m_folder(m_root.path() + device + (subfolder.isEmpty() ? QString() : QLatin1Char('/') + subfolder))
    {
        QDir().mkpath(m_folder);
    }

    QString root() const { return m_root.path(); }
    QString attributeFolder() const { return m_folder; }

    // fan<n>_input/min/max/output/manual and, when label is set, fan<n>_label
    // (n counted from 1).
    void addFan(int n, int input, int minimum, int maximum, int output, const std::optional<QByteArray>& label)
    {
        const QString prefix = QStringLiteral("fan%1_").arg(n);
        const std::pair<const char*, int> values[] = {
            {"input", input}, {"min", minimum}, {"max", maximum}, {"output", output}, {"manual", 0}};
        for (const auto& [name, value] : values)
            writeAttribute(prefix + QLatin1String(name), QByteArray::number(value) + '\n');
        if (label)
            writeAttribute(prefix + QStringLiteral("label"), *label + '\n');
    }
    // temp<n>_label holding the key and temp<n>_input in millidegrees.
    void addTemperature(int n, const QByteArray& key, int millidegrees)
    {
        writeAttribute(QStringLiteral("temp%1_label").arg(n), key + '\n');
        writeAttribute(QStringLiteral("temp%1_input").arg(n), QByteArray::number(millidegrees) + '\n');
    }
    void writeAttribute(const QString& name, const QByteArray& text) { write(m_folder + QLatin1Char('/') + name, text); }
    std::optional<QByteArray> attribute(const QString& name) const
    {
        QFile file(m_folder + QLatin1Char('/') + name);
        return file.open(QIODevice::ReadOnly) ? std::optional(file.readAll().trimmed()) : std::nullopt;
    }
    // The "hw.model" the machine's firmware table reports.
    void setModel(const QByteArray& model)
    {
        QDir().mkpath(m_root.path() + QStringLiteral("/sys/class/dmi/id"));
        write(m_root.path() + QStringLiteral("/sys/class/dmi/id/product_name"), model + '\n');
    }

private:
    static void write(const QString& path, const QByteArray& text)
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(text);
    }

    QTemporaryDir m_root;
    QString m_folder;
};
