#pragma once

#include <QString>

class Console;
struct ScanProgress;

// Shows a scan's progress on standard error: redrawn in place on a terminal,
// one line per change otherwise, so that logs and pipes stay readable.
class ProgressPrinter
{
public:
    explicit ProgressPrinter(Console& console);

    void show(const ScanProgress& progress);
    // Ends the line redrawn in place, if any.
    void finish();

    static QString line(const ScanProgress& progress);

private:
    Console& m_console;
    bool m_inPlace;
    QString m_last;
};
