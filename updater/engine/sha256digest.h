#pragma once

#include <cstddef>
#include <memory>
#include <string>

class QCryptographicHash;

// SHA-256 of a stream of data. Uses the system's OpenSSL (libcrypto, which
// libcurl loads anyway), whose code uses the processor's SHA instructions;
// Qt's own digest, several times slower, where libcrypto cannot be loaded.
class Sha256Digest
{
public:
    Sha256Digest();
    ~Sha256Digest();

    Sha256Digest(const Sha256Digest &) = delete;
    Sha256Digest &operator=(const Sha256Digest &) = delete;

    void reset();
    void add(const char *data, std::size_t size);
    // Lower-case hex digest of everything added since the last reset.
    std::string hex();

private:
    void *m_context = nullptr; // libcrypto's EVP_MD_CTX
    std::unique_ptr<QCryptographicHash> m_fallback;
};
