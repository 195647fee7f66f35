#include "tcpstream.h"

#include "streamwait.h"

#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A name look-up runs on a thread of its own, so that it can be given up
// on: the resolver's own time-outs run to many seconds. The state is
// shared, so a look-up given up on finishes (and frees its answer) alone.
struct Lookup
{
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    int result = EAI_AGAIN;
    addrinfo *addresses = nullptr;
};

// 0 and the addresses, else an EAI_ code; timedOut tells that no answer
// came within timeoutMs.
int resolve(const std::string &host, const std::string &service, int timeoutMs, addrinfo **result,
            bool &timedOut)
{
    timedOut = false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    // An address needs no look-up.
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, result) == 0)
        return 0;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;

    auto lookup = std::make_shared<Lookup>();
    std::thread worker([lookup, host, service, hints] {
        addrinfo *found = nullptr;
        const int code = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
        std::lock_guard<std::mutex> guard(lookup->mutex);
        if (lookup->abandoned) {
            if (found)
                ::freeaddrinfo(found);
            return;
        }
        lookup->result = code;
        lookup->addresses = found;
        lookup->done = true;
        lookup->finished.notify_all();
    });
    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->finished.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return lookup->done; })) {
        lookup->abandoned = true;
        lock.unlock();
        worker.detach();
        timedOut = true;
        return EAI_AGAIN;
    }
    lock.unlock();
    worker.join();
    *result = lookup->addresses;
    return lookup->result;
}

} // namespace

TcpStream::TcpStream(std::string host, std::string service)
    : m_host(std::move(host))
    , m_service(std::move(service))
{
}

TcpStream::~TcpStream()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool TcpStream::splitAddress(const std::string &text, const std::string &scheme, std::string &host,
                             std::string &service)
{
    const std::string prefix = scheme + "://";
    if (text.size() <= prefix.size() || text.compare(0, prefix.size(), prefix) != 0)
        return false;
    const std::string rest = text.substr(prefix.size());
    size_t colon = std::string::npos;
    if (rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return false;
        host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos || rest.find(':') != colon)
            return false;
        host = rest.substr(0, colon);
    }
    service = rest.substr(colon + 1);
    if (host.empty() || service.empty() || service.size() > 5)
        return false;
    long number = 0;
    for (char c : service) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    return number >= 1 && number <= 65535;
}

std::string TcpStream::peerName() const
{
    return (m_host.find(':') != std::string::npos ? "[" + m_host + "]" : m_host) + ":" + m_service;
}

int TcpStream::connectSocket()
{
    const StreamClock::time_point deadline = deadlineIn(kConnectTimeoutMs);
    addrinfo *addresses = nullptr;
    bool timedOut = false;
    const int looked = resolve(m_host, m_service, kConnectTimeoutMs, &addresses, timedOut);
    if (looked != 0) {
        // EAI_AGAIN at once: no name server could be asked (none is
        // reachable, or it failed), which says nothing about the name.
        m_failure = "the name " + m_host
            + (timedOut                  ? " was not found in time"
                   : looked == EAI_AGAIN ? " could not be looked up: no name server answered"
                                         : " is unknown");
        return EHOSTUNREACH;
    }
    int error = ETIMEDOUT;
    for (addrinfo *address = addresses; address; address = address->ai_next) {
        const int fd =
            ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                     address->ai_protocol);
        if (fd < 0) {
            error = errno;
            continue;
        }
        int result = ::connect(fd, address->ai_addr, address->ai_addrlen);
        if (result != 0 && errno == EINPROGRESS) {
            pollfd pfd{fd, POLLOUT, 0};
            int ready = 0;
            do
                ready = ::poll(&pfd, 1, msLeft(deadline));
            while (ready < 0 && errno == EINTR);
            int soError = ETIMEDOUT;
            socklen_t length = sizeof soError;
            if (ready > 0)
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length);
            errno = soError;
            result = soError == 0 ? 0 : -1;
        }
        if (result == 0) {
            ::freeaddrinfo(addresses);
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            m_fd = fd;
            return 0;
        }
        error = errno;
        ::close(fd);
        if (msLeft(deadline) == 0)
            break;
    }
    ::freeaddrinfo(addresses);
    switch (error) {
    case ECONNREFUSED: m_failure = peerName() + " refused the connection"; break;
    case ETIMEDOUT:
        m_failure = "no answer from " + peerName() + " within "
            + std::to_string(kConnectTimeoutMs / 1000) + " s";
        break;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case EADDRNOTAVAIL: m_failure = peerName() + " is unreachable"; break;
    default: m_failure = peerName() + ": " + std::strerror(error); break;
    }
    return error;
}

int TcpStream::open(const SerialConfig &config)
{
    m_failure.clear();
    m_input.clear();
    m_inputPos = 0;
    m_hungUp = false;
    const int error = connectSocket();
    if (error != 0)
        return error;
    const int refused = handshake(config);
    if (refused != 0) {
        close();
        return refused;
    }
    return 0;
}

int TcpStream::handshake(const SerialConfig &)
{
    // A server that keeps the line for another client says so and
    // closes at once.
    const StreamClock::time_point deadline = deadlineIn(kSettleMs);
    while (pump() && waitSocket(msLeft(deadline))) { }
    if (!m_hungUp)
        return 0;
    m_failure = "the server holds the line: another client is using it" + refusalText();
    return EBUSY;
}

std::string TcpStream::refusalText() const
{
    std::string text;
    for (size_t i = m_inputPos; i < m_input.size() && text.size() < 80; ++i) {
        const unsigned char c = static_cast<unsigned char>(m_input[i]);
        if (c >= 0x20 && c < 0x7f)
            text += static_cast<char>(c);
        else if (!text.empty() && text.back() != ' ')
            text += ' ';
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text.empty() ? text : " (" + text + ")";
}

void TcpStream::close()
{
    const int fd = m_fd.exchange(-1);
    if (fd >= 0) {
        // A server lets the line go once it has seen the connection end:
        // its close is waited for (briefly), so that the next open, at
        // once, finds the line free.
        if (!m_hungUp && ::shutdown(fd, SHUT_WR) == 0) {
            const StreamClock::time_point deadline = deadlineIn(kCloseWaitMs);
            char scratch[512];
            pollfd pfd{fd, POLLIN, 0};
            while (msLeft(deadline) > 0 && ::poll(&pfd, 1, msLeft(deadline)) > 0
                   && ::recv(fd, scratch, sizeof scratch, 0) > 0) { }
        }
        ::close(fd);
    }
    m_input.clear();
    m_inputPos = 0;
}

bool TcpStream::configure(const SerialConfig &)
{
    // The server runs the line at its own settings.
    return true;
}

int TcpStream::setModemLines(LineControl, LineControl)
{
    return 0;
}

void TcpStream::received(const char *data, size_t count)
{
    m_input.append(data, count);
}

std::string TcpStream::encode(const char *data, size_t count)
{
    return std::string(data, count);
}

bool TcpStream::pump()
{
    if (m_fd < 0 || m_hungUp)
        return false;
    if (m_inputPos > 0 && m_inputPos == m_input.size()) {
        m_input.clear();
        m_inputPos = 0;
    }
    char chunk[4096];
    // Bounded by what arrives, too: bytes that carry no line data (option
    // traffic) never fill the buffer.
    size_t taken = 0;
    while (buffered() < kMaxBuffered && taken < kMaxBuffered && m_fd >= 0 && !m_hungUp) {
        const ssize_t got = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (got > 0) {
            taken += static_cast<size_t>(got);
            received(chunk, static_cast<size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        // The server closed the connection or it broke.
        m_lastError = got == 0 ? ECONNRESET : errno;
        m_hungUp = true;
        return false;
    }
    return !m_hungUp;
}

bool TcpStream::waitSocket(int timeoutMs)
{
    pollfd pfd{m_fd, POLLIN, 0};
    int ready = 0;
    const StreamClock::time_point deadline = deadlineIn(timeoutMs);
    do
        ready = ::poll(&pfd, 1, msLeft(deadline));
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

int TcpStream::waiting()
{
    pump();
    return static_cast<int>(std::min(buffered(), static_cast<size_t>(1) << 30));
}

size_t TcpStream::readWaiting(char *buffer, size_t maxCount)
{
    if (buffered() < maxCount)
        pump();
    const size_t count = std::min(maxCount, buffered());
    std::memcpy(buffer, m_input.data() + m_inputPos, count);
    m_inputPos += count;
    return count;
}

bool TcpStream::sendAll(const char *data, size_t count, int timeoutMs)
{
    const StreamClock::time_point deadline = deadlineIn(timeoutMs);
    size_t done = 0;
    while (done < count) {
        const ssize_t put = ::send(m_fd, data + done, count - done, MSG_NOSIGNAL);
        if (put > 0) {
            done += static_cast<size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            m_lastError = errno;
            m_hungUp = true;
            return false;
        }
        pollfd pfd{m_fd, POLLOUT, 0};
        if (msLeft(deadline) == 0 || ::poll(&pfd, 1, msLeft(deadline)) == 0)
            return false;
    }
    return true;
}

size_t TcpStream::write(const char *buffer, size_t count, int timeoutMs)
{
    if (m_fd < 0 || m_hungUp)
        return 0;
    const std::string bytes = encode(buffer, count);
    return sendAll(bytes.data(), bytes.size(), timeoutMs) ? count : 0;
}

bool TcpStream::waitForInput(int timeoutMs)
{
    const StreamClock::time_point deadline = deadlineIn(timeoutMs);
    for (;;) {
        if (buffered() > 0 || (pump() && buffered() > 0))
            return true;
        if (m_hungUp || m_fd < 0)
            return false;
        // Bytes that carried no line data (option traffic) do not end
        // the wait.
        if (msLeft(deadline) == 0 || !waitSocket(msLeft(deadline)))
            return false;
    }
}

void TcpStream::purge()
{
    pump();
    m_input.clear();
    m_inputPos = 0;
}

bool TcpStream::checkHungUp()
{
    // Only looks: another thread may be reading the socket.
    const int fd = m_fd;
    if (fd >= 0 && !m_hungUp) {
        pollfd pfd{fd, POLLRDHUP, 0};
        if (::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLRDHUP | POLLHUP | POLLERR)))
            m_hungUp = true;
    }
    return m_hungUp;
}
