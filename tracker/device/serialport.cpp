#include "serialport.h"

#include "bytestream.h"
#include "streamwait.h"
#include "ttystream.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kDrainWaitMs = 1000;
constexpr int kWriteWaitPerByteMs = 100;

} // namespace

struct CSerialPort::Impl
{
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_simulated{false};
    // The stream of the last Open; kept after Close so that a look at
    // the line from another thread never meets a destroyed one.
    std::unique_ptr<ByteStream> m_stream;
    SerialConfig m_config;
    // Kept for diagnosis, like the line status of the last query. Atomic:
    // an exchange that was taken over may still be finishing a call.
    std::atomic<int> m_openError{0};
    std::string m_openFailure;
    std::atomic<uint32_t> m_lastReadCount{0};
    std::atomic<uint32_t> m_lastDrainCount{0};

    bool live() const { return m_open && !m_simulated && m_stream; }

    // Reads exactly count bytes, waiting at most timeoutMs for the rest.
    // Returns the bytes read.
    size_t readExactly(char *buffer, size_t count, int timeoutMs)
    {
        const StreamClock::time_point deadline = deadlineIn(timeoutMs);
        size_t done = 0;
        while (done < count) {
            const size_t got = m_stream->readWaiting(buffer + done, count - done);
            if (got > 0) {
                done += got;
                continue;
            }
            if (m_stream->isHungUp() || msLeft(deadline) == 0
                || !m_stream->waitForInput(msLeft(deadline)))
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
    return TtyStream::devicePath(port);
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
    m_d->m_openFailure.clear();
    std::unique_ptr<ByteStream> stream = ByteStream::make(config.port);
    const int error = stream->open(config);
    if (error != 0) {
        m_d->m_openError = error;
        m_d->m_openFailure = stream->failure();
        return -1;
    }
    m_d->m_config = config;
    m_d->m_stream = std::move(stream);
    m_d->m_open = true;
    Configure(config);
    // The modem lines are set before anything is exchanged: an instrument
    // powered or reset by them is ready by the first command.
    if (const int error = m_d->m_stream->setModemLines(config.dtr, config.rts); error != 0) {
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
    if (!m_d->live() || !m_d->m_stream->configure(config))
        return -1;

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
    if (m_d->m_simulated || !m_d->m_stream)
        return 1;
    m_d->m_stream->purge();
    m_d->m_stream->close();
    return 1;
}

int CSerialPort::DrainInput()
{
    if (!m_d->m_open)
        return -1;
    if (!m_d->live())
        return 0;
    const int count = m_d->m_stream->waiting();
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
    const int waiting = m_d->live() ? m_d->m_stream->waiting() : 0;
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
    if (!m_d->m_stream)
        return 0;

    std::vector<char> block(total);
    if (count > 0)
        std::memcpy(block.data(), buffer, static_cast<size_t>(count));
    if (terminate)
        block[total - 1] = static_cast<char>(m_d->m_config.terminator);

    const long long budgetMs =
        static_cast<long long>(kWriteWaitPerByteMs) * static_cast<long long>(total);
    const int timeoutMs = static_cast<int>(std::min<long long>(budgetMs, 1 << 30));
    return static_cast<int>(m_d->m_stream->write(block.data(), total, timeoutMs));
}

uint32_t CSerialPort::readWaiting(char *buffer, uint32_t maxCount)
{
    if (!m_d->live() || !buffer || maxCount == 0)
        return 0;
    return static_cast<uint32_t>(m_d->m_stream->readWaiting(buffer, maxCount));
}

int CSerialPort::bytesWaiting()
{
    return m_d->live() ? m_d->m_stream->waiting() : 0;
}

bool CSerialPort::waitForInput(int timeoutMs)
{
    if (timeoutMs < 0)
        timeoutMs = 0;
    if (!m_d->live()) {
        // Nothing will ever arrive; let the caller's time-out run out.
        sleepMs(timeoutMs);
        return false;
    }
    return m_d->m_stream->waitForInput(timeoutMs);
}

bool CSerialPort::isHungUp() const
{
    // The stream kept after Close tells nothing about a later link, a
    // simulated one least of all.
    return m_d->live() && m_d->m_stream->isHungUp();
}

bool CSerialPort::checkHungUp()
{
    return m_d->live() && m_d->m_stream->checkHungUp();
}

bool CSerialPort::setsBaudRate() const
{
    // A simulated port answers at any rate.
    return !m_d->m_stream || m_d->m_stream->setsBaudRate();
}

bool CSerialPort::changesRateInSession() const
{
    return m_d->live() && m_d->m_stream->changesRateInSession();
}

int CSerialPort::openError() const
{
    return m_d->m_openError;
}

std::string CSerialPort::openFailure() const
{
    return m_d->m_openFailure.empty() ? openErrorText(m_d->m_openError) : m_d->m_openFailure;
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
