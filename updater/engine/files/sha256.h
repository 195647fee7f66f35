#pragma once

#include <cstddef>
#include <memory>
#include <string>

// SHA-256 through OpenSSL, which uses the processor's SHA instructions
// where there are any (several times the speed of a portable
// implementation: downloads hash every byte they write).
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void reset();
    void add(const char *data, std::size_t size);
    // Lower-case hex digest of everything added since the last reset.
    std::string hex() const;

    // The digest of a whole file; false when it cannot be read.
    static bool ofFile(const std::string &path, std::string &hex);

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};
