#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <optional>

// A stand-in for the applesmc driver's sysfs folder under a temporary root:
// plain files with the attribute names and the driver's text values.
class FakeApplesmcTree
{
public:
    // device: the driver folder below the root, for instance
    // "/sys/devices/platform/applesmc.768"; subfolder: where in it the
    // attributes lie ("" or "hwmon/hwmon3").
    explicit FakeApplesmcTree(const QString& device = QStringLiteral("/sys/devices/platform/applesmc.768"),
                              const QString& subfolder = QString());

    bool isValid() const { return m_root.isValid(); }
    QString root() const { return m_root.path(); }
    QString attributeFolder() const { return m_folder; }

    // fan<n>_input/min/max/output/manual and, when label is set, fan<n>_label
    // (n counted from 1).
    void addFan(int n, int input, int minimum, int maximum, int output, const std::optional<QByteArray>& label);
    // temp<n>_label holding the key and temp<n>_input in millidegrees.
    void addTemperature(int n, const QByteArray& key, int millidegrees);
    void writeAttribute(const QString& name, const QByteArray& text);
    std::optional<QByteArray> attribute(const QString& name) const;
    // The "hw.model" the machine's firmware table reports.
    void setModel(const QByteArray& model);

private:
    QTemporaryDir m_root;
    QString m_folder;
};
