#include "ownnetwork.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <limits.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Set in the environment of the program started inside the namespace.
const char *const kInside = "SPELMAR_TEST_OWN_NETWORK";
constexpr in_addr_t kSecondLoopback = 0x7f000002; // 127.0.0.2

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "cannot run in a network namespace of its own: %s: %s\n", what,
                 std::strerror(errno));
    std::exit(1);
}

void bringLoopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fail("socket");
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    if (::ioctl(fd, SIOCGIFFLAGS, &request) != 0)
        fail("loopback flags");
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    if (::ioctl(fd, SIOCSIFFLAGS, &request) != 0)
        fail("loopback up");
    // A look-up with AI_ADDRCONFIG (ser2net's library makes them, even of
    // "127.0.0.1") finds nothing where 127.0.0.1 is the only address; a
    // second loopback address on lo counts as one configured.
    ifreq alias{};
    std::strncpy(alias.ifr_name, "lo:1", IFNAMSIZ - 1);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kSecondLoopback);
    std::memcpy(&alias.ifr_addr, &address, sizeof address);
    if (::ioctl(fd, SIOCSIFADDR, &alias) != 0)
        fail("second loopback address");
    ::close(fd);
}

} // namespace

void enterOwnNetwork(int argc, char **argv)
{
    if (const char *inside = std::getenv(kInside); inside && std::strcmp(inside, "1") == 0) {
        ::unsetenv(kInside);
        bringLoopbackUp();
        return;
    }
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        fail("/proc/self/exe");
    self[length] = '\0';
    std::vector<char *> arguments{const_cast<char *>("unshare"), const_cast<char *>("--net")};
    if (::geteuid() != 0)
        arguments.push_back(const_cast<char *>("--map-root-user"));
    arguments.push_back(const_cast<char *>("--"));
    arguments.push_back(self);
    for (int i = 1; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    ::setenv(kInside, "1", 1);
    ::execvp("unshare", arguments.data());
    fail("unshare");
}

std::vector<std::string> networkInterfaces()
{
    std::vector<std::string> names;
    if (struct if_nameindex *list = ::if_nameindex()) {
        for (struct if_nameindex *entry = list; entry->if_index != 0; ++entry)
            names.emplace_back(entry->if_name);
        ::if_freenameindex(list);
    }
    return names;
}
