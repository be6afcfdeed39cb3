#include "ProgressPrinter.h"

#include "Console.h"
#include "scan/ScanProgress.h"

ProgressPrinter::ProgressPrinter(Console& console)
    : m_console(console)
    , m_inPlace(console.errIsTerminal())
{
}

QString ProgressPrinter::line(const ScanProgress& progress)
{
    const int percent = qBound(0, qRound(progress.progress * 100.0), 100);
    return QStringLiteral("%1% %2 — найдено: %3").arg(percent, 3).arg(progress.currentTask).arg(progress.itemsFound);
}

void ProgressPrinter::show(const ScanProgress& progress)
{
    const QString text = line(progress);
    if (text == m_last) {
        return;
    }
    m_last = text;
    if (m_inPlace) {
        // Erase to the end of the line: a shorter task text must not leave the
        // tail of the previous one behind.
        m_console.err(QStringLiteral("\r") + text + QStringLiteral("\x1b[K"));
    } else {
        m_console.errLine(text);
    }
}

void ProgressPrinter::finish()
{
    if (m_inPlace && !m_last.isEmpty()) {
        m_console.err(QStringLiteral("\n"));
    }
}
