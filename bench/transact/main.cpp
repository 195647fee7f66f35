// Speed of one device exchange through CDeviceSession::Transact.
//
// Against orbo-sim without delay, Transact is compared with the least
// that any client must do for the same exchange: write "SSV" LF LF, then
// poll and read until the third LF of the answer (two closing the echo
// block, one the reply line). Then, with the simulator pacing its output at 57600 bit/s, the
// rate is compared with what the line allows.
//
// Usage: bench_transact [seconds per round]

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

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
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
    for (int i = 0; i < 20; ++i)
        rawExchange(fd);
    long count = 0;
    const Clock::time_point start = Clock::now();
    bool ok = true;
    do {
        ok = rawExchange(fd);
        ++count;
    } while (ok && secondsSince(start) < seconds);
    const double rate = count / secondsSince(start);
    ::close(fd);
    return ok ? rate : -1;
}

} // namespace

int main(int argc, char **argv)
{
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
    return 0;
}
