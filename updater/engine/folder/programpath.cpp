#include "programpath.h"

#include <cctype>
#include <filesystem>
#include <system_error>

namespace {

bool namesRegularFile(const std::string &path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

std::string withoutTrailingSeparators(std::string folder)
{
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\'))
        folder.pop_back();
    return folder;
}

} // namespace

ProgramPath splitProgramPath(const std::string &path, const std::string &currentDir)
{
    ProgramPath result;
    if (path.find(".exe") != std::string::npos || namesRegularFile(path)) {
        const std::size_t cut = path.find_last_of("/\\");
        if (cut == std::string::npos) {
            result.name = path;
        } else {
            // "/Spelmar.exe" lies in the root folder.
            result.folder = cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
            result.name = path.substr(cut + 1);
        }
        std::size_t first = 0;
        while (first < result.name.size()
               && std::isspace(static_cast<unsigned char>(result.name[first])))
            ++first;
        result.name.erase(0, first);
    } else {
        result.folder = withoutTrailingSeparators(path);
    }

    if (result.folder.empty()) {
        if (!currentDir.empty()) {
            result.folder = currentDir;
        } else {
            std::error_code ec;
            result.folder = std::filesystem::current_path(ec).string();
        }
    }
    return result;
}
