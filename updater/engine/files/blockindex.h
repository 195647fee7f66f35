#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The block index of a published file, NAME.zsync beside NAME, in the
// control-file format of the zsync tools: header lines ("Key: value\n"),
// a blank line, then for every block of Blocksize bytes (the last padded
// with zeros) the last rsum bytes of its rolling checksum (a and b, 16
// bits each, big-endian) and the first checksum bytes of its MD4, as
// "Hash-Lengths: seq_matches,rsum_bytes,checksum_bytes" says. With
// seq_matches 2 a block counts as found only together with its
// successor, so both sums may be shorter.
//
// makeBlockIndex writes one; BlockIndex reads one and finds which of its
// blocks an older copy of the file already holds, wherever they lie in it.

struct BlockIndexShape
{
    std::uint32_t blockSize = 2048;
    int seqMatches = 2;
    int rsumBytes = 2;
    int checksumBytes = 5;
};

// The shape the publisher gives a file of length bytes: sums long enough
// that a false match over every position of an old copy of about the same
// size stays unlikely (the file's SHA-256 catches it anyway).
BlockIndexShape blockIndexShape(std::uint64_t length);

// The index of the regular file open as fd (read from its start), which
// the index names fileName (its last part; also its relative URL). False
// with the reason in error.
bool makeBlockIndex(int fd, const std::string &fileName, std::string &index, std::string &error);

// The rolling checksum of a window (a in the high 16 bits, b in the low).
std::uint32_t blockRsum(const unsigned char *data, std::size_t size);

class BlockIndex
{
public:
    static constexpr std::uint64_t kMissing = ~std::uint64_t(0);
    static constexpr std::uint32_t kMaxBlockSize = 1u << 20;

    // Takes an index whole; false with the reason in error when it is not
    // one (a header line missing or out of range, blocks that do not fit
    // Length).
    bool parse(std::string bytes, std::string &error);

    std::uint64_t length() const { return m_length; }
    std::uint32_t blockSize() const { return m_shape.blockSize; }
    std::size_t blockCount() const { return m_count; }
    // The URL header: where the file lies, relative to the index.
    const std::string &url() const { return m_url; }

    // Reads the old copy open as seed from its start and returns for every
    // block the offset in seed where its content lies, or kMissing. Bytes
    // past the seed's end read as zeros. False when seed cannot be read or
    // cancel became true.
    bool findBlocks(int seed, std::vector<std::uint64_t> &sources,
                    const std::atomic<bool> *cancel = nullptr);

private:
    std::uint32_t rsumAt(std::size_t block) const;
    bool strongIs(std::size_t block, const unsigned char *md4) const;
    std::size_t slotOf(std::uint32_t key) const;

    BlockIndexShape m_shape;
    std::uint64_t m_length = 0;
    std::size_t m_count = 0;
    std::string m_url;
    std::string m_blocks; // the index's block records, as they were sent
    std::size_t m_recordSize = 0;
    std::uint32_t m_rsumMask = 0;
    // Chains of blocks by truncated rsum: m_heads per slot, m_next per block.
    std::vector<std::uint32_t> m_heads;
    std::vector<std::uint32_t> m_next;
    int m_slotShift = 0;
};
