#pragma once

#include <openssl/evp.h>

#include <memory>

// OpenSSL objects that free themselves, for the signature check here and
// the signing of the publishing library.
namespace Signature {

struct KeyFree
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct ContextFree
{
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

inline bool isEd25519(const Key &key)
{
    return key && EVP_PKEY_get_id(key.get()) == EVP_PKEY_ED25519;
}

} // namespace Signature
