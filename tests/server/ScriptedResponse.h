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

    int status = 200;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // Before the status line.
    int delayMs = 0;
    // Above 0: the body goes out one byte per interval.
    int dripIntervalMs = 0;
    // The Content-Length announced: realLength for the real one, more than
    // is sent for a truncated answer, or unannounced for none (the body then
    // ends when the connection closes).
    static constexpr qint64 realLength = -1;
    static constexpr qint64 unannounced = -2;
    qint64 declaredLength = realLength;
    // Above 0: a body of this many bytes, made while it is sent, so that the
    // server itself stays small.
    qint64 generatedBodyBytes = 0;
    Ending ending = Ending::answer;

    static ScriptedResponse json(int status, const QByteArray& body)
    {
        ScriptedResponse response;
        response.status = status;
        response.body = body;
        return response;
    }
    static ScriptedResponse withHeader(int status, const QByteArray& name, const QByteArray& value)
    {
        ScriptedResponse response = json(status, {});
        response.headers.append({name, value});
        return response;
    }
    static ScriptedResponse ended(Ending ending)
    {
        ScriptedResponse response;
        response.ending = ending;
        return response;
    }
    static ScriptedResponse silent() { return ended(Ending::neverAnswer); }
    static ScriptedResponse closed() { return ended(Ending::closeAtOnce); }
    // The status at once, then the body one byte a second.
    static ScriptedResponse dripping(const QByteArray& body, qint64 declaredLength = realLength)
    {
        ScriptedResponse response = json(200, body);
        response.dripIntervalMs = 1000;
        response.declaredLength = declaredLength;
        return response;
    }
    static ScriptedResponse generated(qint64 bytes, qint64 declaredLength = realLength)
    {
        ScriptedResponse response;
        response.generatedBodyBytes = bytes;
        response.declaredLength = declaredLength;
        return response;
    }
    static ScriptedResponse delayed(int status, int delayMs)
    {
        ScriptedResponse response = json(status, {});
        response.delayMs = delayMs;
        return response;
    }
};
