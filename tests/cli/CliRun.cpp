#include "CliRun.h"

std::optional<QJsonDocument> CliRun::json() const
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(out, &error);
    if (error.error != QJsonParseError::NoError) {
        return std::nullopt;
    }
    return document;
}

QByteArray CliRun::describe() const
{
    return "finished=" + QByteArray(finished ? "yes" : "no") + " exit=" + QByteArray::number(exitCode)
        + "\nstdout:\n" + out + "\nstderr:\n" + err;
}
