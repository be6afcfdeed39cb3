#include "MoveRecords.h"

#include "platform/StoredNumbers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringDecoder>

#include <cmath>

namespace {

QString uuidText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> uuidFrom(const QJsonValue& value)
{
    if (!value.isString()) {
        return std::nullopt;
    }
    const QUuid id = QUuid::fromString(value.toString());
    if (id.isNull() && value.toString() != QLatin1String("00000000-0000-0000-0000-000000000000")) {
        return std::nullopt;
    }
    return id;
}

bool isUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    return !decoder.hasError();
}

void writePath(QJsonObject* object, const QString& key, const FilePath& path)
{
    object->insert(key, QString::fromUtf8(path.native()));
    if (!isUtf8(path.native())) {
        object->insert(key + QStringLiteral("Native"), QString::fromLatin1(path.native().toBase64()));
    }
}

std::optional<FilePath> readPath(const QJsonObject& object, const QString& key)
{
    const QJsonValue native = object.value(key + QStringLiteral("Native"));
    if (native.isString()) {
        const auto decoded = QByteArray::fromBase64Encoding(native.toString().toLatin1());
        if (decoded) {
            return FilePath(*decoded);
        }
        return std::nullopt;
    }
    const QJsonValue text = object.value(key);
    if (!text.isString()) {
        return std::nullopt;
    }
    return FilePath(text.toString().toUtf8());
}

std::optional<qint64> integerFrom(const QJsonValue& value)
{
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double d = value.toDouble();
    if (!StoredNumbers::isCount(d)) {
        return std::nullopt;
    }
    return value.toInteger(qint64(d));
}

} // namespace

QJsonObject MoveRecord::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("id"), uuidText(id));
    writePath(&o, QStringLiteral("originalPath"), originalPath);
    writePath(&o, QStringLiteral("destinationPath"), destinationPath);
    o.insert(QLatin1String("size"), size);
    o.insert(QLatin1String("movedAt"), movedAt);
    return o;
}

std::optional<MoveRecord> MoveRecord::fromJson(const QJsonObject& o)
{
    MoveRecord r;
    const std::optional<QUuid> id = uuidFrom(o.value(QLatin1String("id")));
    const std::optional<FilePath> original = readPath(o, QStringLiteral("originalPath"));
    const std::optional<FilePath> destination = readPath(o, QStringLiteral("destinationPath"));
    const std::optional<qint64> size = integerFrom(o.value(QLatin1String("size")));
    const QJsonValue movedAt = o.value(QLatin1String("movedAt"));
    if (!id || !original || !destination || !size || !movedAt.isDouble()
        || !StoredNumbers::isReferenceDate(movedAt.toDouble())) {
        return std::nullopt;
    }
    // Undo puts items back where they were: only absolute places count.
    if (!original->native().startsWith('/') || !destination->native().startsWith('/')) {
        return std::nullopt;
    }
    r.id = *id;
    r.originalPath = *original;
    r.destinationPath = *destination;
    r.size = *size;
    r.movedAt = movedAt.toDouble();
    return r;
}

std::optional<QByteArray> MoveBatch::toJson() const
{
    if (!std::isfinite(createdAt)) {
        return std::nullopt;
    }
    QJsonArray list;
    for (const MoveRecord& record : records) {
        if (!std::isfinite(record.movedAt)) {
            return std::nullopt;
        }
        list.append(record.toJson());
    }
    QJsonObject o;
    o.insert(QLatin1String("id"), uuidText(id));
    o.insert(QLatin1String("records"), list);
    o.insert(QLatin1String("createdAt"), createdAt);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<MoveBatch> MoveBatch::fromJson(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    const std::optional<QUuid> id = uuidFrom(o.value(QLatin1String("id")));
    const QJsonValue records = o.value(QLatin1String("records"));
    const QJsonValue createdAt = o.value(QLatin1String("createdAt"));
    if (!id || !records.isArray() || !createdAt.isDouble() || !StoredNumbers::isReferenceDate(createdAt.toDouble())) {
        return std::nullopt;
    }
    MoveBatch batch;
    batch.id = *id;
    batch.createdAt = createdAt.toDouble();
    for (const QJsonValue& value : records.toArray()) {
        if (!value.isObject()) {
            return std::nullopt;
        }
        const std::optional<MoveRecord> record = MoveRecord::fromJson(value.toObject());
        if (!record) {
            return std::nullopt;
        }
        batch.records.append(*record);
    }
    return batch;
}
