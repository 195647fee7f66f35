#include "programwatch.h"

#include <cctype>
#include <filesystem>
#include <system_error>
#include <thread>

#include <unistd.h>

namespace fs = std::filesystem;

bool isProgramRunning(const std::string &path)
{
    std::error_code ec;
    const fs::path program = fs::canonical(path, ec);
    if (ec || !fs::is_regular_file(program, ec))
        return false;
    const std::string self = std::to_string(getpid());
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string pid = it->path().filename().string();
        if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid[0])) || pid == self)
            continue;
        std::error_code linkError;
        const fs::path exe = fs::read_symlink(it->path() / "exe", linkError);
        if (!linkError && exe == program)
            return true;
    }
    return false;
}

bool waitForProgramEnd(const std::string &path, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (isProgramRunning(path)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return true;
}
