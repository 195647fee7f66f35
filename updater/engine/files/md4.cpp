#include "md4.h"

#include <algorithm>
#include <cstring>

namespace {

std::uint32_t rotate(std::uint32_t x, int s)
{
    return (x << s) | (x >> (32 - s));
}

std::uint32_t f(std::uint32_t x, std::uint32_t y, std::uint32_t z)
{
    return (x & y) | (~x & z);
}

std::uint32_t g(std::uint32_t x, std::uint32_t y, std::uint32_t z)
{
    return (x & y) | (x & z) | (y & z);
}

std::uint32_t h(std::uint32_t x, std::uint32_t y, std::uint32_t z)
{
    return x ^ y ^ z;
}

} // namespace

void Md4::reset()
{
    m_state[0] = 0x67452301;
    m_state[1] = 0xefcdab89;
    m_state[2] = 0x98badcfe;
    m_state[3] = 0x10325476;
    m_bytes = 0;
}

void Md4::block(const unsigned char *data)
{
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = std::uint32_t(data[4 * i]) | std::uint32_t(data[4 * i + 1]) << 8
            | std::uint32_t(data[4 * i + 2]) << 16 | std::uint32_t(data[4 * i + 3]) << 24;
    std::uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    static const int kOrder1[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    static const int kOrder2[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
    static const int kOrder3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    static const int kShift1[4] = {3, 7, 11, 19};
    static const int kShift2[4] = {3, 5, 9, 13};
    static const int kShift3[4] = {3, 9, 11, 15};
    for (int i = 0; i < 16; ++i) {
        const std::uint32_t t = rotate(a + f(b, c, d) + x[kOrder1[i]], kShift1[i % 4]);
        a = d, d = c, c = b, b = t;
    }
    for (int i = 0; i < 16; ++i) {
        const std::uint32_t t =
            rotate(a + g(b, c, d) + x[kOrder2[i]] + 0x5a827999u, kShift2[i % 4]);
        a = d, d = c, c = b, b = t;
    }
    for (int i = 0; i < 16; ++i) {
        const std::uint32_t t =
            rotate(a + h(b, c, d) + x[kOrder3[i]] + 0x6ed9eba1u, kShift3[i % 4]);
        a = d, d = c, c = b, b = t;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
}

void Md4::add(const void *data, std::size_t size)
{
    const auto *bytes = static_cast<const unsigned char *>(data);
    std::size_t held = static_cast<std::size_t>(m_bytes % 64);
    m_bytes += size;
    if (held > 0) {
        const std::size_t take = std::min<std::size_t>(64 - held, size);
        std::memcpy(m_buffer + held, bytes, take);
        bytes += take;
        size -= take;
        if (held + take < 64)
            return;
        block(m_buffer);
    }
    for (; size >= 64; bytes += 64, size -= 64)
        block(bytes);
    std::memcpy(m_buffer, bytes, size);
}

Md4::Digest Md4::digest()
{
    const std::uint64_t bits = m_bytes * 8;
    unsigned char padding[72] = {0x80};
    const std::size_t held = static_cast<std::size_t>(m_bytes % 64);
    add(padding, held < 56 ? 56 - held : 120 - held);
    unsigned char length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = static_cast<unsigned char>(bits >> (8 * i));
    add(length, 8);
    Digest out;
    for (int i = 0; i < 16; ++i)
        out[i] = static_cast<unsigned char>(m_state[i / 4] >> (8 * (i % 4)));
    reset();
    return out;
}

Md4::Digest Md4::of(const void *data, std::size_t size)
{
    Md4 md4;
    md4.add(data, size);
    return md4.digest();
}
