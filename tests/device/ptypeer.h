#pragma once

#include "serialconfig.h"

#include <chrono>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

// The far end of a pseudo-terminal pair, played by a test. The port under
// test opens path(); the test keeps the slave open in raw mode itself.
class PtyPeer
{
public:
    PtyPeer()
    {
        termios raw{};
        ::cfmakeraw(&raw);
        ::cfsetspeed(&raw, B9600);
        char name[128] = {};
        if (::openpty(&m_master, &m_slave, name, &raw, nullptr) == 0)
            m_path = name;
    }
    ~PtyPeer()
    {
        finish();
        closeMaster();
        ::close(m_slave);
    }

    bool isValid() const { return !m_path.empty(); }
    std::string path() const { return m_path; }
    int slaveFd() const { return m_slave; }

    // Sends bytes towards the port, one write per byte gapMs apart when gapMs >= 0.
    bool send(const std::string &bytes, int gapMs = -1)
    {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t put = ::write(m_master, bytes.data() + done, gapMs >= 0 ? 1 : bytes.size() - done);
            if (put <= 0)
                return false;
            done += size_t(put);
            std::this_thread::sleep_for(std::chrono::milliseconds(std::max(gapMs, 0)));
        }
        return true;
    }
    // What the port sent until `end` came or timeoutMs of silence passed.
    std::string receiveUntil(const std::string &end, int timeoutMs = 10000)
    {
        std::string got;
        char buffer[4096];
        pollfd pfd{m_master, POLLIN, 0};
        for (ssize_t count = 0; got.find(end) == std::string::npos && ::poll(&pfd, 1, timeoutMs) > 0;) {
            if ((count = ::read(m_master, buffer, sizeof buffer)) <= 0)
                break;
            got.append(buffer, size_t(count));
        }
        return got;
    }
    // Hangs the line up: the port's side sees the device vanish.
    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    // A device on a thread of its own: for each answer it waits for one
    // command (ending with two LF bytes), records it and sends the answer
    // byte by byte, gapMs apart.
    void serve(std::vector<std::string> answers, int gapMs = 0)
    {
        m_thread = std::thread([this, answers = std::move(answers), gapMs] {
            for (const std::string &answer : answers) {
                const std::string command = receiveUntil("\n\n");
                if (command.empty())
                    return;
                m_received.push_back(command);
                send(answer, gapMs);
            }
        });
    }
    // Waits for the serving thread; returns the commands it received.
    std::vector<std::string> finish()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_received;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
    std::thread m_thread;
    std::vector<std::string> m_received;
};

// A test port's settings: LF separates received lines and ends written ones.
inline SerialConfig linkConfig(const std::string &port, uint32_t readTimeout = 200)
{
    SerialConfig config;
    config.port = port;
    config.separator = config.terminator = '\n';
    config.inQueueSize = 4096;
    config.readTimeout = readTimeout;
    return config;
}
