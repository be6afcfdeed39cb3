#include "CoolingDescription.h"

#include "TextTable.h"
#include "fans/CoolingSnapshot.h"
#include "base/TemperatureText.h"

QString describeCooling(const CoolingSnapshot& snapshot)
{
    QString text;
    text += QStringLiteral("Температура");
    if (snapshot.maxTemperature) {
        text += QStringLiteral(" (макс. ") + TemperatureText::celsius(*snapshot.maxTemperature, 0) + QLatin1Char(')');
    }
    text += QStringLiteral(":\n");
    if (snapshot.temperatures.isEmpty()) {
        text += QStringLiteral("  Датчики не ответили — попробуйте перезапустить вкладку.\n");
    } else {
        TextTable table({TextTable::Align::left, TextTable::Align::left, TextTable::Align::right});
        for (const TemperatureReading& reading : snapshot.temperatures) {
            table.addRow({QStringLiteral(" "), reading.label,
                          TemperatureText::celsius(reading.celsius, 1)});
        }
        text += table.render();
    }
    text += QStringLiteral("Вентиляторы:\n");
    if (snapshot.fans.isEmpty()) {
        text += QStringLiteral("  Нет данных об оборотах.\n");
    } else {
        TextTable table({TextTable::Align::left, TextTable::Align::left, TextTable::Align::right,
                         TextTable::Align::left});
        for (const FanStatus& fan : snapshot.fans) {
            QString range = QStringLiteral("мин. %1").arg(fan.minimumRPM);
            if (fan.targetRPM) {
                range += QStringLiteral(", цель %1").arg(*fan.targetRPM);
            }
            range += QStringLiteral(", макс. %1").arg(fan.maximumRPM);
            table.addRow({QStringLiteral(" "), fan.name, QStringLiteral("%1 RPM").arg(fan.currentRPM), range});
        }
        text += table.render();
    }
    if (snapshot.note) {
        text += *snapshot.note + QLatin1Char('\n');
    }
    return text;
}
