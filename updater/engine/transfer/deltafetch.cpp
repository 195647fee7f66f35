#include "deltafetch.h"

#include "files/blockindex.h"
#include "files/folderwalk.h"
#include "files/replacingfile.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <unistd.h>

namespace {

constexpr std::size_t kRangesPerRequest = 64;
constexpr std::size_t kCopyBytes = 1 << 20;

std::string lowerHex(const std::string &hex)
{
    return QByteArray::fromStdString(hex).toLower().toStdString();
}

// Reads size bytes at offset of fd; past its end zeros.
bool readAt(int fd, std::uint64_t offset, char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t got = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0) {
            std::fill(data, data + size, '\0');
            return true;
        }
        data += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

} // namespace

DeltaResult fetchByDelta(IFileTransfer &client, const std::string &remoteName,
                         const std::string &localFolder, const DeltaSource &source,
                         const IFileTransfer::GetFileOptions &options)
{
    DeltaResult result;
    auto fail = [&result](const std::string &why) {
        result.why = why;
        return result;
    };
    if (!source.usable() || options.expectedSha256.empty() || !client.rangesOffered())
        return fail("the server sends no parts of files");

    IFileTransfer::GetFileOptions indexOptions;
    indexOptions.maxBytes = source.indexSize;
    indexOptions.expectedSha256 = source.indexSha256;
    std::string bytes;
    const bool indexArrived = client.GetBytes(remoteName + ".zsync", bytes, indexOptions);
    result.fetched += client.lastReceived();
    if (!indexArrived)
        return fail("index: " + client.lastError());
    BlockIndex index;
    std::string error;
    if (!index.parse(std::move(bytes), error))
        return fail("index: " + error);
    if (index.length() != source.size)
        return fail("index: it describes a file of another size");

    std::string seedError;
    const FileDescriptor seed(openFileInFolder(localFolder, source.seedName, seedError));
    if (seed.fd < 0)
        return fail("older copy: " + seedError);
    std::vector<std::uint64_t> sources;
    if (!index.findBlocks(seed.fd, sources, source.cancel))
        return fail("older copy: cannot be read");

    if (std::count(sources.begin(), sources.end(), BlockIndex::kMissing)
        == static_cast<std::ptrdiff_t>(sources.size()))
        return fail("older copy: holds none of the blocks");

    // The missing blocks as ranges, neighbours joined.
    const std::uint64_t blockSize = index.blockSize();
    const std::uint64_t length = index.length();
    std::vector<IFileTransfer::ByteRange> missing;
    for (std::size_t block = 0; block < sources.size(); ++block) {
        if (sources[block] != BlockIndex::kMissing)
            continue;
        const std::uint64_t offset = block * blockSize;
        const std::uint64_t size = std::min(blockSize, length - offset);
        if (!missing.empty() && missing.back().offset + missing.back().length == offset)
            missing.back().length += size;
        else
            missing.push_back({offset, size});
    }

    CReplacingFile file(localFolder, remoteName, true);
    if (!file.open())
        return fail(file.error());
    std::uint64_t written = 0;
    std::vector<char> copy(kCopyBytes);
    // The blocks the older copy holds, from written up to end.
    auto copyUpTo = [&](std::uint64_t end) {
        while (written < end) {
            const std::size_t block = static_cast<std::size_t>(written / blockSize);
            std::uint64_t size = std::min(blockSize - written % blockSize, end - written);
            const std::uint64_t from = sources[block] + written % blockSize;
            // Blocks that lie one after the other in the copy too go in one read.
            for (std::size_t next = block + 1; size < kCopyBytes && written + size < end
                 && sources[next] == sources[next - 1] + blockSize;
                 ++next)
                size = std::min<std::uint64_t>({size + blockSize, end - written, kCopyBytes});
            if (sources[block] == BlockIndex::kMissing
                || !readAt(seed.fd, from, copy.data(), static_cast<std::size_t>(size))
                || !file.write(copy.data(), static_cast<std::size_t>(size)))
                return false;
            written += size;
        }
        return true;
    };
    const IFileTransfer::RangeSink sink = [&](std::uint64_t offset, const char *data,
                                              std::size_t size) {
        if (offset < written || !copyUpTo(offset) || !file.write(data, size))
            return false;
        written += size;
        result.fetched += size;
        if (options.progress)
            options.progress(written, length);
        return true;
    };

    IFileTransfer::RangeOptions rangeOptions;
    rangeOptions.fileSize = length;
    std::size_t next = 0; // the first range not yet whole
    int tries = 0;
    std::size_t perRequest = kRangesPerRequest;
    while (next < missing.size()) {
        if (source.cancel && source.cancel->load())
            return fail("cancelled");
        std::vector<IFileTransfer::ByteRange> asked;
        for (std::size_t i = next; i < missing.size() && asked.size() < perRequest; ++i)
            asked.push_back(missing[i]);
        // A part cut off mid-way is asked for from its first missing byte.
        if (written > asked.front().offset) {
            asked.front().length -= written - asked.front().offset;
            asked.front().offset = written;
        }
        const std::uint64_t before = written;
        if (client.GetRanges(remoteName, asked, sink, rangeOptions)) {
            next += asked.size();
            tries = 0;
            continue;
        }
        // A server that sends the whole file for several ranges may still
        // send one range at a time.
        if (rangeOptions.wholeInstead && written == before && asked.size() > 1) {
            perRequest = 1;
            continue;
        }
        if (written == before || ++tries >= IFileTransfer::kMaxTries || client.connectionLost())
            return fail("parts: " + client.lastError());
        while (next < missing.size() && missing[next].offset + missing[next].length <= written)
            ++next;
    }
    if (!copyUpTo(length))
        return fail(file.error().empty() ? "older copy: cannot be read" : file.error());
    if (file.sha256Hex() != lowerHex(options.expectedSha256))
        return fail("the file built from the index does not match its SHA-256");
    if (!file.commit(options.syncToDisk))
        return fail(file.error());
    result.arrived = true;
    return result;
}
