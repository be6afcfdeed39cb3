#include "TemperatureText.h"

QString TemperatureText::celsius(double value, int decimals)
{
    QString number = QString::number(value, 'f', decimals);
    number.replace(QLatin1Char('.'), QLatin1Char(','));
    return number + QChar(0x00a0) + QStringLiteral("°C");
}
