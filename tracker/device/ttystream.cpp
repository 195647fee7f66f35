#include "ttystream.h"

#include "linecontrol.h"
#include "lineformat.h"
#include "streamwait.h"

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Pseudo-terminal slaves (Unix 98) have the majors 136 to 143.
bool isPseudoTerminal(int fd)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    const unsigned major = ::major(info.st_rdev);
    return major >= 136 && major <= 143;
}

} // namespace

TtyStream::~TtyStream()
{
    if (m_fd >= 0)
        close();
}

std::string TtyStream::devicePath(const std::string &port)
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

void TtyStream::noteError(int error)
{
    m_lastError = error;
    if (error == EIO || error == ENXIO || error == ENODEV)
        m_hungUp = true;
}

int TtyStream::open(const SerialConfig &config)
{
    const std::string path = devicePath(config.port);
    if (path.empty())
        return ENOENT;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_lastError = errno;
        return errno;
    }
    // Only a terminal device is a port; a plain file or a directory named
    // by the user is not.
    if (!::isatty(fd)) {
        ::close(fd);
        return ENOTTY;
    }
    // No sharing. The advisory lock dies with its holder, even one killed
    // outright, and also keeps out an opener with the privilege to ignore
    // the terminal's exclusive mode.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        m_lastError = errno;
        ::close(fd);
        return EBUSY;
    }
    // The exclusive mode keeps out other programs. A pseudo-terminal keeps
    // it for as long as its other end lives, even after a holder that was
    // killed, so there the lock alone guards the port.
    if (!isPseudoTerminal(fd))
        ::ioctl(fd, TIOCEXCL);
    m_fd = fd;
    m_hungUp = false;
    return 0;
}

void TtyStream::close()
{
    if (m_fd < 0)
        return;
    ::tcflush(m_fd, TCIOFLUSH);
    // Leave the terminal openable for the next user even while another
    // descriptor of it stays open.
    ::ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
    m_fd = -1;
}

bool TtyStream::configure(const SerialConfig &config)
{
    termios settings{};
    if (::tcgetattr(m_fd, &settings) != 0) {
        m_lastError = errno;
        return false;
    }
    if (!LineFormat::apply(settings, config))
        return false;
    if (::tcsetattr(m_fd, TCSANOW, &settings) != 0) {
        m_lastError = errno;
        return false;
    }
    return true;
}

int TtyStream::setModemLines(LineControl dtr, LineControl rts)
{
    return applyLineControl(m_fd, dtr, rts, isPseudoTerminal(m_fd));
}

int TtyStream::waiting()
{
    int count = 0;
    if (::ioctl(m_fd, FIONREAD, &count) != 0) {
        noteError(errno);
        return 0;
    }
    return count > 0 ? count : 0;
}

size_t TtyStream::readWaiting(char *buffer, size_t maxCount)
{
    for (;;) {
        ssize_t got = ::read(m_fd, buffer, maxCount);
        if (got > 0)
            return static_cast<size_t>(got);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            noteError(errno);
        return 0;
    }
}

size_t TtyStream::write(const char *buffer, size_t count, int timeoutMs)
{
    const StreamClock::time_point deadline = deadlineIn(timeoutMs);
    size_t done = 0;
    while (done < count) {
        ssize_t put = ::write(m_fd, buffer + done, count - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // The device refused the data (for example it went away).
            noteError(errno);
            return done;
        }
        const int left = msLeft(deadline);
        if (left == 0)
            return 0;
        pollfd pfd{m_fd, POLLOUT, 0};
        int ready = ::poll(&pfd, 1, left);
        if (ready < 0 && errno != EINTR) {
            m_lastError = errno;
            return done;
        }
        if (ready > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))
            && !(pfd.revents & POLLOUT)) {
            m_hungUp = true;
            return done;
        }
    }
    return done;
}

bool TtyStream::waitForInput(int timeoutMs)
{
    // A hung-up line reports readiness for ever, so it is slept on
    // instead of spun on.
    const StreamClock::time_point deadline = deadlineIn(timeoutMs);
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

void TtyStream::purge()
{
    ::tcflush(m_fd, TCIOFLUSH);
}

bool TtyStream::checkHungUp()
{
    pollfd pfd{m_fd, 0, 0};
    if (::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
        m_hungUp = true;
    return m_hungUp;
}
