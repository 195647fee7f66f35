// Speed of one device exchange through CDeviceSession::Transact.
//
// Against orbo-sim without delay, Transact is compared with the least
// that any client must do for the same exchange: write "SSV" LF LF, then
// poll and read until the third LF of the answer (two closing the echo
// block, one the reply line). Then, with the simulator pacing its output at 57600 bit/s, the
// rate is compared with what the line allows.
//
// Through Debian's ser2net in front of the simulator (unpacked by
// scripts/install-deps.sh): Transact over the raw TCP port against the
// same bare loop on a socket to that port, and the automatic baud search
// over the RFC 2217 port against the same search on the local terminal,
// both with the simulator at 38400 bit/s, the last rate searched. The same
// search through python3-serial's RFC 2217 server example
// (tests/support/rfc2217example.py), which takes seconds to accept a new
// session, against the search through ser2net.
//
// Usage: bench_transact [seconds per round]

#include "deviceconnection.h"
#include "devicesession.h"
#include "programinfo.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

const char *const kCommand = "SSV";
const char *const kReply = "1.02.21\r";
// What the simulator sends for one exchange: the echo block
// "SSV" CR LF CR LF and the reply line "1.02.21" CR LF.
constexpr int kAnswerBytes = 7 + 9;
constexpr int kRounds = 5;

struct Simulator
{
    pid_t pid = -1;
    int output = -1;
    std::string path;

    bool start(const std::string &program, const std::vector<std::string> &options)
    {
        int out[2];
        if (::pipe(out) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(program.c_str()));
        for (const std::string &option : options)
            argv.push_back(const_cast<char *>(option.c_str()));
        argv.push_back(nullptr);
        int failed = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (failed != 0) {
            ::close(out[0]);
            pid = -1;
            return false;
        }
        // The first line the simulator prints is its terminal path.
        // Its output stays open: a simulator writing to a closed pipe dies.
        output = out[0];
        char c = 0;
        while (::read(output, &c, 1) == 1 && c != '\n')
            path += c;
        return !path.empty();
    }

    ~Simulator()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        if (output >= 0)
            ::close(output);
    }
};

std::string besideMe(const char *name)
{
    const std::string folder = executableFolder();
    return (folder.empty() ? std::string(".") : folder) + "/" + name;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

SerialConfig linkConfig(const std::string &path, uint32_t baud)
{
    SerialConfig config;
    config.port = path;
    config.baudRate = baud;
    config.separator = '\n';
    config.terminator = '\n';
    config.inQueueSize = 4096;
    config.readTimeout = 2000;
    return config;
}

// Exchanges per second through Transact; -1 when an exchange failed.
double transactRate(const std::string &path, uint32_t baud, double seconds)
{
    CDeviceSession session;
    session.config() = linkConfig(path, baud);
    if (session.port().Open(session.config()) != 1)
        return -1;
    std::string echo, reply;
    for (int i = 0; i < 20; ++i)
        session.Transact(kCommand, echo, reply);
    long count = 0;
    const Clock::time_point start = Clock::now();
    do {
        const int result = session.Transact(kCommand, echo, reply);
        if (result != 8 || reply != kReply) {
            std::fprintf(stderr, "bench_transact: exchange %ld gave %d, \"%s\"\n", count, result,
                         reply.c_str());
            return -1;
        }
        ++count;
    } while (secondsSince(start) < seconds);
    return count / secondsSince(start);
}

// One exchange done with nothing but write, poll and read.
bool rawExchange(int fd)
{
    static const char command[] = {'S', 'S', 'V', '\n', '\n'};
    if (::write(fd, command, sizeof command) != static_cast<ssize_t>(sizeof command))
        return false;
    int lineEnds = 0;
    char buffer[256];
    while (lineEnds < 3) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 2000) <= 0)
            return false;
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EAGAIN)
            continue;
        if (got <= 0)
            return false;
        lineEnds += static_cast<int>(std::count(buffer, buffer + got, '\n'));
    }
    return true;
}

// Exchanges per second over fd for the given seconds, after 20 to warm
// up; -1 when one failed.
double rawExchangeRate(int fd, double seconds)
{
    for (int i = 0; i < 20; ++i)
        rawExchange(fd);
    long count = 0;
    const Clock::time_point start = Clock::now();
    bool ok = true;
    do {
        ok = rawExchange(fd);
        ++count;
    } while (ok && secondsSince(start) < seconds);
    return ok ? count / secondsSince(start) : -1;
}

double rawRate(const std::string &path, double seconds, speed_t speed = B9600)
{
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    termios settings{};
    ::tcgetattr(fd, &settings);
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, speed);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &settings);
    ::tcflush(fd, TCIFLUSH);
    const double rate = rawExchangeRate(fd, seconds);
    ::close(fd);
    return rate;
}

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

uint16_t freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// ser2net with a raw and an RFC 2217 port in front of one terminal.
struct Ser2Net
{
    pid_t pid = -1;
    uint16_t raw = 0;
    uint16_t rfc2217 = 0;
    std::string config;

    bool start(const std::string &terminal)
    {
        raw = freePort();
        rfc2217 = freePort();
        char folder[] = "/tmp/bench_transact-XXXXXX";
        if (!::mkdtemp(folder))
            return false;
        config = std::string(folder) + "/ser2net.yaml";
        const std::string device = "serialdev," + terminal + ",9600n81,local";
        FILE *file = std::fopen(config.c_str(), "w");
        if (!file)
            return false;
        std::fprintf(file,
                     "%%YAML 1.1\n---\nconnection: &raw\n  accepter: tcp,127.0.0.1,%u\n"
                     "  connector: %s\nconnection: &rfc2217\n"
                     "  accepter: telnet(rfc2217),tcp,127.0.0.1,%u\n  connector: %s\n",
                     raw, device.c_str(), rfc2217, device.c_str());
        std::fclose(file);
        const std::string program = SER2NET_ROOT "/usr/sbin/ser2net";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const char *argv[] = {program.c_str(), "-n", "-d", "-c", config.c_str(), nullptr};
        const int failed = ::posix_spawn(&pid, program.c_str(), &actions, nullptr,
                                         const_cast<char **>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0) {
            pid = -1;
            return false;
        }
        // Listening once the port cannot be bound.
        for (int i = 0; i < 500; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address = loopback(rfc2217);
            const bool taken =
                ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0;
            ::close(fd);
            if (taken)
                return true;
            ::usleep(10000);
        }
        return false;
    }

    ~Ser2Net()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (!config.empty()) {
            ::unlink(config.c_str());
            ::rmdir(config.substr(0, config.rfind('/')).c_str());
        }
    }
};

// The bare loop on a socket to the raw port.
double rawSocketRate(uint16_t port, double seconds)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const double rate = rawExchangeRate(fd, seconds);
    // The server lets the line go once it has seen the end.
    char scratch[256];
    ::shutdown(fd, SHUT_WR);
    while (::read(fd, scratch, sizeof scratch) > 0) { }
    ::close(fd);
    return rate;
}

// Seconds of one automatic search (opening included) that finds the rate.
double autoBaudSeconds(const std::string &port)
{
    CDeviceSession session;
    CDeviceConnection connection(session);
    const Clock::time_point start = Clock::now();
    const bool found =
        connection.openPort(port, "auto", false) == CDeviceConnection::Result::Connected
        && connection.foundBaud() == 38400;
    const double seconds = secondsSince(start);
    connection.Disconnect();
    return found ? seconds : -1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The figures through ser2net; false when they could not be measured.
bool networkFigures(const std::string &program, double seconds)
{
    Simulator sim, searched, searchedByExample;
    Ser2Net server, searchServer;
    if (!sim.start(program, {}) || !searched.start(program, {"--baud", "38400"})
        || !searchedByExample.start(program, {"--baud", "38400"}) || !server.start(sim.path)
        || !searchServer.start(searched.path)) {
        std::fprintf(stderr, "bench_transact: cannot start ser2net (%s)\n", SER2NET_ROOT);
        return false;
    }
    // It prints its port first, as the simulator its terminal.
    Simulator example;
    if (!example.start("/usr/bin/python3", {RFC2217_EXAMPLE_SCRIPT, searchedByExample.path})) {
        std::fprintf(stderr, "bench_transact: cannot start python3-serial's RFC 2217 server\n");
        return false;
    }
    const std::string exampleUrl = "rfc2217://127.0.0.1:" + example.path;
    std::vector<double> byExample;
    double bestRaw = 0, bestTransact = 0;
    std::vector<double> local, remote;
    const std::string rawUrl = "tcp://127.0.0.1:" + std::to_string(server.raw);
    const std::string searchUrl = "rfc2217://127.0.0.1:" + std::to_string(searchServer.rfc2217);
    for (int round = 0; round < kRounds; ++round) {
        const double raw = rawSocketRate(server.raw, seconds);
        const double transact = transactRate(rawUrl, 9600, seconds);
        local.push_back(autoBaudSeconds(searched.path));
        remote.push_back(autoBaudSeconds(searchUrl));
        // It takes up to 3 s after a session ends to accept the next: the
        // search starts once the last round's session is surely gone.
        ::usleep(3500 * 1000);
        byExample.push_back(autoBaudSeconds(exampleUrl));
        if (raw < 0 || transact < 0 || local.back() < 0 || remote.back() < 0
            || byExample.back() < 0) {
            std::fprintf(stderr, "bench_transact: an exchange through ser2net failed\n");
            return false;
        }
        std::printf("round %d over tcp: raw %.0f exchanges/s, transact %.0f exchanges/s; "
                    "auto-baud local %.0f ms, rfc2217 %.0f ms, python3-serial %.0f ms\n",
                    round + 1, raw, transact, local.back() * 1000, remote.back() * 1000,
                    byExample.back() * 1000);
        bestRaw = std::max(bestRaw, raw);
        bestTransact = std::max(bestTransact, transact);
    }
    std::printf("tcp raw loop: %.0f exchanges/s\n", bestRaw);
    std::printf("tcp transact: %.0f exchanges/s\n", bestTransact);
    std::printf("tcp transact/raw ratio: %.2f\n", bestTransact / bestRaw);
    std::printf("local auto-baud: %.0f ms (median)\n", median(local) * 1000);
    std::printf("rfc2217 auto-baud: %.0f ms (median)\n", median(remote) * 1000);
    std::printf("rfc2217 auto-baud / local auto-baud time ratio: %.2f\n",
                median(remote) / median(local));
    std::printf("rfc2217 baud search s (ser2net): %.2f (median)\n", median(remote));
    std::printf("rfc2217 baud search s (python3-serial): %.2f (median)\n", median(byExample));
    std::printf("rfc2217 baud search python3-serial / ser2net time ratio: %.2f\n",
                median(byExample) / median(remote));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // A server that goes away must not end the benchmark.
    std::signal(SIGPIPE, SIG_IGN);
    const double seconds = argc > 1 ? std::max(0.2, std::atof(argv[1])) : 1.0;
    const std::string program = besideMe("orbo-sim");
    if (::access(program.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "bench_transact: no simulator at %s\n", program.c_str());
        return 1;
    }

    double bestTransact = 0, bestRaw = 0;
    {
        Simulator sim;
        if (!sim.start(program, {})) {
            std::fprintf(stderr, "bench_transact: cannot start %s\n", program.c_str());
            return 1;
        }
        // Rounds alternate so that a burst of load on the machine hits both.
        for (int round = 0; round < kRounds; ++round) {
            const double raw = rawRate(sim.path, seconds);
            const double transact = transactRate(sim.path, 9600, seconds);
            if (raw < 0 || transact < 0) {
                std::fprintf(stderr, "bench_transact: an exchange failed (%s)\n",
                             raw < 0 ? "raw loop" : "transact");
                return 1;
            }
            std::printf("round %d: raw %.0f exchanges/s, transact %.0f exchanges/s\n", round + 1,
                        raw, transact);
            bestRaw = std::max(bestRaw, raw);
            bestTransact = std::max(bestTransact, transact);
        }
    }
    std::printf("raw loop: %.0f exchanges/s\n", bestRaw);
    std::printf("transact: %.0f exchanges/s\n", bestTransact);
    std::printf("transact/raw ratio: %.2f\n", bestTransact / bestRaw);

    // The simulator paces only what it sends; a command reaches it at once.
    // The line therefore limits one exchange to the answer's bytes at 10
    // bits each: 16 bytes, 2.78 ms at 57600 bit/s, 360 exchanges/s.
    const uint32_t baud = 57600;
    const double lineLimit = baud / (10.0 * kAnswerBytes);
    double bestPaced = 0, bestPacedRaw = 0;
    {
        Simulator sim;
        if (!sim.start(program, {"--line-rate"})) {
            std::fprintf(stderr, "bench_transact: cannot start %s --line-rate\n", program.c_str());
            return 1;
        }
        for (int round = 0; round < kRounds; ++round) {
            const double pacedRaw = rawRate(sim.path, seconds, B57600);
            const double paced = transactRate(sim.path, baud, seconds);
            if (paced < 0 || pacedRaw < 0) {
                std::fprintf(stderr, "bench_transact: an exchange failed at the line rate\n");
                return 1;
            }
            std::printf("round %d at %u bit/s: raw %.1f exchanges/s, transact %.1f exchanges/s\n",
                        round + 1, baud, pacedRaw, paced);
            bestPaced = std::max(bestPaced, paced);
            bestPacedRaw = std::max(bestPacedRaw, pacedRaw);
        }
    }
    std::printf("line limit at %u bit/s: %.1f exchanges/s\n", baud, lineLimit);
    std::printf("raw loop at the line rate: %.1f exchanges/s\n", bestPacedRaw);
    std::printf("transact at the line rate: %.1f exchanges/s\n", bestPaced);
    std::printf("line-rate ratio: %.2f\n", bestPaced / lineLimit);
    return networkFigures(program, seconds) ? 0 : 1;
}
