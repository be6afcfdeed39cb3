#include "FakeApplesmcTree.h"

#include <QDir>
#include <QFile>

FakeApplesmcTree::FakeApplesmcTree(const QString& device, const QString& subfolder)
{
    m_folder = m_root.path() + device + (subfolder.isEmpty() ? QString() : QLatin1Char('/') + subfolder);
    QDir().mkpath(m_folder);
}

void FakeApplesmcTree::writeAttribute(const QString& name, const QByteArray& text)
{
    QFile file(m_folder + QLatin1Char('/') + name);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(text);
    }
}

std::optional<QByteArray> FakeApplesmcTree::attribute(const QString& name) const
{
    QFile file(m_folder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll().trimmed();
}

void FakeApplesmcTree::addFan(int n, int input, int minimum, int maximum, int output,
                              const std::optional<QByteArray>& label)
{
    const QString prefix = QStringLiteral("fan%1_").arg(n);
    writeAttribute(prefix + QStringLiteral("input"), QByteArray::number(input) + '\n');
    writeAttribute(prefix + QStringLiteral("min"), QByteArray::number(minimum) + '\n');
    writeAttribute(prefix + QStringLiteral("max"), QByteArray::number(maximum) + '\n');
    writeAttribute(prefix + QStringLiteral("output"), QByteArray::number(output) + '\n');
    writeAttribute(prefix + QStringLiteral("manual"), "0\n");
    if (label) {
        writeAttribute(prefix + QStringLiteral("label"), *label + '\n');
    }
}

void FakeApplesmcTree::addTemperature(int n, const QByteArray& key, int millidegrees)
{
    writeAttribute(QStringLiteral("temp%1_label").arg(n), key + '\n');
    writeAttribute(QStringLiteral("temp%1_input").arg(n), QByteArray::number(millidegrees) + '\n');
}

void FakeApplesmcTree::setModel(const QByteArray& model)
{
    const QString folder = m_root.path() + QStringLiteral("/sys/class/dmi/id");
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/product_name"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(model + '\n');
    }
}
