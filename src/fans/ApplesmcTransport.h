#pragma once

#include "platform/SmcTransport.h"

#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <optional>

// The SMC as the Linux "applesmc" driver shows it in sysfs, answering the
// same requests as the controller itself:
//
// - "FNum" (ui8) is the number of fans (fan1_input, fan2_input, …);
// - F<i>Ac, F<i>Mn, F<i>Mx, F<i>Tg (fpe2) are fan<i+1>_input, _min, _max and
//   _output; F<i>ID (ch8*) is fan<i+1>_label; F<i>Md (ui8) is fan<i+1>_manual;
// - a temperature key (flt, °C) is the temp<N>_input whose temp<N>_label
//   names it;
// - writes reach fan<i+1>_manual and fan<i+1>_output only;
// - every other key answers "not found".
//
// The driver's folder is /sys/devices/platform/applesmc.768, or the ACPI
// device APP0001:00 on newer machines; the attributes lie in it or in its
// hwmon/hwmon<N> subfolder. A write the process may not make fails as not
// privileged, as the user client does for an unprivileged caller.
class ApplesmcTransport : public SmcTransport
{
public:
    // root replaces "/" (for tests).
    explicit ApplesmcTransport(QString root = QString());

    // The folder holding the attributes; nothing when the driver is absent.
    std::optional<QString> attributeFolder() const;
    static QStringList deviceFolders();

    quint32 findService(const QByteArray& className) override;
    void releaseService(quint32 service) override;
    quint32 openConnection(quint32 service, quint32 type) override;
    quint32 callStructMethod(quint32 connection, quint32 selector, const Buffer& input, Buffer* output) override;
    void closeConnection(quint32 connection) override;

private:
    struct Attribute
    {
        QString path;
        QByteArray type;
        enum Kind { fanCount, speed, label, manual, temperature } kind;
        bool writable = false;
    };

    std::optional<Attribute> attributeFor(const QString& folder, const QByteArray& key) const;
    static int fanCount(const QString& folder);
    static std::optional<QByteArray> readAttribute(const QString& path);

    const QString m_root;
    mutable QMutex m_mutex;
    quint32 m_nextConnection = 1;
    QHash<quint32, QString> m_connections;
};
