#include "TextTable.h"

TextTable::TextTable(QList<Align> alignments)
    : m_alignments(std::move(alignments))
{
}

void TextTable::addRow(const QStringList& cells)
{
    m_rows.append(cells);
}

QString TextTable::render() const
{
    const qsizetype columns = m_alignments.size();
    QList<qsizetype> widths(columns, 0);
    for (const QStringList& row : m_rows) {
        for (qsizetype c = 0; c < columns && c < row.size(); ++c) {
            widths[c] = std::max(widths[c], row.at(c).size());
        }
    }
    QString text;
    for (const QStringList& row : m_rows) {
        QString line;
        for (qsizetype c = 0; c < columns; ++c) {
            const QString cell = c < row.size() ? row.at(c) : QString();
            if (c > 0) {
                line += QStringLiteral("  ");
            }
            if (m_alignments.at(c) == Align::right) {
                line += cell.rightJustified(widths.at(c));
            } else if (c + 1 < columns) {
                line += cell.leftJustified(widths.at(c));
            } else {
                line += cell;
            }
        }
        while (line.endsWith(QLatin1Char(' '))) {
            line.chop(1);
        }
        text += line + QLatin1Char('\n');
    }
    return text;
}
