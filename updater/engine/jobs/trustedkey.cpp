#include "trustedkey.h"

#include "builtinkey.h"
#include "programinfo.h"
#include "revision/revisionsignature.h"
#include "trust/signature.h"
#include "trust/trustroot.h"

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

TrustedKey rootFromFile(const std::string &path, TrustedKey::Source source)
{
    TrustedKey key;
    key.source = source;
    key.path = path;
    std::string bytes;
    ParsedRoot parsed;
    std::string problem;
    if (!appendWholeFile(path, bytes, kMaxRootFileSize))
        problem = "cannot be read";
    else
        problem = parseRoot(bytes, parsed);
    if (problem.empty()
        && countSigningKeys(parsed.root.keys, parsed.signedMessage, parsed.signatures)
            < parsed.root.threshold)
        problem = "is not signed by a threshold of its own keys";
    if (problem.empty())
        key.root = std::move(parsed.root);
    else
        key.error = "the root of trust " + path + " " + problem;
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

TrustedKey findTrustedKey(const std::string &explicitFile, const std::string &rootFile)
{
    if (!rootFile.empty())
        return rootFromFile(rootFile, TrustedKey::Source::RootFile);
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
    const std::string folder = engineBinaryFolder();
    std::error_code ec;
    const std::string rootBeside = folder + "/" + kRootName;
    if (std::filesystem::exists(rootBeside, ec) || ec)
        return rootFromFile(rootBeside, TrustedKey::Source::RootBeside);
    const std::string beside = folder + "/" + kPublicKeyName;
    if (std::filesystem::exists(beside, ec) || ec)
        return keyFromFile(beside, TrustedKey::Source::Beside);
    return TrustedKey();
}
