#pragma once

#include <QList>
#include <QStringList>

// Plain-text columns for terminal output. The last column is never padded,
// so long details do not leave trailing blanks.
class TextTable
{
public:
    enum class Align { left, right };

    explicit TextTable(QList<Align> alignments);

    void addRow(const QStringList& cells);
    // One line per row, each ending with a line break.
    QString render() const;

private:
    QList<Align> m_alignments;
    QList<QStringList> m_rows;
};
