#include "revisiontrust.h"

#include "builtinkey.h"
#include "files/folderfiles.h"
#include "transfer/filetransfer.h"
#include "programinfo.h"
#include "revision/relinfo.h"
#include "revision/relinfolist.h"
#include "revision/revisionsignature.h"
#include "signature.h"
#include "jobs/validatorcache.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <dlfcn.h>

namespace {

constexpr std::size_t kMaxKeyFileSize = 16 * 1024;
constexpr const char *kRefused = "Update refused: ";

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

CRevisionTrust::CRevisionTrust(const UpdateSecurity &security)
    : m_security(security)
{
}

std::uint64_t CRevisionTrust::acceptedSequence(const std::string &programFolder)
{
    std::string text;
    if (!appendWholeFile(localPathFor(programFolder, kAcceptedSequenceName), text, 64))
        return 0;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    std::uint64_t sequence = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), sequence);
    return error == std::errc() && end == text.data() + text.size() ? sequence : 0;
}

std::string CRevisionTrust::checkSignature(const std::string &publicKeyPem,
                                           const std::string &signatureText,
                                           const std::string &revisionPath,
                                           std::uint64_t &sequence) const
{
    RevisionSignature signature;
    if (!parseRevisionSignature(signatureText, signature))
        return std::string(kRevisionSignatureName) + " is malformed";
    std::string message = revisionSignatureHeader(signature.sequence, signature.expires);
    if (!appendWholeFile(revisionPath, message, static_cast<std::size_t>(kMaxRelInfoFileSize)))
        return std::string(kRemoteRelInfoName) + " cannot be read";
    if (!Signature::verify(publicKeyPem, message, signature.signature))
        return std::string(kRemoteRelInfoName) + " does not match its signature by the trusted key";
    std::time_t expires = 0;
    parseUtcMoment(signature.expires, expires);
    const std::time_t now = m_security.clock ? m_security.clock() : std::time(nullptr);
    if (now >= expires)
        return std::string(kRemoteRelInfoName) + " expired on " + signature.expires;
    sequence = signature.sequence;
    return std::string();
}

bool CRevisionTrust::accept(IFileTransfer &client, const std::string &programFolder,
                            const RelInfoList &remote)
{
    m_refusal.clear();
    const TrustedKey key = findTrustedKey(m_security.publicKeyFile);
    if (key.source == TrustedKey::Source::None)
        return true;
    if (!key.error.empty())
        return refuse(programFolder, key.error);

    IFileTransfer::GetFileOptions options;
    options.maxBytes = kMaxRevisionSignatureSize;
    options.syncToDisk = false;
    if (!fetchRevisionFile(client, kRevisionSignatureName, programFolder, options)) {
        const std::string why = client.lastError();
        // A file that sent bytes exists: its own failure is the reason,
        // and the connection may still be busy ending that transfer.
        if (client.lastReceived() == 0 && !client.FindFile(kRevisionSignatureName))
            return refuse(programFolder,
                          std::string(kRemoteRelInfoName) + " is not signed (no "
                              + kRevisionSignatureName + " on the server)");
        return refuse(programFolder,
                      std::string(kRevisionSignatureName) + " cannot be fetched: " + why);
    }
    std::string signatureText;
    if (!appendWholeFile(localPathFor(programFolder, kRevisionSignatureName), signatureText,
                         kMaxRevisionSignatureSize))
        return refuse(programFolder, std::string(kRevisionSignatureName) + " is malformed");

    std::uint64_t sequence = 0;
    const std::string invalid = checkSignature(
        key.pem, signatureText, localPathFor(programFolder, kRemoteRelInfoName), sequence);
    if (!invalid.empty())
        return refuse(programFolder, invalid);

    const std::uint64_t accepted = acceptedSequence(programFolder);
    if (sequence < accepted)
        return refuse(programFolder,
                      std::string(kRemoteRelInfoName) + " has sequence " + std::to_string(sequence)
                          + ", older than the accepted " + std::to_string(accepted));
    for (const RelInfoRecord &record : remote) {
        if (record.sha256.empty() || !record.hasSize)
            return refuse(programFolder,
                          std::string(kRemoteRelInfoName) + " lists " + std::string(record.fileName)
                              + " without a " + (record.sha256.empty() ? "SHA-256" : "size"));
    }
    if (sequence > accepted) {
        // Not being able to record it weakens only the replay check of a
        // later run; this file is sound.
        std::string error;
        replaceFileInFolder(programFolder, kAcceptedSequenceName, std::to_string(sequence) + "\n",
                            error);
    }
    return true;
}

bool CRevisionTrust::refuse(const std::string &programFolder, const std::string &reason)
{
    m_refusal = kRefused + reason;
    // Nothing of a refused release stays in the program folder.
    std::remove(localPathFor(programFolder, kRemoteRelInfoName).c_str());
    std::remove(localPathFor(programFolder, kRevisionSignatureName).c_str());
    return false;
}
