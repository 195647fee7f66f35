#include "ptypeer.h"

#include <chrono>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer()
{
    termios raw{};
    ::cfmakeraw(&raw);
    ::cfsetispeed(&raw, B9600);
    ::cfsetospeed(&raw, B9600);
    char name[128] = {};
    if (::openpty(&m_master, &m_slave, name, &raw, nullptr) != 0)
        m_master = m_slave = -1;
    else
        m_path = name;
}

PtyPeer::~PtyPeer()
{
    finish();
    closeMaster();
    if (m_slave >= 0)
        ::close(m_slave);
}

bool PtyPeer::send(const std::string &bytes, bool byteByByte, int gapMs)
{
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t put = ::write(m_master, bytes.data() + done, byteByByte ? 1 : bytes.size() - done);
        if (put <= 0)
            return false;
        done += static_cast<size_t>(put);
        if (gapMs > 0 && done < bytes.size())
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
    }
    return true;
}

std::string PtyPeer::receiveUntil(const std::string &end, int timeoutMs)
{
    std::string got;
    char buffer[4096];
    pollfd pfd{m_master, POLLIN, 0};
    while (got.find(end) == std::string::npos && ::poll(&pfd, 1, timeoutMs) > 0) {
        const ssize_t count = ::read(m_master, buffer, sizeof buffer);
        if (count <= 0)
            break;
        got.append(buffer, static_cast<size_t>(count));
    }
    return got;
}

void PtyPeer::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void PtyPeer::serve(std::vector<std::string> answers, int holdMs, int gapMs)
{
    m_thread = std::thread([this, answers = std::move(answers), holdMs, gapMs] {
        for (const std::string &answer : answers) {
            const std::string command = receiveUntil("\n\n");
            if (command.empty())
                return;
            m_received.push_back(command);
            m_holding = holdMs > 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
            m_holding = false;
            send(answer, true, gapMs);
        }
    });
}

std::vector<std::string> PtyPeer::finish()
{
    if (m_thread.joinable())
        m_thread.join();
    return m_received;
}

SerialConfig linkConfig(const std::string &port, uint32_t readTimeout)
{
    SerialConfig config;
    config.port = port;
    config.separator = '\n';
    config.terminator = '\n';
    config.inQueueSize = 4096;
    config.readTimeout = readTimeout;
    return config;
}
