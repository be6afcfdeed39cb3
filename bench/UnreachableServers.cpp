#include "UnreachableServers.h"

#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray dripAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 11\r\nConnection: close\r\n\r\n{\"ok\":true}";
const QByteArray endlessHead = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n";
const QByteArray resetHead = "HTTP/1.1 20";

qint64 monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

bool sendAll(int fd, const QByteArray& bytes)
{
    return ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
}

} // namespace

UnreachableServers::UnreachableServers() = default;

UnreachableServers::~UnreachableServers()
{
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    for (const Connection& connection : m_connections) {
        ::close(connection.fd);
    }
    for (int fd : {m_dnsFd, m_silentFd, m_dripFd, m_endlessFd, m_resetFd}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

int UnreachableServers::listenTcp(quint16* port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd, 64) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    setNonBlocking(fd);
    *port = ntohs(address.sin_port);
    return fd;
}

bool UnreachableServers::start(bool withDns, QString* error)
{
    if (withDns) {
        m_dnsFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        ::inet_pton(AF_INET, dnsAddress, &address.sin_addr);
        if (m_dnsFd < 0 || ::bind(m_dnsFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            *error = QStringLiteral("cannot bind %1:53/udp: %2").arg(QLatin1String(dnsAddress), QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    m_silentFd = listenTcp(&m_silentPort);
    m_dripFd = listenTcp(&m_dripPort);
    m_endlessFd = listenTcp(&m_endlessPort);
    m_resetFd = listenTcp(&m_resetPort);
    // A port that was free a moment ago and that nobody listens on now.
    const int refused = listenTcp(&m_refusedPort);
    if (refused >= 0) {
        ::close(refused);
    }
    if (m_silentFd < 0 || m_dripFd < 0 || m_endlessFd < 0 || m_resetFd < 0 || refused < 0) {
        *error = QStringLiteral("cannot listen on 127.0.0.1");
        return false;
    }
    m_thread = std::thread([this] { serve(); });
    return true;
}

void UnreachableServers::accept(int listener, Kind kind)
{
    for (;;) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        Connection connection;
        connection.fd = fd;
        connection.kind = kind;
        m_connections.push_back(connection);
    }
}

bool UnreachableServers::service(Connection& connection, short events, qint64 nowMs)
{
    if (events & (POLLIN | POLLHUP | POLLERR)) {
        char buffer[4096];
        const ssize_t got = ::recv(connection.fd, buffer, sizeof(buffer), 0);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
            return false;
        }
        if (got > 0 && !connection.requestSeen) {
            connection.requestSeen = true;
            connection.nextDripMs = nowMs;
            if (connection.kind == Kind::endless && !sendAll(connection.fd, endlessHead)) {
                return false;
            }
            if (connection.kind == Kind::reset) {
                sendAll(connection.fd, resetHead);
                // Closing with a zero linger time sends a reset instead of an orderly end.
                const linger abort{1, 0};
                ::setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
                return false;
            }
        }
    }
    if (!connection.requestSeen) {
        return true;
    }
    if (connection.kind == Kind::drip && nowMs >= connection.nextDripMs && connection.dripped < dripAnswer.size()) {
        if (!sendAll(connection.fd, dripAnswer.mid(connection.dripped++, 1))) {
            return false;
        }
        connection.nextDripMs = nowMs + 1000;
    }
    if (connection.kind == Kind::endless && (events & POLLOUT)) {
        static const QByteArray chunk(64 * 1024, 'x');
        const ssize_t sent = ::send(connection.fd, chunk.constData(), size_t(chunk.size()), MSG_NOSIGNAL);
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
        m_endlessBytes += std::max<ssize_t>(sent, 0);
    }
    return true;
}

void UnreachableServers::serve()
{
    const std::vector<std::pair<int, Kind>> listeners{
        {m_silentFd, Kind::silent}, {m_dripFd, Kind::drip}, {m_endlessFd, Kind::endless}, {m_resetFd, Kind::reset}};
    std::vector<pollfd> fds;
    while (!m_stop) {
        fds.clear();
        if (m_dnsFd >= 0) {
            fds.push_back({m_dnsFd, POLLIN, 0});
        }
        for (const auto& [fd, kind] : listeners) {
            fds.push_back({fd, POLLIN, 0});
        }
        for (const Connection& connection : m_connections) {
            const bool writes = connection.kind == Kind::endless && connection.requestSeen;
            fds.push_back({connection.fd, short(POLLIN | (writes ? POLLOUT : 0)), 0});
        }
        ::poll(fds.data(), nfds_t(fds.size()), 50);
        const qint64 now = monotonicMs();
        size_t index = 0;
        if (m_dnsFd >= 0) {
            if (fds[index++].revents & POLLIN) {
                char datagram[1500];
                while (::recv(m_dnsFd, datagram, sizeof(datagram), 0) > 0) {
                    ++m_dnsQueries;
                }
            }
        }
        for (const auto& [fd, kind] : listeners) {
            if (fds[index++].revents & POLLIN) {
                accept(fd, kind);
            }
        }
        // Connections accepted just now were not polled yet.
        const size_t polled = fds.size() - index;
        std::vector<Connection> kept;
        for (size_t i = 0; i < m_connections.size(); ++i) {
            const short events = i < polled ? fds[index + i].revents : 0;
            if (service(m_connections[i], events, now)) {
                kept.push_back(m_connections[i]);
            } else {
                ::close(m_connections[i].fd);
            }
        }
        m_connections.swap(kept);
    }
}
