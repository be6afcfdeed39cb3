#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QString>

#include <optional>

// What one run of the brisko program left behind.
struct CliRun
{
    // False when the program could not be started, crashed or overran its
    // time; the other fields are then not to be trusted.
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    QString outText() const { return QString::fromUtf8(out); }
    QString errText() const { return QString::fromUtf8(err); }
    // Standard output parsed as one JSON document, nothing when it is not one.
    std::optional<QJsonDocument> json() const
    {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(out, &error);
        return error.error == QJsonParseError::NoError ? std::optional(document) : std::nullopt;
    }
    // For failure messages: exit code and both streams.
    QByteArray describe() const
    {
        return "finished=" + QByteArray(finished ? "yes" : "no") + " exit=" + QByteArray::number(exitCode)
            + "\nstdout:\n" + out + "\nstderr:\n" + err;
    }
};
