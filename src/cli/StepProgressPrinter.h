#pragma once

#include <QString>

class Console;

// Shows the progress of a file operation (move, Trash, cleanup) on standard
// error as "NN% step": redrawn in place on a terminal, one line per change
// otherwise. Scans have their own printer, which also counts what was found.
class StepProgressPrinter
{
public:
    explicit StepProgressPrinter(Console& console);

    void show(const QString& step, double fraction);
    // Ends the line redrawn in place, if any.
    void finish();

    static QString line(const QString& step, double fraction);

private:
    Console& m_console;
    bool m_inPlace;
    QString m_last;
};
