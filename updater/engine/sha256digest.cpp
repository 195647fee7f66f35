#include "sha256digest.h"

#include <QCryptographicHash>

#include <dlfcn.h>

namespace {

// The few libcrypto entry points a digest needs, bound once.
struct Crypto
{
    void *(*newContext)() = nullptr;
    void (*freeContext)(void *) = nullptr;
    const void *(*sha256)() = nullptr;
    int (*init)(void *, const void *, void *) = nullptr;
    int (*update)(void *, const void *, std::size_t) = nullptr;
    int (*final)(void *, unsigned char *, unsigned int *) = nullptr;
    bool ok = false;
};

template <typename Function>
bool bind(void *module, const char *name, Function &function)
{
    function = reinterpret_cast<Function>(dlsym(module, name));
    return function != nullptr;
}

const Crypto &crypto()
{
    static const Crypto loaded = [] {
        Crypto api;
        void *module = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
        api.ok = module && bind(module, "EVP_MD_CTX_new", api.newContext)
                 && bind(module, "EVP_MD_CTX_free", api.freeContext)
                 && bind(module, "EVP_sha256", api.sha256)
                 && bind(module, "EVP_DigestInit_ex", api.init)
                 && bind(module, "EVP_DigestUpdate", api.update)
                 && bind(module, "EVP_DigestFinal_ex", api.final);
        return api;
    }();
    return loaded;
}

} // namespace

Sha256Digest::Sha256Digest()
{
    const Crypto &api = crypto();
    if (api.ok)
        m_context = api.newContext();
    if (m_context && api.init(m_context, api.sha256(), nullptr) != 1) {
        api.freeContext(m_context);
        m_context = nullptr;
    }
    if (!m_context)
        m_fallback = std::make_unique<QCryptographicHash>(QCryptographicHash::Sha256);
}

Sha256Digest::~Sha256Digest()
{
    if (m_context)
        crypto().freeContext(m_context);
}

void Sha256Digest::reset()
{
    if (m_context)
        crypto().init(m_context, crypto().sha256(), nullptr);
    else
        m_fallback->reset();
}

void Sha256Digest::add(const char *data, std::size_t size)
{
    if (m_context)
        crypto().update(m_context, data, size);
    else
        m_fallback->addData(QByteArrayView(data, static_cast<qsizetype>(size)));
}

std::string Sha256Digest::hex()
{
    QByteArray digest;
    if (m_context) {
        unsigned char bytes[32];
        unsigned int length = 0;
        if (crypto().final(m_context, bytes, &length) != 1)
            return std::string();
        digest = QByteArray(reinterpret_cast<const char *>(bytes), static_cast<qsizetype>(length));
        crypto().init(m_context, crypto().sha256(), nullptr);
    } else {
        digest = m_fallback->result();
    }
    return digest.toHex().toStdString();
}
