#pragma once

#include <QByteArray>
#include <QList>

#include <utility>

// One answer of the loopback server, good or hostile.
struct ScriptedResponse
{
    enum class Ending {
        answer, // status line, headers and body
        closeAtOnce, // the connection is closed without a byte
        neverAnswer, // the connection stays open and silent
    };
    // The Content-Length announced: realLength for the real one, more than
    // is sent for a truncated answer, or unannounced for none (the body then
    // ends when the connection closes).
    static constexpr qint64 realLength = -1;
    static constexpr qint64 unannounced = -2;

    int status = 200;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // Before the status line.
    int delayMs = 0;
    // Above 0: the body goes out one byte per interval.
    int dripIntervalMs = 0;
    qint64 declaredLength = realLength;
    // Above 0: a body of this many bytes, made while it is sent, so that the
    // server itself stays small.
    qint64 generatedBodyBytes = 0;
    Ending ending = Ending::answer;

    static ScriptedResponse json(int status, const QByteArray& body) { return {.status = status, .body = body}; }
    static ScriptedResponse withHeader(int status, const QByteArray& name, const QByteArray& value)
    {
        return {.status = status, .headers = {{name, value}}};
    }
    static ScriptedResponse silent() { return {.ending = Ending::neverAnswer}; }
    static ScriptedResponse closed() { return {.ending = Ending::closeAtOnce}; }
    // The status at once, then the body one byte a second.
    static ScriptedResponse dripping(const QByteArray& body, qint64 declaredLength = realLength)
    {
        return {.body = body, .dripIntervalMs = 1000, .declaredLength = declaredLength};
    }
    static ScriptedResponse generated(qint64 bytes, qint64 declaredLength = realLength)
    {
        return {.declaredLength = declaredLength, .generatedBodyBytes = bytes};
    }
    static ScriptedResponse delayed(int status, int delayMs) { return {.status = status, .delayMs = delayMs}; }
};
