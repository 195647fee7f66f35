#include "blockindex.h"

#include "md4.h"

#include <openssl/evp.h>

#include <QByteArray>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *kVersionLine = "zsync: 0.6.2";
constexpr std::size_t kMaxHeaderLines = 64;
constexpr std::size_t kMaxHeaderLine = 4096;
constexpr std::uint32_t kNone = ~std::uint32_t(0);
constexpr std::size_t kReadChunk = 1 << 20;

std::uint32_t roll(std::uint32_t rsum, unsigned char out, unsigned char in, std::uint32_t size)
{
    std::uint16_t a = static_cast<std::uint16_t>(rsum >> 16);
    std::uint16_t b = static_cast<std::uint16_t>(rsum);
    a = static_cast<std::uint16_t>(a - out + in);
    b = static_cast<std::uint16_t>(b - static_cast<std::uint16_t>(size * out) + a);
    return std::uint32_t(a) << 16 | b;
}

bool parseNumber(const std::string &text, std::uint64_t &value)
{
    if (text.empty() || text.size() > 19
        || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoull(text);
    return true;
}

std::string sha1Hex(EVP_MD_CTX *context)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

} // namespace

std::uint32_t blockRsum(const unsigned char *data, std::size_t size)
{
    std::uint16_t a = 0;
    std::uint16_t b = 0;
    for (std::size_t i = 0; i < size; ++i) {
        a = static_cast<std::uint16_t>(a + data[i]);
        b = static_cast<std::uint16_t>(b + a);
    }
    return std::uint32_t(a) << 16 | b;
}

BlockIndexShape blockIndexShape(std::uint64_t length)
{
    BlockIndexShape shape;
    const double blocks = std::max<double>(1.0, std::ceil(double(length) / shape.blockSize));
    // Two blocks' sums together must tell apart every position of a copy
    // of about this size from every block, with 20 bits to spare.
    const double bits = std::log2(std::max<double>(2.0, double(length))) + std::log2(blocks) + 20;
    shape.checksumBytes = std::min(16, std::max(4, static_cast<int>(std::ceil(bits / 16))));
    // More blocks than 16 bits can spread: a longer rsum keeps the chains short.
    shape.rsumBytes = blocks > 65536 ? 3 : 2;
    return shape;
}

bool makeBlockIndex(int fd, const std::string &fileName, std::string &index, std::string &error)
{
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "not a regular file: " + fileName;
        return false;
    }
    if (fileName.empty() || fileName.find_first_of("\r\n/\\") != std::string::npos) {
        error = "no name for an index: " + fileName;
        return false;
    }
    const std::uint64_t length = static_cast<std::uint64_t>(info.st_size);
    const BlockIndexShape shape = blockIndexShape(length);
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX *)> sha1(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_DigestInit_ex(sha1.get(), EVP_sha1(), nullptr);

    std::string blocks;
    blocks.reserve(static_cast<std::size_t>((length / shape.blockSize + 1)
                                            * (shape.rsumBytes + shape.checksumBytes)));
    std::vector<unsigned char> buffer(kReadChunk);
    std::uint64_t total = 0;
    for (;;) {
        std::size_t filled = 0;
        while (filled < buffer.size()) {
            const ssize_t got = ::read(fd, buffer.data() + filled, buffer.size() - filled);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                error = "cannot read " + fileName + ": " + std::strerror(errno);
                return false;
            }
            if (got == 0)
                break;
            filled += static_cast<std::size_t>(got);
        }
        EVP_DigestUpdate(sha1.get(), buffer.data(), filled);
        total += filled;
        for (std::size_t at = 0; at < filled; at += shape.blockSize) {
            const std::size_t size = std::min<std::size_t>(shape.blockSize, filled - at);
            // The last block counts as padded with zeros (the buffer holds
            // whole blocks).
            std::memset(buffer.data() + at + size, 0, shape.blockSize - size);
            const unsigned char *block = buffer.data() + at;
            const std::uint32_t rsum = blockRsum(block, shape.blockSize);
            for (int i = 4 - shape.rsumBytes; i < 4; ++i)
                blocks += static_cast<char>(rsum >> (8 * (3 - i)));
            const Md4::Digest strong = Md4::of(block, shape.blockSize);
            blocks.append(reinterpret_cast<const char *>(strong.data()), shape.checksumBytes);
        }
        if (filled < buffer.size())
            break;
    }
    if (total != length) {
        error = fileName + " changed while its index was made";
        return false;
    }
    const std::string url = QByteArray::fromStdString(fileName).toPercentEncoding().toStdString();
    index = std::string(kVersionLine) + "\nFilename: " + fileName
        + "\nBlocksize: " + std::to_string(shape.blockSize) + "\nLength: " + std::to_string(length)
        + "\nHash-Lengths: " + std::to_string(shape.seqMatches) + ","
        + std::to_string(shape.rsumBytes) + "," + std::to_string(shape.checksumBytes)
        + "\nURL: " + url + "\nSHA-1: " + sha1Hex(sha1.get()) + "\n\n" + blocks;
    return true;
}

bool BlockIndex::parse(std::string bytes, std::string &error)
{
    *this = BlockIndex();
    std::size_t position = 0;
    std::uint64_t blockSize = 0;
    bool hasLength = false;
    bool hasShape = false;
    for (std::size_t lines = 0;; ++lines) {
        const std::size_t end = bytes.find('\n', position);
        if (end == std::string::npos || end - position > kMaxHeaderLine
            || lines > kMaxHeaderLines) {
            error = "the index has no header that ends";
            return false;
        }
        const std::string line = bytes.substr(position, end - position);
        position = end + 1;
        if (line.empty())
            break;
        const std::size_t colon = line.find(": ");
        const std::string key = line.substr(0, colon);
        const std::string value =
            colon == std::string::npos ? std::string() : line.substr(colon + 2);
        if (key == "Blocksize" && !parseNumber(value, blockSize))
            blockSize = 0;
        else if (key == "Length")
            hasLength = parseNumber(value, m_length);
        else if (key == "URL")
            m_url = value;
        else if (key == "Hash-Lengths") {
            int seq = 0, rsum = 0, checksum = 0;
            char rest = 0;
            hasShape = std::sscanf(value.c_str(), "%d,%d,%d%c", &seq, &rsum, &checksum, &rest) == 3
                && seq >= 1 && seq <= 2 && rsum >= 1 && rsum <= 4 && checksum >= 3
                && checksum <= 16;
            m_shape.seqMatches = seq;
            m_shape.rsumBytes = rsum;
            m_shape.checksumBytes = checksum;
        }
    }
    if (blockSize < 16 || blockSize > kMaxBlockSize || (blockSize & (blockSize - 1)) != 0
        || !hasLength || !hasShape) {
        error = "the index lacks a sound Blocksize, Length or Hash-Lengths";
        return false;
    }
    m_shape.blockSize = static_cast<std::uint32_t>(blockSize);
    const std::uint64_t count = (m_length + blockSize - 1) / blockSize;
    m_recordSize = static_cast<std::size_t>(m_shape.rsumBytes + m_shape.checksumBytes);
    if (count >= kNone || bytes.size() - position != count * m_recordSize) {
        error = "the index's blocks do not fit its Length";
        return false;
    }
    m_count = static_cast<std::size_t>(count);
    m_blocks = bytes.substr(position);
    bytes = std::string();
    m_rsumMask = m_shape.rsumBytes == 4 ? kNone : (1u << (8 * m_shape.rsumBytes)) - 1;

    std::size_t slotCount = 16;
    m_slotShift = 28;
    while (slotCount < m_count) {
        slotCount *= 2;
        --m_slotShift;
    }
    m_heads.assign(slotCount, kNone);
    m_next.assign(m_count, kNone);
    for (std::size_t block = m_count; block-- > 0;) {
        const std::size_t slot = slotOf(rsumAt(block));
        m_next[block] = m_heads[slot];
        m_heads[slot] = static_cast<std::uint32_t>(block);
    }
    return true;
}

std::uint32_t BlockIndex::rsumAt(std::size_t block) const
{
    const auto *record =
        reinterpret_cast<const unsigned char *>(m_blocks.data()) + block * m_recordSize;
    std::uint32_t rsum = 0;
    for (int i = 0; i < m_shape.rsumBytes; ++i)
        rsum = rsum << 8 | record[i];
    return rsum;
}

bool BlockIndex::strongIs(std::size_t block, const unsigned char *md4) const
{
    return std::memcmp(m_blocks.data() + block * m_recordSize + m_shape.rsumBytes, md4,
                       static_cast<std::size_t>(m_shape.checksumBytes))
        == 0;
}

std::size_t BlockIndex::slotOf(std::uint32_t key) const
{
    return static_cast<std::size_t>((key * 2654435761u) >> m_slotShift);
}

bool BlockIndex::findBlocks(int seed, std::vector<std::uint64_t> &sources,
                            const std::atomic<bool> *cancel)
{
    sources.assign(m_count, kMissing);
    struct stat info;
    if (::fstat(seed, &info) != 0)
        return false;
    const std::uint64_t seedLength = static_cast<std::uint64_t>(info.st_size);
    const std::size_t size = m_shape.blockSize;
    const int seq = m_shape.seqMatches;
    // A position needs its windows and the byte that rolls in next.
    const std::size_t reach = size * static_cast<std::size_t>(seq) + 1;
    std::vector<unsigned char> buffer(kReadChunk + reach);
    std::uint64_t base = 0;
    std::size_t filled = 0;
    bool atEnd = false;
    auto cover = [&](std::uint64_t position) {
        if (position + reach <= base + filled)
            return true;
        const std::size_t keep = static_cast<std::size_t>(base + filled - position);
        std::memmove(buffer.data(), buffer.data() + (position - base), keep);
        base = position;
        filled = keep;
        while (filled < buffer.size() && !atEnd) {
            const ssize_t got = ::read(seed, buffer.data() + filled, buffer.size() - filled);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return false;
            atEnd = got == 0;
            filled += static_cast<std::size_t>(got);
        }
        // Past the end: zeros, as the last block of the index is padded.
        std::memset(buffer.data() + filled, 0, buffer.size() - filled);
        filled = buffer.size();
        return true;
    };

    std::size_t found = 0;
    auto take = [&](std::size_t block, std::uint64_t offset) {
        if (sources[block] == kMissing) {
            sources[block] = offset;
            ++found;
        }
    };
    std::uint32_t rsum[2] = {0, 0};
    bool fresh = true;
    std::size_t expect = kNone; // the block that would continue the last match
    std::uint64_t steps = 0;
    for (std::uint64_t position = 0; position < seedLength && found < m_count;) {
        if ((++steps & 0xffff) == 0 && cancel && cancel->load())
            return false;
        if (!cover(position))
            return false;
        const unsigned char *window = buffer.data() + (position - base);
        if (fresh) {
            for (int i = 0; i < seq; ++i)
                rsum[i] = blockRsum(window + i * size, size);
            fresh = false;
        }
        // A run of blocks goes on where it went before.
        if (expect < m_count) {
            const unsigned char *last = window + (seq - 1) * size;
            if ((rsum[seq - 1] & m_rsumMask) == rsumAt(expect)
                && strongIs(expect, Md4::of(last, size).data())) {
                take(expect, position + (seq - 1) * size);
                ++expect;
                position += size;
                fresh = true;
                continue;
            }
        }
        expect = kNone;
        const std::uint32_t key = rsum[0] & m_rsumMask;
        const std::uint32_t nextKey = rsum[1] & m_rsumMask;
        Md4::Digest strong[2];
        bool hashed[2] = {false, false};
        auto strongOf = [&](int i) {
            if (!hashed[i]) {
                strong[i] = Md4::of(window + i * size, size);
                hashed[i] = true;
            }
            return strong[i].data();
        };
        const std::size_t slot = slotOf(key);
        std::uint32_t previous = kNone;
        for (std::uint32_t block = m_heads[slot]; block != kNone;) {
            const std::uint32_t next = m_next[block];
            const bool pair = seq == 2 && block + 1 < m_count;
            // A block found, and its successor too when pairs count, has
            // nothing more to give: it leaves its chain.
            if (sources[block] != kMissing && (!pair || sources[block + 1] != kMissing)) {
                (previous == kNone ? m_heads[slot] : m_next[previous]) = next;
                block = next;
                continue;
            }
            if (rsumAt(block) == key && (!pair || rsumAt(block + 1) == nextKey)
                && strongIs(block, strongOf(0)) && (!pair || strongIs(block + 1, strongOf(1)))) {
                take(block, position);
                if (pair)
                    take(block + 1, position + size);
                if (expect == kNone)
                    expect = block + static_cast<std::uint32_t>(seq);
            }
            previous = block;
            block = next;
        }
        if (expect != kNone) {
            position += size;
            fresh = true;
            continue;
        }
        for (int i = 0; i < seq; ++i)
            rsum[i] = roll(rsum[i], window[i * size], window[(i + 1) * size],
                           static_cast<std::uint32_t>(size));
        ++position;
    }
    return true;
}
