#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// MD4 (RFC 1320), the strong block checksum of the block index format.
// OpenSSL keeps MD4 only in its legacy provider, which a stock system does
// not load; the digest is small enough to carry here. Not for anything
// that needs a secure hash: the SHA-256 of the whole file decides.
class Md4
{
public:
    using Digest = std::array<unsigned char, 16>;

    Md4() { reset(); }
    void reset();
    void add(const void *data, std::size_t size);
    Digest digest();

    static Digest of(const void *data, std::size_t size);

private:
    void block(const unsigned char *data);

    std::uint32_t m_state[4];
    std::uint64_t m_bytes = 0;
    unsigned char m_buffer[64];
};
