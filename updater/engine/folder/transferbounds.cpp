#include "transferbounds.h"

#include <algorithm>

#include <sys/statvfs.h>

namespace {

std::string megabytes(std::uint64_t bytes)
{
    return std::to_string(bytes / (1024 * 1024)) + " MiB";
}

} // namespace

bool freeBytes(const std::string &folder, std::uint64_t &bytes)
{
    struct statvfs info = {};
    if (::statvfs(folder.c_str(), &info) != 0)
        return false;
    bytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    return true;
}

TransferBound transferBound(bool known, std::uint64_t wantedBytes, std::uint64_t freeSpace)
{
    TransferBound bound;
    const std::uint64_t room = freeSpace > kFreeSpaceReserve ? freeSpace - kFreeSpaceReserve : 0;
    if (known) {
        if (wantedBytes > room)
            bound.refusal = "not downloaded: its " + std::to_string(wantedBytes)
                + " bytes would leave less than " + megabytes(kFreeSpaceReserve) + " free";
        else
            bound.maxBytes = std::max<std::uint64_t>(wantedBytes, 1);
        return bound;
    }
    bound.maxBytes = std::min(kMaxUnsizedFileBytes, room);
    if (bound.maxBytes == 0)
        bound.refusal = "not downloaded: less than " + megabytes(kFreeSpaceReserve) + " free";
    return bound;
}

TransferBound transferBound(const RelInfoRecord &record, const std::string &programFolder)
{
    std::uint64_t freeSpace = 0;
    if (!freeBytes(programFolder, freeSpace)) {
        TransferBound bound;
        bound.refusal = "not downloaded: the free space of " + programFolder + " is not known";
        return bound;
    }
    return transferBound(record.hasSize, record.size, freeSpace);
}
