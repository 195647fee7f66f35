#include "signing.h"

#include "trust/opensslhandles.h"

#include <QByteArray>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace Signature {

namespace {

struct FileClose
{
    void operator()(std::FILE *file) const { std::fclose(file); }
};

std::string openSslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "unknown OpenSSL error";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

// Writes the PEM text through write() to a file created anew with mode.
template <typename Write>
bool writeNewFile(const std::string &path, mode_t mode, Write write, std::string &error)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    std::unique_ptr<std::FILE, FileClose> file(::fdopen(fd, "w"));
    if (!file) {
        ::close(fd);
        error = "cannot write " + path;
        return false;
    }
    if (!write(file.get()) || std::fflush(file.get()) != 0 || ::fsync(fd) != 0) {
        error = "cannot write " + path + ": " + openSslError();
        file.reset();
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

} // namespace

bool makeKeyPair(const std::string &keyPath, const std::string &publicKeyPath, std::string &error)
{
    Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    if (!key) {
        error = "cannot make a key: " + openSslError();
        return false;
    }
    if (!writeNewFile(
            keyPath, 0600,
            [&](std::FILE *file) {
                return PEM_write_PrivateKey(file, key.get(), nullptr, nullptr, 0, nullptr, nullptr)
                    == 1;
            },
            error))
        return false;
    if (!writeNewFile(
            publicKeyPath, 0644,
            [&](std::FILE *file) { return PEM_write_PUBKEY(file, key.get()) == 1; }, error)) {
        ::unlink(keyPath.c_str());
        return false;
    }
    return true;
}

bool sign(const std::string &keyPath, const std::string &message, std::string &signatureBase64,
          std::string &error)
{
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(keyPath.c_str(), "re"));
    if (!file) {
        error = "cannot read " + keyPath + ": " + std::strerror(errno);
        return false;
    }
    Key key(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
    if (!isEd25519(key)) {
        ERR_clear_error();
        error = keyPath + " holds no Ed25519 private key";
        return false;
    }
    Context context(EVP_MD_CTX_new());
    unsigned char signature[kSignatureBytes];
    std::size_t length = sizeof signature;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1
        || EVP_DigestSign(context.get(), signature, &length,
                          reinterpret_cast<const unsigned char *>(message.data()), message.size())
            != 1) {
        error = "cannot sign: " + openSslError();
        return false;
    }
    signatureBase64 =
        QByteArray(reinterpret_cast<const char *>(signature), static_cast<int>(length))
            .toBase64()
            .toStdString();
    return true;
}

} // namespace Signature
