#include "releasetrial.h"

#include "files/folderfiles.h"

#include <cerrno>
#include <charconv>

#include <unistd.h>

namespace {

constexpr std::size_t kMaxTrialFileBytes = 256;
constexpr const char *kReleaseKey = "release=";
constexpr const char *kStartsKey = "starts=";

std::string trialPath(const std::string &programFolder)
{
    return localPathFor(programFolder, kTrialFileName);
}

} // namespace

std::string releaseTrialText(const ReleaseTrial &trial)
{
    return std::string(kReleaseKey) + trial.release + "\n" + kStartsKey
        + std::to_string(trial.starts) + "\n";
}

bool parseReleaseTrial(const std::string &text, ReleaseTrial &trial)
{
    ReleaseTrial read;
    bool haveRelease = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        const std::string releaseKey = kReleaseKey;
        const std::string startsKey = kStartsKey;
        if (line.compare(0, releaseKey.size(), releaseKey) == 0) {
            read.release = line.substr(releaseKey.size());
            haveRelease = read.release.size() == 12
                && read.release.find_first_not_of("0123456789") == std::string::npos;
        } else if (line.compare(0, startsKey.size(), startsKey) == 0) {
            const char *first = line.data() + startsKey.size();
            const char *last = line.data() + line.size();
            const auto parsed = std::from_chars(first, last, read.starts);
            if (parsed.ec != std::errc() || parsed.ptr != last || read.starts < 0)
                return false;
        }
        start = end + 1;
    }
    if (!haveRelease)
        return false;
    trial = read;
    return true;
}

bool readReleaseTrial(const std::string &programFolder, ReleaseTrial &trial)
{
    std::string bytes;
    return readFileInFolder(programFolder, kTrialFileName, bytes, kMaxTrialFileBytes)
        && parseReleaseTrial(bytes, trial);
}

bool openReleaseTrial(const std::string &programFolder, const std::string &release,
                      std::string &error)
{
    ReleaseTrial trial;
    trial.release = release;
    return replaceFileInFolder(programFolder, kTrialFileName, releaseTrialText(trial), error);
}

bool countTrialStart(const std::string &programFolder, ReleaseTrial &trial)
{
    if (!readReleaseTrial(programFolder, trial))
        return false;
    ++trial.starts;
    std::string error;
    replaceFileInFolder(programFolder, kTrialFileName, releaseTrialText(trial), error);
    return true;
}

bool closeReleaseTrial(const std::string &programFolder)
{
    // unlink never follows a link: a link under the name goes, not its
    // target.
    return ::unlink(trialPath(programFolder).c_str()) == 0 || errno == ENOENT;
}
