#include "trustedkey.h"

#include "builtinkey.h"
#include "programinfo.h"
#include "revision/revisionsignature.h"
#include "trust/signature.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <dlfcn.h>

namespace {

constexpr std::size_t kMaxKeyFileSize = 16 * 1024;

std::string folderOf(const std::string &path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

TrustedKey keyFromFile(const std::string &path, TrustedKey::Source source)
{
    TrustedKey key;
    key.source = source;
    key.path = path;
    if (!appendWholeFile(path, key.pem, kMaxKeyFileSize))
        key.error = "the key " + path + " cannot be read";
    else if (!Signature::isPublicKey(key.pem))
        key.error = "the key " + path + " is not an Ed25519 public key";
    return key;
}

} // namespace

std::string engineBinaryFolder()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&engineBinaryFolder), &info) != 0 && info.dli_fname
        && std::strchr(info.dli_fname, '/')) {
        char resolved[PATH_MAX];
        if (::realpath(info.dli_fname, resolved))
            return folderOf(resolved);
    }
    // The main program: its link-map name is not a path.
    const std::string program = executableFolder();
    return program.empty() ? std::string(".") : program;
}

TrustedKey findTrustedKey(const std::string &explicitFile)
{
    if (!explicitFile.empty())
        return keyFromFile(explicitFile, TrustedKey::Source::File);
    if (kBuiltInPublicKey[0] != '\0') {
        TrustedKey key;
        key.source = TrustedKey::Source::BuiltIn;
        key.pem = kBuiltInPublicKey;
        if (!Signature::isPublicKey(key.pem))
            key.error = "the built-in key is not an Ed25519 public key";
        return key;
    }
    const std::string beside = engineBinaryFolder() + "/" + kPublicKeyName;
    std::error_code ec;
    if (std::filesystem::exists(beside, ec) || ec)
        return keyFromFile(beside, TrustedKey::Source::Beside);
    return TrustedKey();
}
