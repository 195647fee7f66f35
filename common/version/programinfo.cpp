#include "programinfo.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

bool answerInfoOption(int argc, char **argv, const char *name, const char *version,
                      const char *helpText, int &status)
{
    if (argc != 2)
        return false;
    const char *option = argv[1];
    if (std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0) {
        std::fputs(helpText, stdout);
    } else if (std::strcmp(option, "--version") == 0) {
        std::printf("%s %s\n", name, version);
    } else {
        return false;
    }
    status = std::fflush(stdout) == 0 ? 0 : 1;
    return true;
}

std::string executableFolder()
{
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.parent_path().string();
}
