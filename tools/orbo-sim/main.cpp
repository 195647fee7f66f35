// orbo-sim: an ORBO measuring device on a pseudo-terminal.
//
// Prints the terminal's path as the first line of standard output, then
// answers command lines until SIGTERM or SIGINT.

#include "simserver.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int g_stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    int saved = errno;
    char byte = 1;
    ssize_t ignored = ::write(g_stopPipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

void usage(FILE *out)
{
    std::fputs("Usage: orbo-sim [options]\n"
               "Simulates an ORBO device on a pseudo-terminal; prints its path first.\n"
               "  --baud N       answer only while the terminal is set to N bit/s\n"
               "  --boot         boot state: identification works, HLP stays silent\n"
               "  --silent       answer nothing\n"
               "  --delay MS     wait MS milliseconds before each reply line\n"
               "                 (the echo block goes out at once)\n"
               "  --line-rate    send at the terminal's speed, 10 bits a byte\n"
               "  --seed N       seed of the reading's noise (default 1)\n"
               "  --link PATH    also make PATH a symbolic link to the terminal\n"
               "  --hang-up-after N  end (the line hangs up) on receiving command N\n"
               "  --silent-after N   answer the first N commands only\n"
               "  --silent-ms MS     with --silent-after: answer again MS milliseconds\n"
               "                     after the first command left unanswered\n"
               "  --drip MS      instead of staying silent, send one byte every MS\n"
               "                 milliseconds for ever, never a line end\n"
               "  --verbose      log received commands to standard error\n"
               "  --help         show this text\n",
               out);
}

bool parseNumber(const char *text, long min, long max, long &value)
{
    if (!text || !*text)
        return false;
    char *end = nullptr;
    errno = 0;
    long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < min || parsed > max)
        return false;
    value = parsed;
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    SimServer::Options options;
    std::string linkPath;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
        long number = 0;
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else if (arg == "--boot") {
            options.boot = true;
        } else if (arg == "--silent") {
            options.silent = true;
        } else if (arg == "--line-rate") {
            options.lineRate = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--baud" && parseNumber(next, 1, 4000000, number)) {
            options.baud = static_cast<uint32_t>(number);
            ++i;
        } else if (arg == "--delay" && parseNumber(next, 0, 3600000, number)) {
            options.delayMs = static_cast<int>(number);
            ++i;
        } else if (arg == "--seed" && parseNumber(next, 0, 4294967295L, number)) {
            options.seed = static_cast<uint32_t>(number);
            ++i;
        } else if (arg == "--hang-up-after" && parseNumber(next, 1, 1000000000L, number)) {
            options.hangUpAfter = number;
            ++i;
        } else if (arg == "--silent-after" && parseNumber(next, 0, 1000000000L, number)) {
            options.silentAfter = number;
            ++i;
        } else if (arg == "--silent-ms" && parseNumber(next, 1, 3600000, number)) {
            options.silentMs = number;
            ++i;
        } else if (arg == "--drip" && parseNumber(next, 1, 3600000, number)) {
            options.dripMs = static_cast<int>(number);
            ++i;
        } else if (arg == "--link" && next && *next) {
            linkPath = next;
            ++i;
        } else {
            std::fprintf(stderr, "orbo-sim: bad argument '%s'\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }

    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("orbo-sim: pipe");
        return 1;
    }
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    SimServer server(options);
    if (!server.open()) {
        std::fprintf(stderr, "orbo-sim: %s\n", server.errorText().c_str());
        return 1;
    }

    bool linked = false;
    if (!linkPath.empty()) {
        struct stat info = {};
        if (::lstat(linkPath.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
            ::unlink(linkPath.c_str());
        if (::symlink(server.slavePath().c_str(), linkPath.c_str()) != 0) {
            std::fprintf(stderr, "orbo-sim: cannot link %s: %s\n", linkPath.c_str(),
                         std::strerror(errno));
            return 1;
        }
        linked = true;
    }

    std::printf("%s\n", server.slavePath().c_str());
    std::fflush(stdout);

    bool ok = server.run(g_stopPipe[0]);

    // The link goes only while it still names this terminal: a newer
    // simulator may have pointed it at its own since.
    if (linked) {
        char target[4096] = {};
        const ssize_t length = ::readlink(linkPath.c_str(), target, sizeof target - 1);
        if (length > 0 && std::string(target, static_cast<size_t>(length)) == server.slavePath())
            ::unlink(linkPath.c_str());
    }
    return ok ? 0 : 1;
}
