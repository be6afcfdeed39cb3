#include "AppleSMC.h"

#include <QtEndian>

#include <unicode/ucnv.h>

#include <cmath>
#include <cstring>

namespace {

constexpr std::chrono::milliseconds manualRetryPause(100);
constexpr std::chrono::milliseconds unlockPollPause(200);
constexpr int unlockPolls = 50;
constexpr int unlockManualAttempts = 25;
constexpr double maximumFloatRPM = 20000.0;
// Unsigned 14.2 fixed point: the largest speed two bytes can carry.
constexpr int maximumFpe2RPM = 0xFFFF / 4;

bool isFpe2(const QString& type)
{
    return type.startsWith(QLatin1String("fpe2"));
}

} // namespace

AppleSMC::AppleSMC(SmcTransportPtr transport, PausingClockPtr clock)
    : m_transport(std::move(transport))
    , m_clock(std::move(clock))
{
}

AppleSMC::~AppleSMC()
{
    close();
}

bool AppleSMC::open()
{
    close();
    if (!m_transport) {
        return false;
    }
    const quint32 service = m_transport->findService(QByteArrayLiteral("AppleSMC"));
    if (service == 0) {
        return false;
    }
    m_connection = m_transport->openConnection(service, 0);
    m_transport->releaseService(service);
    return m_connection != 0;
}

void AppleSMC::close()
{
    if (m_connection != 0) {
        m_transport->closeConnection(m_connection);
        m_connection = 0;
    }
}

std::optional<quint32> AppleSMC::keyCode(const QString& key)
{
    const QList<uint> scalars = key.toUcs4();
    if (scalars.size() != 4) {
        return std::nullopt;
    }
    quint32 code = 0;
    for (uint scalar : scalars) {
        // A scalar wider than a byte would spill into its neighbour and
        // address some other key.
        if (scalar > 0xFF) {
            return std::nullopt;
        }
        code = code * 256 + scalar;
    }
    return code;
}

QString AppleSMC::typeText(quint32 code)
{
    const QByteArray bytes = SMCParamStruct::codeBytes(code);
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open("macintosh", &status);
    if (U_FAILURE(status) || !converter) {
        return QStringLiteral("????");
    }
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    UChar text[16];
    const int32_t length = ucnv_toUChars(converter, text, 16, bytes.constData(), int32_t(bytes.size()), &status);
    ucnv_close(converter);
    if (U_FAILURE(status)) {
        return QStringLiteral("????");
    }
    return QString(reinterpret_cast<const QChar*>(text), length);
}

std::optional<SMCParamStruct> AppleSMC::call(const SMCParamStruct& request)
{
    if (m_connection == 0) {
        return std::nullopt;
    }
    SmcTransport::Buffer output{};
    const quint32 status =
        m_transport->callStructMethod(m_connection, SMCParamStruct::methodSelector, request.serialize(), &output);
    if (status != SmcTransport::statusSuccess) {
        return std::nullopt;
    }
    SMCParamStruct answer = SMCParamStruct::parse(output);
    if (answer.result != SMCParamStruct::resultSuccess) {
        return std::nullopt;
    }
    return answer;
}

std::optional<AppleSMC::KeyInfo> AppleSMC::keyInfo(const QString& key)
{
    const std::optional<quint32> code = keyCode(key);
    if (!code || m_connection == 0) {
        return std::nullopt;
    }
    SMCParamStruct request;
    request.key = *code;
    request.command = SMCParamStruct::commandReadKeyInfo;
    const std::optional<SMCParamStruct> answer = call(request);
    if (!answer) {
        return std::nullopt;
    }
    return KeyInfo{answer->dataSize, typeText(answer->dataType)};
}

std::optional<QByteArray> AppleSMC::readKey(const QString& key)
{
    const std::optional<quint32> code = keyCode(key);
    if (!code) {
        return std::nullopt;
    }
    const std::optional<KeyInfo> info = keyInfo(key);
    if (!info || info->dataSize == 0 || info->dataSize > SMCParamStruct::bytesCapacity) {
        return std::nullopt;
    }
    SMCParamStruct request;
    request.key = *code;
    request.dataSize = info->dataSize;
    request.command = SMCParamStruct::commandReadBytes;
    const std::optional<SMCParamStruct> answer = call(request);
    if (!answer) {
        return std::nullopt;
    }
    return answer->value(info->dataSize);
}

bool AppleSMC::writeKey(const QString& key, const QByteArray& data)
{
    const std::optional<quint32> code = keyCode(key);
    if (!code) {
        return false;
    }
    const std::optional<KeyInfo> info = keyInfo(key);
    if (!info || info->dataSize == 0 || m_connection == 0) {
        return false;
    }
    SMCParamStruct request;
    request.key = *code;
    request.dataSize = info->dataSize;
    request.command = SMCParamStruct::commandWriteBytes;
    request.setValue(data);
    return call(request).has_value();
}

bool AppleSMC::writeUInt8(const QString& key, quint8 value)
{
    const std::optional<KeyInfo> info = keyInfo(key);
    if (!info) {
        return false;
    }
    QByteArray buffer(qsizetype(qMin<quint32>(info->dataSize, SMCParamStruct::bytesCapacity)), '\0');
    if (!buffer.isEmpty()) {
        buffer[0] = char(value);
    }
    return writeKey(key, buffer);
}

bool AppleSMC::canWrite()
{
    const QString probe = QStringLiteral("F0Tg");
    const std::optional<KeyInfo> info = keyInfo(probe);
    if (!info || info->dataSize == 0) {
        return false;
    }
    SMCParamStruct request;
    request.key = *keyCode(probe);
    request.dataSize = info->dataSize;
    request.command = SMCParamStruct::commandWriteBytes;
    return call(request).has_value();
}

std::optional<QString> AppleSMC::firstExistingKey(const QString& first, const QString& second)
{
    if (keyInfo(first)) {
        return first;
    }
    if (keyInfo(second)) {
        return second;
    }
    return std::nullopt;
}

std::optional<QString> AppleSMC::fanModeKey(int fanIndex)
{
    const QString prefix = QStringLiteral("F%1").arg(fanIndex);
    return firstExistingKey(prefix + QStringLiteral("md"), prefix + QStringLiteral("Md"));
}

std::optional<QString> AppleSMC::fanTargetKey(int fanIndex)
{
    const QString prefix = QStringLiteral("F%1").arg(fanIndex);
    return firstExistingKey(prefix + QStringLiteral("tg"), prefix + QStringLiteral("Tg"));
}

bool AppleSMC::tryEnterManualDirect(const QString& modeKey, int attempts)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0) {
            m_clock->pause(manualRetryPause);
        }
        const std::optional<KeyInfo> info = keyInfo(modeKey);
        if (!info || info->dataSize == 0) {
            continue;
        }
        QByteArray buffer(qsizetype(qMin<quint32>(info->dataSize, SMCParamStruct::bytesCapacity)), '\0');
        buffer[0] = 1;
        if (!writeKey(modeKey, buffer)) {
            continue;
        }
        const std::optional<QByteArray> value = readKey(modeKey);
        if (value && !value->isEmpty() && quint8(value->at(0)) == 1) {
            return true;
        }
    }
    return false;
}

bool AppleSMC::unlockFanControl(int fanIndex)
{
    const QString unlockKey = QStringLiteral("Ftst");
    if (!keyInfo(unlockKey) || !writeUInt8(unlockKey, 1)) {
        return false;
    }
    const std::optional<QString> modeKey = fanModeKey(fanIndex);
    if (!modeKey) {
        return false;
    }
    // The firmware lets go of the fan a moment after the unlock; until then
    // a manual-mode write does not stick. Running out of polls is not fatal:
    // the attempts below may still succeed.
    for (int poll = 0; poll < unlockPolls; ++poll) {
        m_clock->pause(unlockPollPause);
        const std::optional<QByteArray> value = readKey(*modeKey);
        if (value && !value->isEmpty() && value->at(0) == 0) {
            break;
        }
    }
    return tryEnterManualDirect(*modeKey, unlockManualAttempts);
}

bool AppleSMC::isFloatType(const QString& type)
{
    return type.startsWith(QLatin1String("flt")) || type.startsWith(QLatin1String("flo"));
}

std::optional<double> AppleSMC::decodeTemperature(const QByteArray& bytes, const QString& type)
{
    double celsius = 0.0;
    if (isFloatType(type) && bytes.size() >= 4) {
        celsius = double(qFromLittleEndian<float>(bytes.constData()));
    } else if (bytes.size() >= 2) {
        // Signed 8.8 fixed point.
        celsius = double(qFromBigEndian<qint16>(bytes.constData())) / 256.0;
    } else {
        return std::nullopt;
    }
    if (!(celsius > -40.0 && celsius < 130.0)) {
        return std::nullopt;
    }
    return celsius;
}

std::optional<int> AppleSMC::decodeRPM(const QByteArray& bytes, const QString& type)
{
    if (isFloatType(type) && bytes.size() >= 4) {
        const double value = std::round(double(qFromLittleEndian<float>(bytes.constData())));
        // Also keeps NaN, infinities and absurd negatives away from the
        // conversion to int.
        if (!(value >= 0.0 && value <= maximumFloatRPM)) {
            return std::nullopt;
        }
        return int(value);
    }
    if (bytes.size() < 2) {
        return std::nullopt;
    }
    if (isFpe2(type)) {
        // Unsigned 14.2 fixed point, big-endian.
        return int(qFromBigEndian<quint16>(bytes.constData()) / 4);
    }
    return int(quint8(bytes.at(0)));
}

std::optional<int> AppleSMC::decodeUInt8(const QByteArray& bytes)
{
    if (bytes.isEmpty()) {
        return std::nullopt;
    }
    return int(quint8(bytes.at(0)));
}

std::optional<QByteArray> AppleSMC::encodeRPM(int rpm, const QString& type)
{
    if (isFloatType(type)) {
        const float value = float(qBound(0.0, double(rpm), maximumFloatRPM));
        QByteArray bytes(4, '\0');
        qToLittleEndian<float>(value, bytes.data());
        return bytes;
    }
    if (isFpe2(type)) {
        QByteArray bytes(2, '\0');
        qToBigEndian<quint16>(quint16(qBound(0, rpm, maximumFpe2RPM) * 4), bytes.data());
        return bytes;
    }
    const int speed = qMax(rpm, 0);
    if (speed > 0xFF) {
        return std::nullopt;
    }
    QByteArray bytes(2, '\0');
    bytes[0] = char(speed);
    return bytes;
}
