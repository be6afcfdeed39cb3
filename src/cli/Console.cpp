#include "Console.h"

#include <QJsonDocument>

#include <unistd.h>

Console::Console(std::FILE* out, std::FILE* err)
    : m_out(out)
    , m_err(err)
{
}

void Console::write(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    // Progress on stderr and results on stdout interleave in a terminal only
    // in the right order when neither is held back in a buffer.
    std::fflush(stream);
}

void Console::out(const QString& text)
{
    write(m_out, text);
}

void Console::outLine(const QString& line)
{
    write(m_out, line + QLatin1Char('\n'));
}

void Console::err(const QString& text)
{
    write(m_err, text);
}

void Console::errLine(const QString& line)
{
    write(m_err, line + QLatin1Char('\n'));
}

void Console::printJson(const QJsonDocument& document)
{
    const QByteArray bytes = document.toJson(QJsonDocument::Indented);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out);
    std::fflush(m_out);
}

bool Console::errIsTerminal() const
{
    return ::isatty(::fileno(m_err)) == 1;
}
