#include "simserver.h"

#include "textline.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

const size_t kMaxQueued = 256 * 1024;

} // namespace

SimServer::SimServer(const Options &options)
    : m_options(options)
    , m_device(options.seed, options.boot)
{
    m_start = Clock::now();
    m_nextByte = m_start;
}

SimServer::~SimServer()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

bool SimServer::open()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        m_error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char *name = ::ptsname(m_master);
    if (!name) {
        m_error = std::string("ptsname: ") + std::strerror(errno);
        return false;
    }
    m_slavePath = name;
    // Keeping the slave end open ourselves preserves its line settings
    // between clients and spares the master a hang-up when a client closes.
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_slave < 0) {
        m_error = "cannot open " + m_slavePath + ": " + std::strerror(errno);
        return false;
    }
    termios settings{};
    if (::tcgetattr(m_slave, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::cfsetispeed(&settings, B9600);
        ::cfsetospeed(&settings, B9600);
        ::tcsetattr(m_slave, TCSANOW, &settings);
    }
    int flags = ::fcntl(m_master, F_GETFL);
    ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
    return true;
}

uint32_t SimServer::speedValue(unsigned speed)
{
    switch (speed) {
    case B50: return 50;
    case B75: return 75;
    case B110: return 110;
    case B134: return 134;
    case B150: return 150;
    case B200: return 200;
    case B300: return 300;
    case B600: return 600;
    case B1200: return 1200;
    case B1800: return 1800;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    case B460800: return 460800;
    case B921600: return 921600;
    default: return 0;
    }
}

uint32_t SimServer::currentSpeed() const
{
    termios settings{};
    if (::tcgetattr(m_slave, &settings) != 0)
        return 0;
    return speedValue(::cfgetospeed(&settings));
}

bool SimServer::run(int stopFd)
{
    while (!m_failed) {
        if (m_hangUp)
            return true;
        Clock::time_point due = std::min(send(), drip());
        pollfd fds[2];
        fds[0].fd = m_master;
        fds[0].events = POLLIN | (m_blocked ? POLLOUT : 0);
        fds[0].revents = 0;
        fds[1].fd = stopFd;
        fds[1].events = POLLIN;
        fds[1].revents = 0;

        timespec wait{};
        timespec *timeout = nullptr;
        if (due != Clock::time_point::max()) {
            auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(due - Clock::now());
            long long ns = std::max<long long>(0, left.count());
            wait.tv_sec = static_cast<time_t>(ns / 1000000000LL);
            wait.tv_nsec = static_cast<long>(ns % 1000000000LL);
            timeout = &wait;
        }
        int ready = ::ppoll(fds, 2, timeout, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::perror("orbo-sim: poll");
            return false;
        }
        if (fds[1].revents)
            return true;
        if (fds[0].revents & POLLOUT)
            m_blocked = false;
        if (fds[0].revents & POLLIN)
            receive();
    }
    return false;
}

void SimServer::receive()
{
    char buffer[4096];
    for (;;) {
        ssize_t count = ::read(m_master, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EIO)
                m_failed = true;
            return;
        }
        if (count == 0)
            return;
        for (ssize_t i = 0; i < count; ++i) {
            char c = buffer[i];
            if (c == '\n') {
                std::string line = trimmed(m_line);
                m_line.clear();
                if (!line.empty())
                    handleLine(line);
            } else if (c != '\r') {
                // A runaway line without LF must not grow without bound.
                if (m_line.size() < 65536)
                    m_line += c;
            }
        }
    }
}

void SimServer::handleLine(const std::string &line)
{
    if (m_options.verbose)
        std::fprintf(stderr, "orbo-sim: <- %s\n", line.c_str());
    ++m_received;
    if (m_options.hangUpAfter > 0 && m_received >= m_options.hangUpAfter) {
        // Unplugged while the command was on its way: no answer, the line
        // goes down.
        m_hangUp = true;
        return;
    }
    if (staysSilent()) {
        if (m_options.dripMs > 0 && !m_dripping) {
            m_dripping = true;
            m_nextDrip = Clock::now() + std::chrono::milliseconds(m_options.dripMs);
        }
        return;
    }
    if (m_options.baud != 0 && currentSpeed() != m_options.baud)
        return;
    // Nobody has read for a long while: like a device whose output buffer
    // overflows, answers are dropped instead of piling up without end.
    size_t queued = 0;
    for (const Chunk &chunk : m_queue)
        queued += chunk.bytes.size();
    if (queued > kMaxQueued)
        return;
    Clock::time_point now = Clock::now();
    double seconds = std::chrono::duration<double>(now - m_start).count();
    OrboDevice::Answer answer = m_device.answer(line, seconds);
    if (!answer.echo.empty())
        m_queue.push_back({now, answer.echo});
    if (!answer.reply.empty())
        m_queue.push_back({now + std::chrono::milliseconds(m_options.delayMs), answer.reply});
}

bool SimServer::staysSilent()
{
    if (m_options.silent)
        return true;
    if (m_options.silentAfter < 0 || m_received <= m_options.silentAfter)
        return false;
    const Clock::time_point now = Clock::now();
    if (!m_silenced) {
        m_silenced = true;
        m_silentSince = now;
    }
    return m_options.silentMs <= 0
        || now - m_silentSince < std::chrono::milliseconds(m_options.silentMs);
}

SimServer::Clock::time_point SimServer::drip()
{
    if (!m_dripping)
        return Clock::time_point::max();
    const Clock::time_point now = Clock::now();
    if (now >= m_nextDrip) {
        // A byte the full line cannot take is dropped, like a UART's.
        const char byte = '7';
        const ssize_t ignored = ::write(m_master, &byte, 1);
        (void)ignored;
        m_nextDrip = now + std::chrono::milliseconds(m_options.dripMs);
    }
    return m_nextDrip;
}

SimServer::Clock::time_point SimServer::send()
{
    const Clock::time_point never = Clock::time_point::max();
    while (!m_queue.empty() && !m_blocked) {
        Chunk &chunk = m_queue.front();
        Clock::time_point now = Clock::now();
        if (chunk.notBefore > now)
            return chunk.notBefore;

        size_t allowed = chunk.bytes.size();
        std::chrono::nanoseconds byteTime{0};
        if (m_options.lineRate) {
            uint32_t speed = currentSpeed();
            if (speed == 0)
                speed = 9600;
            byteTime = std::chrono::nanoseconds(10LL * 1000000000LL / speed);
            // An idle line builds up no credit.
            if (m_nextByte < now - byteTime)
                m_nextByte = now - byteTime;
            if (m_nextByte > now)
                return m_nextByte;
            allowed = std::min<size_t>(allowed, 1 + (now - m_nextByte) / byteTime);
        }
        ssize_t written = ::write(m_master, chunk.bytes.data(), allowed);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                m_blocked = true;
                return never;
            }
            std::perror("orbo-sim: write");
            m_failed = true;
            return never;
        }
        if (m_options.lineRate)
            m_nextByte += byteTime * written;
        chunk.bytes.erase(0, static_cast<size_t>(written));
        if (chunk.bytes.empty())
            m_queue.pop_front();
    }
    return never;
}
