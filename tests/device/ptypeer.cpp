#include "ptypeer.h"

#include <chrono>
#include <fcntl.h>
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
    if (::openpty(&m_master, &m_slave, name, &raw, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    m_path = name;
}

PtyPeer::~PtyPeer()
{
    if (m_thread.joinable())
        m_thread.join();
    closeMaster();
    if (m_slave >= 0)
        ::close(m_slave);
}

bool PtyPeer::send(const std::string &bytes, bool byteByByte, int gapMs)
{
    size_t done = 0;
    while (done < bytes.size()) {
        size_t chunk = byteByByte ? 1 : bytes.size() - done;
        ssize_t put = ::write(m_master, bytes.data() + done, chunk);
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
    while (end.empty() || got.find(end) == std::string::npos) {
        pollfd pfd{m_master, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0)
            break;
        char buffer[4096];
        ssize_t count = ::read(m_master, buffer, sizeof buffer);
        if (count <= 0)
            break;
        got.append(buffer, static_cast<size_t>(count));
    }
    return got;
}

std::string PtyPeer::receiveFor(int waitMs)
{
    return receiveUntil(std::string(), waitMs);
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
            std::string command = receiveUntil("\n\n");
            if (command.empty())
                return;
            m_received.push_back(command);
            if (holdMs > 0) {
                m_holding = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
                m_holding = false;
            }
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
