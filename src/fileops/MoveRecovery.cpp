#include "MoveRecovery.h"

#include <QJsonArray>

QString MoveRecovery::statusLine() const
{
    QString line = QStringLiteral("Восстановлено после сбоя: ");
    if (!batchId.isNull() && undo) {
        line += QStringLiteral("прерванная отмена переноса — осталось в архиве и в журнале %1, довершено %2, "
                               "не тронуто %3")
                    .arg(recorded)
                    .arg(completed)
                    .arg(rolledBack);
    } else if (!batchId.isNull()) {
        line += QStringLiteral("прерванный перенос — в журнале %1 (из них довершено %2), возвращено на место %3")
                    .arg(recorded)
                    .arg(completed)
                    .arg(rolledBack);
    } else {
        line += QStringLiteral("прерванных переносов нет");
    }
    line += QStringLiteral(", удалено неполных копий: %1").arg(swept);
    if (!errors.isEmpty()) {
        line += QStringLiteral(", ошибок: %1").arg(errors.size());
    }
    return line;
}

QJsonObject MoveRecovery::toJson() const
{
    QJsonObject o;
    o.insert(QLatin1String("batchId"),
             batchId.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(batchId.toString(QUuid::WithoutBraces).toUpper()));
    o.insert(QLatin1String("undo"), undo);
    o.insert(QLatin1String("recorded"), recorded);
    o.insert(QLatin1String("completed"), completed);
    o.insert(QLatin1String("rolledBack"), rolledBack);
    o.insert(QLatin1String("swept"), swept);
    o.insert(QLatin1String("errors"), QJsonArray::fromStringList(errors));
    return o;
}
