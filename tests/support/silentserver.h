#pragma once

#include <QString>

#include <atomic>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// A socket listening on a free loopback port with the given backlog; -1
// when none could be made. address receives where it listens.
inline int listenOnLoopback(int backlog, sockaddr_in &address)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd >= 0
        && (::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 || ::listen(fd, backlog) != 0
            || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A loopback server that accepts connections and never sends a byte, as a
// server that hangs after the handshake. Counts the connections.
class SilentServer
{
public:
    SilentServer()
    {
        sockaddr_in address;
        m_socket = listenOnLoopback(16, address);
        if (m_socket < 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            while (!m_stop) {
                pollfd waiting{m_socket, POLLIN, 0};
                const int connection =
                    ::poll(&waiting, 1, 50) > 0 ? ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC) : -1;
                if (connection >= 0) {
                    m_connections.push_back(connection); // kept open, never answered
                    ++m_count;
                }
            }
        });
    }
    ~SilentServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        for (int connection : m_connections)
            ::close(connection);
        if (m_socket >= 0)
            ::close(m_socket);
    }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    bool listening() const { return m_port != 0; }
    int connections() const { return m_count.load(); }

private:
    int m_socket = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_count{0};
    std::vector<int> m_connections; // the accepting thread's only
    std::thread m_thread;
};

// A loopback listener that never accepts, with a backlog of 0 filled by
// connections of its own: the kernel drops every further SYN, so a connect
// to it is never answered and only the client's own time-out ends it.
class UnansweredPort
{
public:
    UnansweredPort()
    {
        sockaddr_in address;
        m_socket = listenOnLoopback(0, address);
        if (m_socket < 0)
            return;
        // Connects until one stays unanswered: the queue is full then.
        for (int tries = 0; tries < 16; ++tries) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0)
                return;
            m_filling.push_back(fd);
            ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
            pollfd connected{fd, POLLOUT, 0};
            if (::poll(&connected, 1, 200) == 0) {
                m_port = ntohs(address.sin_port);
                return;
            }
        }
    }
    ~UnansweredPort()
    {
        for (int fd : m_filling)
            ::close(fd);
        if (m_socket >= 0)
            ::close(m_socket);
    }
    UnansweredPort(const UnansweredPort &) = delete;
    UnansweredPort &operator=(const UnansweredPort &) = delete;
    // 0 when the queue could not be filled.
    quint16 port() const { return m_port; }

private:
    int m_socket = -1;
    quint16 m_port = 0;
    std::vector<int> m_filling;
};
