#include "devicesession.h"

#include "textline.h"

#include "cnumber.h"
#include "commandcatalogue.h"
#include "pseudorandom.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLockTimeoutMs = 10000;
constexpr int kSimulatedAnswerMs = 20;
constexpr int kListingSettleMs = 50;
// How long an exchange waits for input at most before it looks again
// whether it still holds the bus lock and was not cancelled.
constexpr long long kCheckSliceMs = 20;

// Holds the bus lock for one exchange, whatever the lock reported.
class BusLockHolder
{
public:
    explicit BusLockHolder(CBusMutex &mutex)
        : m_mutex(mutex)
    {
        m_mutex.Lock(kLockTimeoutMs, 0);
    }
    ~BusLockHolder() { m_mutex.Unlock(); }
    BusLockHolder(const BusLockHolder &) = delete;
    BusLockHolder &operator=(const BusLockHolder &) = delete;

private:
    CBusMutex &m_mutex;
};

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

} // namespace

const char *const CDeviceSession::kCommandTooLong = "Command too long!";
const char *const CDeviceSession::kTimeoutText = "Timeout!";

CDeviceSession::CDeviceSession() = default;

std::string CDeviceSession::lossText(Loss loss)
{
    switch (loss) {
    case Loss::None: return std::string();
    case Loss::HungUp: return "ORBO lost: the line hung up (unplugged or switched off)";
    }
    return std::string();
}

void CDeviceSession::setLossCallback(LossCallback callback)
{
    m_onLoss = std::move(callback);
}

int CDeviceSession::openPort(const SerialConfig &config)
{
    BusLockHolder busLock(m_mutex);
    m_loss = Loss::None;
    return m_port.Open(config);
}

bool CDeviceSession::reopenPort()
{
    BusLockHolder busLock(m_mutex);
    if (m_port.isOpen())
        m_port.Close();
    if (m_cancelled.load() || m_port.Open(m_config) != 1)
        return false;
    std::string echo;
    std::string reply;
    bool simulated = false;
    End end = End::Answered;
    if (exchange("SSV", echo, reply, simulated, end, nullptr) < 0) {
        m_port.Close();
        return false;
    }
    m_loss = Loss::None;
    return true;
}

long long CDeviceSession::exchangeBoundMs(const SerialConfig &config)
{
    // Start bit, data bits, parity and stop bits of each byte.
    const long long bitsPerByte = 1 + (config.dataBits > 0 ? config.dataBits : 8)
        + (config.parity != 0 ? 1 : 0) + (config.stopBits == 0 ? 1 : 2);
    const long long rate = config.baudRate > 0 ? config.baudRate : 9600;
    const long long lineMs = (kMaxCollected * bitsPerByte * 1000 + rate - 1) / rate;
    return std::min<long long>(static_cast<long long>(config.readTimeout) + lineMs, kMaxExchangeMs);
}
int CDeviceSession::closePort()
{
    BusLockHolder busLock(m_mutex);
    return m_port.Close();
}

void CDeviceSession::cancelExchanges()
{
    m_cancelled = true;
}

void CDeviceSession::resumeExchanges()
{
    m_cancelled = false;
}

bool CDeviceSession::watchLine()
{
    if (m_port.isOpen() && m_port.checkHungUp())
        markLost(Loss::HungUp);
    return isLost();
}

void CDeviceSession::markLost(Loss loss)
{
    Loss none = Loss::None;
    if (m_loss.compare_exchange_strong(none, loss) && m_onLoss)
        m_onLoss(loss);
}

double CDeviceSession::fullScale() const
{
    return m_fullScale.load();
}

void CDeviceSession::setFullScale(double value)
{
    m_fullScale.store(value);
}

bool CDeviceSession::nextByte(ReadAhead &ahead, char &byte)
{
    if (ahead.next < ahead.size) {
        byte = ahead.data[ahead.next++];
        return true;
    }
    if (m_port.isSimulated())
        return m_port.ReadAvailable(&byte, 1) == 1;
    const uint32_t count = m_port.readWaiting(ahead.data, sizeof ahead.data);
    if (count == 0)
        return false;
    ahead.size = count;
    ahead.next = 1;
    byte = ahead.data[0];
    return true;
}

int CDeviceSession::Transact(std::string command, std::string &echo, std::string &reply)
{
    return Transact(std::move(command), echo, reply, 1, nullptr);
}

int CDeviceSession::Transact(std::string command, std::string &echo, std::string &reply,
                             int attempts, int *made, const std::atomic<bool> *stop)
{
    if (made)
        *made = 0;
    echo.clear();
    reply.clear();
    command = trimmed(command);
    // The command and its LF must fit the exchange buffer.
    if (command.size() + 1 > static_cast<size_t>(kExchangeBufferSize)) {
        reply = kCommandTooLong;
        return -1;
    }

    int result = -1;
    bool simulated = false;
    {
        BusLockHolder busLock(m_mutex);
        for (int attempt = 1; attempt <= attempts; ++attempt) {
            End end = End::Answered;
            result = exchange(command, echo, reply, simulated, end, stop);
            if (made)
                *made = attempt;
            // A lock taken over by a waiter is no longer ours to retry
            // under, and a lost or cancelled line answers no retry.
            if (result >= 0 || end == End::Abandoned || m_loss.load() == Loss::HungUp)
                break;
        }
    }

    if (simulated) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kSimulatedAnswerMs));
        reply = simulatedReply(command);
    }
    return result;
}

int CDeviceSession::exchange(const std::string &command, std::string &echo, std::string &reply,
                             bool &simulated, End &end, const std::atomic<bool> *stop)
{
    echo.clear();
    reply.clear();
    int result = -1;
    end = End::Answered;
    simulated = m_port.isSimulated();
    // A hung-up line, a lost device whose port is not open again, or a
    // cancelled session makes no exchange at all.
    const auto abandoned = [&] {
        if (m_port.isHungUp())
            markLost(Loss::HungUp);
        const bool gone = m_port.isHungUp() || (isLost() && !m_port.isOpen());
        if (!m_cancelled.load() && !(stop && stop->load()) && !gone && m_mutex.holdsLock())
            return false;
        reply = kTimeoutText;
        end = End::Abandoned;
        return true;
    };
    if (abandoned())
        return -1;
    const char separator = static_cast<char>(m_config.separator);
    const long long readTimeout = m_config.readTimeout;
    // However the bytes come, the exchange ends by this time.
    const Clock::time_point begin = Clock::now();
    const long long bound = exchangeBoundMs(m_config);

    // Each exchange has a buffer of its own, so an exchange whose lock
    // was taken over never writes into the buffer of the one that
    // took it.
    char buffer[kExchangeBufferSize];
    m_port.DrainInput();

    std::memcpy(buffer, command.data(), command.size());
    buffer[command.size()] = '\n';
    m_port.Write(buffer, static_cast<int>(command.size() + 1));

    ReadAhead ahead;
    int separators = 0;
    int p = 0;
    bool received = false;
    Clock::time_point lastByte = Clock::now();
    for (;;) {
        // Taken over by a waiter (the port is no longer ours), hung up or
        // cancelled: the exchange ends here.
        if (abandoned()) {
            result = -1;
            break;
        }
        const long long total = msSince(begin);
        if (total >= bound) {
            // A device that drips bytes under the read time-out.
            reply = kTimeoutText;
            result = -1;
            end = received ? End::Answered : End::TimedOut;
            break;
        }
        if (!nextByte(ahead, buffer[p])) {
            const long long quiet = msSince(lastByte);
            if (quiet > readTimeout) {
                reply = kTimeoutText;
                result = -1;
                // A device that sent anything at all is there.
                end = received ? End::Answered : End::TimedOut;
                break;
            }
            m_port.waitForInput(static_cast<int>(
                std::min({readTimeout - quiet + 1, bound - total, kCheckSliceMs})));
            continue;
        }
        // The time-out runs from the last byte received.
        lastByte = Clock::now();
        received = true;

        if (p > 15 && simulated) {
            echo = command;
            result = p;
            break;
        }
        if (buffer[p] == separator)
            ++separators;
        if (p >= kMaxCollected) {
            // Full buffer: keep what came before the last byte.
            reply.assign(buffer, static_cast<size_t>(p - 1));
            result = p;
            break;
        }
        if (separators == 2) {
            // End of the echo block: drop the line end in front of the
            // second separator and the separator itself.
            echo.assign(buffer, static_cast<size_t>(p - 1));
            separators = 3;
            p = 0;
            continue;
        }
        if (separators == 4 && command == "HLP") {
            // The help listing is not one line; it ends by silence.
            separators = 5;
            ++p;
            continue;
        }
        if (separators == 4) {
            reply.assign(buffer, static_cast<size_t>(p));
            result = reply.compare(0, 3, "Can") == 0 ? -2 : p;
            break;
        }
        ++p;
    }
    // Without the echo the exchange failed, whatever came after it.
    if (echo.empty())
        result = -1;
    return result;
}

std::string CDeviceSession::simulatedReply(const std::string &command) const
{
    struct Canned
    {
        const char *command;
        const char *reply;
    };
    static const Canned kCanned[] = {
        {"SSV", "1.02.21"},  {"PAN", "Simulation Mode"},
        {"SNU", "3428 133"}, {"SPR", "E2"},
        {"SFS", "1.0"},      {"AUN", "Torr"},
    };
    for (const Canned &canned : kCanned) {
        if (command == canned.command)
            return canned.reply;
    }
    const double value = pseudoRandom32767() / 32767.0 * 0.005 + 0.7 * m_fullScale.load();
    return formatC("%g", value);
}

std::vector<std::string> CDeviceSession::LoadCommandList(bool *cut)
{
    if (cut)
        *cut = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kListingSettleMs));
    m_port.DrainInput();
    m_port.Write("HLP\n", 4);

    char chunk[kExchangeBufferSize];
    std::string listing;
    if (!m_port.isSimulated()) {
        const long long readTimeout = m_config.readTimeout;
        const Clock::time_point begin = Clock::now();
        Clock::time_point lastByte = begin;
        // A flood is bounded by size and time, a drip by time; a cancel
        // ends the listing at once.
        while (listing.size() < kMaxListing && msSince(begin) < kMaxExchangeMs
               && !m_cancelled.load()) {
            const uint32_t room =
                static_cast<uint32_t>(std::min(kMaxListing - listing.size(), sizeof chunk));
            const uint32_t count = m_port.readWaiting(chunk, room);
            if (count > 0) {
                listing.append(chunk, count);
                lastByte = Clock::now();
                continue;
            }
            const long long quiet = msSince(lastByte);
            if (quiet > readTimeout)
                break;
            if (m_port.isHungUp()) {
                markLost(Loss::HungUp);
                return {};
            }
            m_port.waitForInput(static_cast<int>(std::min(readTimeout - quiet + 1, kCheckSliceMs)));
        }
        if (m_port.isHungUp()) {
            markLost(Loss::HungUp);
            return {};
        }
    }

    if (m_port.isSimulated())
        return {"Simulation mode"};
    if (cut)
        *cut = listing.size() >= kMaxListing;
    return parseCommandListing(listing);
}
