#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <thread>
#include <vector>

// Stand-ins for a maker's server that cannot be used, all on loopback
// addresses, served by one thread with poll():
// - a DNS "server" (UDP port 53 on its own loopback address) that takes
//   every query and never answers; it counts the queries;
// - a listener that accepts connections and never answers;
// - a port that refuses connections (nobody listens on it);
// - a server that sends its answer one byte per second;
// - a server that answers 200 and then sends an endless body;
// - a server that resets the connection in the middle of its status line.
class UnreachableServers
{
public:
    static constexpr const char* dnsAddress = "127.0.0.77";

    UnreachableServers();
    ~UnreachableServers();
    UnreachableServers(const UnreachableServers&) = delete;
    UnreachableServers& operator=(const UnreachableServers&) = delete;

    // False with a reason when a socket could not be made. withDns needs the
    // right to bind port 53.
    bool start(bool withDns, QString* error);

    // "http://127.0.0.1:<port>" of each kind.
    QString silentUrl() const { return origin(m_silentPort); }
    QString refusedUrl() const { return origin(m_refusedPort); }
    QString dripUrl() const { return origin(m_dripPort); }
    QString endlessUrl() const { return origin(m_endlessPort); }
    QString resetUrl() const { return origin(m_resetPort); }

    int dnsQueries() const { return m_dnsQueries.load(); }
    qint64 endlessBytesSent() const { return m_endlessBytes.load(); }

private:
    enum class Kind { dns, silent, drip, endless, reset };
    struct Connection
    {
        int fd = -1;
        Kind kind = Kind::silent;
        bool requestSeen = false;
        qsizetype dripped = 0;
        qint64 nextDripMs = 0;
    };

    static QString origin(quint16 port) { return QStringLiteral("http://127.0.0.1:%1").arg(port); }
    static int listenTcp(quint16* port);
    void serve();
    void accept(int listener, Kind kind);
    // False when the connection is to be closed.
    bool service(Connection& connection, short events, qint64 nowMs);

    int m_dnsFd = -1;
    int m_silentFd = -1;
    int m_dripFd = -1;
    int m_endlessFd = -1;
    int m_resetFd = -1;
    quint16 m_silentPort = 0;
    quint16 m_refusedPort = 0;
    quint16 m_dripPort = 0;
    quint16 m_endlessPort = 0;
    quint16 m_resetPort = 0;
    std::vector<Connection> m_connections;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_dnsQueries{0};
    std::atomic<qint64> m_endlessBytes{0};
    std::thread m_thread;
};
