#include "ApplesmcTransport.h"

#include "SMCParamStruct.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr quint32 serviceHandle = 0x768;
constexpr int maximumFans = 10; // keys are four characters: one digit of fan index

bool hasAttributes(const QString& folder)
{
    const QDir dir(folder);
    return !dir.entryList({QStringLiteral("fan*_input"), QStringLiteral("temp*_label")}, QDir::Files).isEmpty();
}

QByteArray fpe2(qint64 rpm)
{
    QByteArray bytes(2, '\0');
    qToBigEndian<quint16>(quint16(qBound(qint64(0), rpm, qint64(0x3FFF)) * 4), bytes.data());
    return bytes;
}

std::optional<qint64> parseInteger(const QByteArray& text)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

// 0 on success, else the errno of the failure.
int writeAttribute(const QString& path, const QByteArray& text)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int error = 0;
    if (::write(fd, text.constData(), size_t(text.size())) != text.size()) {
        error = errno ? errno : EIO;
    }
    ::close(fd);
    return error;
}

} // namespace

ApplesmcTransport::ApplesmcTransport(QString root)
    : m_root(std::move(root))
{
}

QStringList ApplesmcTransport::deviceFolders()
{
    return {QStringLiteral("/sys/devices/platform/applesmc.768"), QStringLiteral("/sys/bus/acpi/devices/APP0001:00")};
}

std::optional<QString> ApplesmcTransport::attributeFolder() const
{
    for (const QString& device : deviceFolders()) {
        const QString folder = m_root + device;
        if (!QFileInfo(folder).isDir()) {
            continue;
        }
        if (hasAttributes(folder)) {
            return folder;
        }
        const QDir hwmon(folder + QStringLiteral("/hwmon"));
        for (const QString& name : hwmon.entryList({QStringLiteral("hwmon*")}, QDir::Dirs, QDir::Name)) {
            if (hasAttributes(hwmon.filePath(name))) {
                return hwmon.filePath(name);
            }
        }
        return folder;
    }
    return std::nullopt;
}

quint32 ApplesmcTransport::findService(const QByteArray& className)
{
    return className == "AppleSMC" && attributeFolder() ? serviceHandle : 0;
}

void ApplesmcTransport::releaseService(quint32) {}

quint32 ApplesmcTransport::openConnection(quint32 service, quint32 type)
{
    if (service != serviceHandle || type != 0) {
        return 0;
    }
    const std::optional<QString> folder = attributeFolder();
    if (!folder) {
        return 0;
    }
    QMutexLocker lock(&m_mutex);
    const quint32 connection = m_nextConnection++;
    m_connections.insert(connection, *folder);
    return connection;
}

void ApplesmcTransport::closeConnection(quint32 connection)
{
    QMutexLocker lock(&m_mutex);
    m_connections.remove(connection);
}

int ApplesmcTransport::fanCount(const QString& folder)
{
    int count = 0;
    while (count < maximumFans && QFileInfo::exists(folder + QStringLiteral("/fan%1_input").arg(count + 1))) {
        ++count;
    }
    return count;
}

std::optional<QByteArray> ApplesmcTransport::readAttribute(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll();
}

std::optional<ApplesmcTransport::Attribute> ApplesmcTransport::attributeFor(const QString& folder,
                                                                            const QByteArray& key) const
{
    if (key == "FNum") {
        return Attribute{folder, "ui8 ", Attribute::fanCount};
    }
    if (key.size() == 4 && key.at(0) == 'F' && key.at(1) >= '0' && key.at(1) <= '9') {
        const int fan = key.at(1) - '0' + 1;
        const QByteArray suffix = key.mid(2);
        const auto fanFile = [&](const char* name) { return folder + QStringLiteral("/fan%1_").arg(fan) + QLatin1String(name); };
        std::optional<Attribute> attribute;
        if (suffix == "Ac") {
            attribute = Attribute{fanFile("input"), "fpe2", Attribute::speed};
        } else if (suffix == "Mn") {
            attribute = Attribute{fanFile("min"), "fpe2", Attribute::speed};
        } else if (suffix == "Mx") {
            attribute = Attribute{fanFile("max"), "fpe2", Attribute::speed};
        } else if (suffix == "Tg") {
            attribute = Attribute{fanFile("output"), "fpe2", Attribute::speed, true};
        } else if (suffix == "ID") {
            attribute = Attribute{fanFile("label"), "ch8*", Attribute::label};
        } else if (suffix == "Md") {
            attribute = Attribute{fanFile("manual"), "ui8 ", Attribute::manual, true};
        }
        if (attribute && QFileInfo::exists(attribute->path)) {
            return attribute;
        }
        return std::nullopt;
    }
    if (key.startsWith('T')) {
        const QDir dir(folder);
        for (const QString& name : dir.entryList({QStringLiteral("temp*_label")}, QDir::Files, QDir::Name)) {
            const std::optional<QByteArray> label = readAttribute(dir.filePath(name));
            if (label && label->trimmed() == key) {
                QString input = name;
                input.replace(QLatin1String("_label"), QLatin1String("_input"));
                if (QFileInfo::exists(dir.filePath(input))) {
                    return Attribute{dir.filePath(input), "flt ", Attribute::temperature};
                }
            }
        }
    }
    return std::nullopt;
}

quint32 ApplesmcTransport::callStructMethod(quint32 connection, quint32 selector, const Buffer& input, Buffer* output)
{
    QString folder;
    {
        QMutexLocker lock(&m_mutex);
        const auto it = m_connections.constFind(connection);
        if (it == m_connections.constEnd()) {
            return statusNotOpen;
        }
        folder = *it;
    }
    if (selector != SMCParamStruct::methodSelector || !output) {
        return statusBadArgument;
    }
    const SMCParamStruct request = SMCParamStruct::parse(input);
    SMCParamStruct reply;
    reply.key = request.key;
    const auto finish = [&](quint8 result) {
        reply.result = result;
        *output = reply.serialize();
        return statusSuccess;
    };

    const std::optional<Attribute> attribute = attributeFor(folder, SMCParamStruct::codeBytes(request.key));
    if (!attribute) {
        return finish(SMCParamStruct::resultKeyNotFound);
    }

    // The value now in the attribute, in the key's type.
    QByteArray value;
    if (attribute->kind == Attribute::fanCount) {
        value = QByteArray(1, char(fanCount(folder)));
    } else {
        const std::optional<QByteArray> text = readAttribute(attribute->path);
        if (!text) {
            return finish(SMCParamStruct::resultKeyNotReadable);
        }
        if (attribute->kind == Attribute::label) {
            value = text->trimmed().left(SMCParamStruct::bytesCapacity);
        } else {
            const std::optional<qint64> number = parseInteger(*text);
            if (!number) {
                return finish(SMCParamStruct::resultError);
            }
            if (attribute->kind == Attribute::speed) {
                value = fpe2(*number);
            } else if (attribute->kind == Attribute::manual) {
                value = QByteArray(1, char(qBound(qint64(0), *number, qint64(255))));
            } else {
                // Millidegrees Celsius.
                value = QByteArray(4, '\0');
                qToLittleEndian<float>(float(double(*number) / 1000.0), value.data());
            }
        }
    }

    switch (request.command) {
    case SMCParamStruct::commandReadKeyInfo:
        reply.dataSize = quint32(value.size());
        reply.dataType = qFromBigEndian<quint32>(attribute->type.constData());
        return finish(SMCParamStruct::resultSuccess);
    case SMCParamStruct::commandReadBytes:
        if (request.dataSize != quint32(value.size())) {
            return finish(SMCParamStruct::resultKeySizeMismatch);
        }
        reply.dataSize = request.dataSize;
        reply.setValue(value);
        return finish(SMCParamStruct::resultSuccess);
    case SMCParamStruct::commandWriteBytes: {
        if (!attribute->writable) {
            return finish(SMCParamStruct::resultKeyNotWritable);
        }
        if (request.dataSize != quint32(value.size())) {
            return finish(SMCParamStruct::resultKeySizeMismatch);
        }
        const QByteArray data = request.value(request.dataSize);
        const qint64 number = attribute->kind == Attribute::manual
            ? qint64(quint8(data.at(0)))
            : qint64(qFromBigEndian<quint16>(data.constData()) / 4);
        const int error = writeAttribute(attribute->path, QByteArray::number(number));
        if (error == EACCES || error == EPERM || error == EROFS) {
            return statusNotPrivileged;
        }
        return finish(error == 0 ? SMCParamStruct::resultSuccess : SMCParamStruct::resultError);
    }
    default:
        return finish(SMCParamStruct::resultBadCommand);
    }
}
