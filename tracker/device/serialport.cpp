#include "serialport.h"

#include "lineformat.h"
#include "linecontrol.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDrainWaitMs = 1000;
constexpr int kWriteWaitPerByteMs = 100;

int msLeft(Clock::time_point deadline)
{
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Pseudo-terminal slaves (Unix 98) have the majors 136 to 143.
bool isPseudoTerminal(int fd)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    const unsigned major = ::major(info.st_rdev);
    return major >= 136 && major <= 143;
}

void sleepMs(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

struct CSerialPort::Impl
{
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_simulated{false};
    int m_fd = -1;
    SerialConfig m_config;
    // Kept for diagnosis, like the line status of the last query. Atomic:
    // an exchange that was taken over may still be finishing a call.
    std::atomic<int> m_lastError{0};
    std::atomic<int> m_openError{0};
    std::atomic<uint32_t> m_lastReadCount{0};
    std::atomic<uint32_t> m_lastDrainCount{0};
    std::atomic<bool> m_hungUp{false};

    // Notes an error of a read, write or query; EIO and ENXIO mean the
    // line is gone.
    void noteError(int error)
    {
        m_lastError = error;
        if (error == EIO || error == ENXIO || error == ENODEV)
            m_hungUp = true;
    }

    // Bytes waiting in the input queue; 0 when the query fails (a device
    // that has gone away has nothing to offer).
    int waiting()
    {
        int count = 0;
        if (::ioctl(m_fd, FIONREAD, &count) != 0) {
            noteError(errno);
            return 0;
        }
        return count > 0 ? count : 0;
    }

    // Waits until at least one byte is waiting or until timeoutMs has
    // passed. A hung-up line reports readiness for ever, so it is slept
    // on instead of spun on.
    bool waitReadable(int timeoutMs)
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            pollfd pfd{m_fd, POLLIN, 0};
            int ready = ::poll(&pfd, 1, msLeft(deadline));
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                m_lastError = errno;
                sleepMs(msLeft(deadline));
                return false;
            }
            if (ready == 0)
                return false;
            if ((pfd.revents & POLLIN) && !(pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
                return true;
            if (waiting() > 0)
                return true;
            if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                // Nothing more will come: the caller learns it at once.
                m_hungUp = true;
                return false;
            }
            // Readable but nothing counted yet: look again shortly.
            if (msLeft(deadline) == 0)
                return false;
            sleepMs(1);
        }
    }

    // Reads exactly count bytes, waiting at most timeoutMs for the rest.
    // Returns the bytes read.
    size_t readExactly(char *buffer, size_t count, int timeoutMs)
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        size_t done = 0;
        while (done < count) {
            ssize_t got = ::read(m_fd, buffer + done, count - done);
            if (got > 0) {
                done += static_cast<size_t>(got);
                continue;
            }
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                noteError(errno);
                break;
            }
            if (got == 0 || msLeft(deadline) == 0 || !waitReadable(msLeft(deadline)))
                break;
        }
        return done;
    }
};

CSerialPort::CSerialPort()
    : m_d(new Impl)
{
}

CSerialPort::~CSerialPort()
{
    if (m_d->m_open)
        Close();
    delete m_d;
}

std::string CSerialPort::devicePath(const std::string &port)
{
    if (port.empty())
        return std::string();
    if (port[0] == '/')
        return port;
    long number = 0;
    for (char c : port) {
        if (c < '0' || c > '9')
            return std::string();
        number = number * 10 + (c - '0');
        if (number > 1000000)
            return std::string();
    }
    if (number < 1)
        return std::string();
    return "/dev/ttyS" + std::to_string(number - 1);
}

int CSerialPort::Open(const SerialConfig &config)
{
    if (m_d->m_open)
        return 1;
    if (m_d->m_simulated) {
        m_d->m_open = true;
        return 1;
    }

    m_d->m_openError = 0;
    const std::string path = devicePath(config.port);
    if (path.empty()) {
        m_d->m_openError = ENOENT;
        return -1;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_d->m_lastError = errno;
        m_d->m_openError = errno;
        return -1;
    }
    // Only a terminal device is a port; a plain file or a directory named
    // by the user is not.
    if (!::isatty(fd)) {
        m_d->m_openError = ENOTTY;
        ::close(fd);
        return -1;
    }
    // No sharing. The advisory lock dies with its holder, even one killed
    // outright, and also keeps out an opener with the privilege to ignore
    // the terminal's exclusive mode.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        m_d->m_lastError = errno;
        m_d->m_openError = EBUSY;
        ::close(fd);
        return -1;
    }
    // The exclusive mode keeps out other programs. A pseudo-terminal keeps
    // it for as long as its other end lives, even after a holder that was
    // killed, so there the lock alone guards the port.
    if (!isPseudoTerminal(fd))
        ::ioctl(fd, TIOCEXCL);

    m_d->m_config = config;
    m_d->m_fd = fd;
    m_d->m_hungUp = false;
    m_d->m_open = true;
    Configure(config);
    // The modem lines are set before anything is exchanged: an instrument
    // powered or reset by them is ready by the first command.
    if (const int error = applyLineControl(fd, config, isPseudoTerminal(fd)); error != 0) {
        Close();
        m_d->m_openError = error;
        return -1;
    }
    DrainInput();
    return 1;
}

int CSerialPort::Configure(const SerialConfig &config)
{
    SerialConfig &current = m_d->m_config;
    if (m_d->m_open) {
        if (config.port != current.port || config.inQueueSize != current.inQueueSize
            || config.outQueueSize != current.outQueueSize || config.lineEnd != current.lineEnd
            || config.reserved != current.reserved)
            return -1;
    } else {
        current = config;
    }
    if (!m_d->m_open || m_d->m_simulated || m_d->m_fd < 0)
        return -1;

    termios settings{};
    if (::tcgetattr(m_d->m_fd, &settings) != 0) {
        m_d->m_lastError = errno;
        return -1;
    }
    if (!LineFormat::apply(settings, config))
        return -1;
    if (::tcsetattr(m_d->m_fd, TCSANOW, &settings) != 0) {
        m_d->m_lastError = errno;
        return -1;
    }
    current.baudRate = config.baudRate;
    current.stopBits = config.stopBits;
    current.dataBits = config.dataBits;
    current.parity = config.parity;
    current.readTimeout = config.readTimeout;
    current.lineEnd = config.lineEnd;
    current.reserved = config.reserved;
    return 1;
}

int CSerialPort::Close()
{
    if (!m_d->m_open)
        return -1;
    m_d->m_open = false;
    if (m_d->m_fd < 0)
        return 1;
    ::tcflush(m_d->m_fd, TCIOFLUSH);
    // Leave the terminal openable for the next user even while another
    // descriptor of it stays open.
    ::ioctl(m_d->m_fd, TIOCNXCL);
    ::close(m_d->m_fd);
    m_d->m_fd = -1;
    return 1;
}

int CSerialPort::DrainInput()
{
    if (!m_d->m_open)
        return -1;
    if (m_d->m_simulated)
        return 0;
    const int count = m_d->waiting();
    if (count == 0)
        return 0;
    std::vector<char> scratch(static_cast<size_t>(count));
    const size_t got = m_d->readExactly(scratch.data(), scratch.size(), kDrainWaitMs);
    // A read that could not finish in time counts as nothing drained.
    m_d->m_lastDrainCount = got == scratch.size() ? static_cast<uint32_t>(count) : 0;
    return static_cast<int>(m_d->m_lastDrainCount);
}

uint32_t CSerialPort::ReadAvailable(char *buffer, uint32_t count)
{
    if (!m_d->m_open)
        return 0;
    if (m_d->m_simulated) {
        if (buffer)
            std::memset(buffer, ',', count);
        return count;
    }
    const int waiting = m_d->waiting();
    if (!buffer || static_cast<uint32_t>(waiting) < count)
        return 0;
    const size_t got = m_d->readExactly(buffer, count, static_cast<int>(m_d->m_config.readTimeout));
    m_d->m_lastReadCount = got == count ? count : 0;
    return m_d->m_lastReadCount;
}

int CSerialPort::Write(const char *buffer, int count)
{
    if (!m_d->m_open || count < 0)
        return -1;
    const bool terminate = m_d->m_config.terminator >= 0;
    const size_t total = static_cast<size_t>(count) + (terminate ? 1 : 0);
    if (m_d->m_simulated)
        return static_cast<int>(total);

    std::vector<char> block(total);
    if (count > 0)
        std::memcpy(block.data(), buffer, static_cast<size_t>(count));
    if (terminate)
        block[total - 1] = static_cast<char>(m_d->m_config.terminator);

    const long long budgetMs =
        static_cast<long long>(kWriteWaitPerByteMs) * static_cast<long long>(total);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(budgetMs);
    size_t done = 0;
    while (done < total) {
        ssize_t put = ::write(m_d->m_fd, block.data() + done, total - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // The device refused the data (for example it went away).
            m_d->noteError(errno);
            return static_cast<int>(done);
        }
        const int left = msLeft(deadline);
        if (left == 0)
            return 0;
        pollfd pfd{m_d->m_fd, POLLOUT, 0};
        int ready = ::poll(&pfd, 1, left);
        if (ready < 0 && errno != EINTR) {
            m_d->m_lastError = errno;
            return static_cast<int>(done);
        }
        if (ready > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))
            && !(pfd.revents & POLLOUT)) {
            m_d->m_hungUp = true;
            return static_cast<int>(done);
        }
    }
    return static_cast<int>(done);
}

uint32_t CSerialPort::readWaiting(char *buffer, uint32_t maxCount)
{
    if (!m_d->m_open || m_d->m_simulated || m_d->m_fd < 0 || !buffer || maxCount == 0)
        return 0;
    for (;;) {
        ssize_t got = ::read(m_d->m_fd, buffer, maxCount);
        if (got > 0)
            return static_cast<uint32_t>(got);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            m_d->noteError(errno);
        return 0;
    }
}

int CSerialPort::bytesWaiting()
{
    if (!m_d->m_open)
        return 0;
    if (m_d->m_simulated)
        return 0;
    return m_d->waiting();
}

bool CSerialPort::waitForInput(int timeoutMs)
{
    if (timeoutMs < 0)
        timeoutMs = 0;
    if (!m_d->m_open || m_d->m_simulated || m_d->m_fd < 0) {
        // Nothing will ever arrive; let the caller's time-out run out.
        sleepMs(timeoutMs);
        return false;
    }
    return m_d->waitReadable(timeoutMs);
}

bool CSerialPort::isHungUp() const
{
    return m_d->m_hungUp;
}

bool CSerialPort::checkHungUp()
{
    if (!m_d->m_open || m_d->m_simulated || m_d->m_fd < 0)
        return false;
    pollfd pfd{m_d->m_fd, 0, 0};
    if (::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
        m_d->m_hungUp = true;
    return m_d->m_hungUp;
}

int CSerialPort::openError() const
{
    return m_d->m_openError;
}

std::string CSerialPort::openErrorText(int error)
{
    switch (error) {
    case 0: return std::string();
    case EBUSY: return "the port is busy: another program is using it";
    case ENOENT:
    case ENODEV:
    case ENXIO: return "no such device";
    case EACCES:
    case EPERM:
        return "no permission: on Linux a user needs to be in the dialout group "
               "to use serial ports";
    case ENOTTY: return "not a serial port";
    case EOPNOTSUPP: return "the port has no DTR/RTS lines to set";
    default: return std::strerror(error);
    }
}

bool CSerialPort::isOpen() const
{
    return m_d->m_open;
}

bool CSerialPort::isSimulated() const
{
    return m_d->m_simulated;
}

void CSerialPort::setSimulated(bool simulated)
{
    m_d->m_simulated = simulated;
}

const SerialConfig &CSerialPort::config() const
{
    return m_d->m_config;
}
