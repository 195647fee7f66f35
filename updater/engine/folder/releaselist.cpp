#include "releaselist.h"

#include "fileaside.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kReleaseNameLength = 12;
constexpr long kRestoreSupportedSince = 20100329;

// Names of the entries of folder for which keep(entry) holds, sorted.
template <typename Keep>
std::vector<std::string> entryNames(const std::string &folder, Keep keep)
{
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec)
        return names;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (keep(*it))
            names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

constexpr int kMaxReleaseDepth = 16;

// The regular files of a release folder and of its real sub-folders,
// sorted per folder, files before sub-folders. Symbolic links are neither
// followed nor restored; neither are half-written copies that a killed
// run left.
void collectReleaseFiles(const std::string &folder, const std::string &sourcePrefix,
                         const std::string &targetPrefix, std::vector<std::string> &sources,
                         std::vector<std::string> &targets, int depth = 0)
{
    const auto files = entryNames(folder, [](const fs::directory_entry &entry) {
        std::error_code ec;
        return fs::is_regular_file(entry.symlink_status(ec))
            && !isPartialFileName(entry.path().filename().string());
    });
    for (const std::string &file : files) {
        sources.push_back(sourcePrefix + file);
        targets.push_back(targetPrefix + file);
    }
    if (depth >= kMaxReleaseDepth)
        return;
    const auto folders = entryNames(folder, [](const fs::directory_entry &entry) {
        std::error_code ec;
        return fs::is_directory(entry.symlink_status(ec));
    });
    for (const std::string &sub : folders)
        collectReleaseFiles(folder + "/" + sub, sourcePrefix + sub + "/", targetPrefix + sub + "/",
                            sources, targets, depth + 1);
}

} // namespace

bool isReleaseName(const std::string &name)
{
    return name.size() == kReleaseNameLength && name.compare(0, 2, "20") == 0;
}

std::string releaseDisplayText(const std::string &name)
{
    auto part = [&name](std::size_t from, std::size_t count) {
        return from < name.size() ? name.substr(from, count) : std::string();
    };
    return part(0, 4) + "-" + part(4, 2) + "-" + part(6, 2) + "   (" + part(8, 2) + ":"
        + part(10, 2) + ")";
}

bool isOldRelease(const std::string &name)
{
    return std::atol(name.substr(0, 8).c_str()) < kRestoreSupportedSince;
}

bool ListReleases(ReleaseList &list, const std::string &programFolder)
{
    list.names.clear();
    list.displays.clear();
    // Real folders only: a symbolic link named like a release is none.
    const auto names = entryNames(programFolder, [](const fs::directory_entry &entry) {
        std::error_code ec;
        return isReleaseName(entry.path().filename().string())
            && fs::is_directory(entry.symlink_status(ec));
    });
    for (const std::string &name : names) {
        list.names.push_back(name);
        list.displays.push_back(releaseDisplayText(name));
    }
    return !list.names.empty();
}

bool CollectRestoreFiles(const std::string &programFolder, const std::string &release,
                         std::vector<std::string> &sources, std::vector<std::string> &targets)
{
    sources.clear();
    targets.clear();
    ReleaseList releases;
    if (!ListReleases(releases, programFolder))
        return false;
    const auto found = std::find(releases.names.begin(), releases.names.end(), release);
    if (found == releases.names.end())
        return false;
    const std::size_t first = static_cast<std::size_t>(found - releases.names.begin());
    for (std::size_t row = releases.size(); row-- > first;) {
        const std::string &name = releases.names[row];
        collectReleaseFiles(programFolder + "/" + name, name + "/", std::string(), sources,
                            targets);
    }
    return true;
}
