#pragma once

#include "filetransfer.h"

#include <atomic>
#include <cstdint>
#include <string>

// What a file's delta builds on: the older copy below the same folder and
// the block index that the signed list vouches for.
struct DeltaSource
{
    std::string seedName;    // the older copy, a name below the folder
    std::string indexSha256; // of NAME.zsync
    std::uint64_t indexSize = 0;
    std::uint64_t size = 0; // the new file's listed size
    const std::atomic<bool> *cancel = nullptr;

    bool usable() const { return indexSize > 0 && size > 0 && !seedName.empty(); }
};

struct DeltaResult
{
    bool arrived = false;
    std::uint64_t fetched = 0; // bytes of the index and the parts received
    std::string why;           // why it did not arrive
};

// Builds remoteName below localFolder from the blocks of the older copy
// that NAME.zsync finds there and the parts it lacks, fetched as ranges
// (several in a request, or one at a time from a server that answers
// several with the whole file), through the one writer: the file beside the
// target replaces it only when its SHA-256 is options.expectedSha256. A
// connection cut mid-way is taken up with the parts still missing, for as
// long as each try brings bytes. Anything else that goes wrong (no parts
// offered, an index that does not verify or does not fit, a server that
// ignores the ranges or sends others, an older copy that holds none of
// the blocks) leaves the target untouched: the caller then fetches the
// file whole.
DeltaResult fetchByDelta(IFileTransfer &client, const std::string &remoteName,
                         const std::string &localFolder, const DeltaSource &source,
                         const IFileTransfer::GetFileOptions &options);
