#include "sha256.h"

#include <openssl/evp.h>

#include <cstdio>
#include <vector>

struct Sha256::Context
{
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256()
    : m_context(std::make_unique<Context>())
{
    reset();
}

Sha256::~Sha256() = default;

void Sha256::reset()
{
    EVP_DigestInit_ex(m_context->context, EVP_sha256(), nullptr);
}

void Sha256::add(const char *data, std::size_t size)
{
    EVP_DigestUpdate(m_context->context, data, size);
}

std::string Sha256::hex() const
{
    // Finishing a copy keeps this context open for more data.
    EVP_MD_CTX *copy = EVP_MD_CTX_new();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool ok = copy && EVP_MD_CTX_copy_ex(copy, m_context->context) == 1
        && EVP_DigestFinal_ex(copy, digest, &length) == 1;
    EVP_MD_CTX_free(copy);
    if (!ok)
        return std::string();
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 15];
    }
    return text;
}

bool Sha256::ofFile(const std::string &path, std::string &hex)
{
    std::FILE *file = std::fopen(path.c_str(), "rbe");
    if (!file)
        return false;
    Sha256 hash;
    std::vector<char> buffer(1 << 16);
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0)
        hash.add(buffer.data(), got);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    if (ok)
        hex = hash.hex();
    return ok;
}
