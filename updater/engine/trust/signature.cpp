#include "signature.h"

#include "opensslhandles.h"

#include <QByteArray>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

namespace Signature {

namespace {

struct BioFree
{
    void operator()(BIO *bio) const { BIO_free(bio); }
};

Key readPublicKey(const std::string &pem)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio)
        return Key();
    Key key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    ERR_clear_error();
    return isEd25519(key) ? std::move(key) : Key();
}

} // namespace

bool isPublicKey(const std::string &publicKeyPem)
{
    return static_cast<bool>(readPublicKey(publicKeyPem));
}

bool verify(const std::string &publicKeyPem, const std::string &message,
            const std::string &signatureBase64)
{
    const auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(signatureBase64),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != kSignatureBytes)
        return false;
    const Key key = readPublicKey(publicKeyPem);
    Context context(EVP_MD_CTX_new());
    if (!key || !context
        || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    const int result = EVP_DigestVerify(
        context.get(), reinterpret_cast<const unsigned char *>(decoded.decoded.constData()),
        static_cast<std::size_t>(decoded.decoded.size()),
        reinterpret_cast<const unsigned char *>(message.data()), message.size());
    ERR_clear_error();
    return result == 1;
}

} // namespace Signature
