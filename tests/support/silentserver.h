#pragma once

#include <QString>

#include <atomic>
#include <thread>
#include <vector>

// A loopback server that accepts connections and never sends a byte, as a
// server that hangs after the handshake. Counts the connections.
class SilentServer
{
public:
    SilentServer();
    ~SilentServer();
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    bool listening() const { return m_port != 0; }
    int connections() const { return m_count.load(); }

private:
    void acceptUntilStopped();

    int m_socket = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_count{0};
    std::vector<int> m_connections; // the accepting thread's only
    std::thread m_thread;
};
