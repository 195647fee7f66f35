#pragma once

#include "serialconfig.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

// The far end of a pseudo-terminal pair, played by a test. The slave end
// (path()) is what the port under test opens; the test keeps its own
// descriptor of it in raw mode so the line exists before the port opens.
class PtyPeer
{
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    bool isValid() const { return m_master >= 0; }
    std::string path() const { return m_path; }
    int slaveFd() const { return m_slave; }

    // Sends bytes towards the port, one write per byte when byteByByte.
    bool send(const std::string &bytes, bool byteByByte = false, int gapMs = 0);
    // Collects what the port sent until `end` has arrived or timeoutMs of
    // silence has passed; returns everything collected.
    std::string receiveUntil(const std::string &end, int timeoutMs = 10000);
    // Hangs the line up: the port's side sees the device vanish.
    void closeMaster();

    // A device on a thread of its own: for each answer in turn it waits for
    // one command (ending with two LF bytes), records it and sends the
    // answer byte by byte. holdMs delays each answer.
    void serve(std::vector<std::string> answers, int holdMs = 0, int gapMs = 0);
    // Waits for the serving thread; returns all commands received so far.
    std::vector<std::string> finish();
    // True while the serving thread has received the command it holds
    // and not yet answered.
    bool holding() const { return m_holding; }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
    std::thread m_thread;
    std::vector<std::string> m_received;
    std::atomic<bool> m_holding{false};
};

// Link settings for a test port: LF separates received lines and ends
// written ones.
SerialConfig linkConfig(const std::string &port, uint32_t readTimeout = 200);
