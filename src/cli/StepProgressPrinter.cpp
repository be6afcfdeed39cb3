#include "StepProgressPrinter.h"

#include "Console.h"

#include <QtMath>

StepProgressPrinter::StepProgressPrinter(Console& console)
    : m_console(console)
    , m_inPlace(console.errIsTerminal())
{
}

QString StepProgressPrinter::line(const QString& step, double fraction)
{
    const int percent = qBound(0, qRound(fraction * 100.0), 100);
    return QStringLiteral("%1% %2").arg(percent, 3).arg(step);
}

void StepProgressPrinter::show(const QString& step, double fraction)
{
    const QString text = line(step, fraction);
    if (text == m_last) {
        return;
    }
    m_last = text;
    if (m_inPlace) {
        m_console.err(QStringLiteral("\r") + text + QStringLiteral("\x1b[K"));
    } else {
        m_console.errLine(text);
    }
}

void StepProgressPrinter::finish()
{
    if (m_inPlace && !m_last.isEmpty()) {
        m_console.err(QStringLiteral("\n"));
    }
    m_last.clear();
}
