#include "silentserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

SilentServer::SilentServer()
{
    m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), length) != 0
        || ::listen(m_socket, 16) != 0
        || ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { acceptUntilStopped(); });
}

SilentServer::~SilentServer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    for (int connection : m_connections)
        ::close(connection);
    if (m_socket >= 0)
        ::close(m_socket);
}

void SilentServer::acceptUntilStopped()
{
    while (!m_stop) {
        pollfd waiting{m_socket, POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0)
            continue;
        const int connection = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0) {
            m_connections.push_back(connection); // kept open, never answered
            ++m_count;
        }
    }
}
