#pragma once

#include "FakeClock.h"
#include "LoopbackMakerServer.h"

#include "platform/SettingsDefaultsStore.h"
#include "server/ClientInfo.h"
#include "server/ServerHTTPClient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFuture>
#include <QTemporaryDir>

// What a test of a server service starts from: a loopback stand-in for the
// maker's server, a transport, a fake clock with its own back-off gate and a
// defaults store in a fresh temporary folder.
struct ServerTestBed
{
    QTemporaryDir dir;
    LoopbackMakerServer server;
    HttpTransport transport;
    std::shared_ptr<FakeClock> clock =
        std::make_shared<FakeClock>(QDateTime(QDate(2026, 3, 14), QTime(6, 30, 15), Qt::UTC));
    std::shared_ptr<RateLimitGate> gate = std::make_shared<RateLimitGate>(clock);
    DefaultsStorePtr store =
        std::make_shared<SettingsDefaultsStore>(dir.filePath(QStringLiteral("defaults.ini")), QSettings::IniFormat);
    bool listening = server.listen();

    bool isValid() const { return dir.isValid() && listening; }
    ServerHTTPClient client() { return ServerHTTPClient(&transport, gate); }
    QString path(const QString& name) const { return dir.filePath(name); }
    // A fresh gate, as the next run of the program has.
    void restart() { gate = std::make_shared<RateLimitGate>(clock); }

    // The endpoint "/api/brisko/<name>": its address, its path on the
    // server, what it received and one field of each body received.
    QString endpoint(const QString& name) const { return server.endpoint(name); }
    static QString apiPath(const QString& name) { return QStringLiteral("/api/brisko/") + name; }
    QList<RecordedRequest> received(const QString& name) const { return server.requests(apiPath(name)); }
    QStringList sent(const QString& name, const QString& field) const
    {
        QStringList values;
        for (const RecordedRequest& request : received(name)) {
            values.append(request.json().value(field).toString());
        }
        return values;
    }

    static ClientInfo info()
    {
        ClientInfo info;
        info.appVersion = QStringLiteral("1.4.2");
        info.build = QStringLiteral("42");
        info.osVersion = QStringLiteral("Debian GNU/Linux 12 (bookworm), Linux 6.1.0");
        return info;
    }

    // Runs the event loop until the future is done; false if it never is.
    template <typename T>
    static bool await(const QFuture<T>& future, int timeoutMs = 20000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!future.isFinished() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return future.isFinished();
    }
};
