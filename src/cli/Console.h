#pragma once

#include <QString>

#include <cstdio>

class QJsonDocument;

// Standard output and error as UTF-8 text, whatever the locale says: the
// interface is Russian and scripts read the JSON as UTF-8.
class Console
{
public:
    explicit Console(std::FILE* out = stdout, std::FILE* err = stderr);

    void out(const QString& text);
    void outLine(const QString& line);
    void err(const QString& text);
    void errLine(const QString& line);
    // Indented, with a final line break.
    void printJson(const QJsonDocument& document);

    // Whether progress may be redrawn in place on standard error; in a pipe
    // or a log file every report stays on its own line.
    bool errIsTerminal() const;

private:
    static void write(std::FILE* stream, const QString& text);

    std::FILE* m_out;
    std::FILE* m_err;
};
