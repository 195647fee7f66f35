#pragma once

#include "updatesecurity.h"

#include <cstdint>
#include <string>

class IFileTransfer;
class RelInfoList;

// The trust decision on a server's revision file.
//
// With a public key in force (UpdateSecurity::publicKeyFile, else the key
// built in with the CMake option MORAVEL_PUBLIC_KEY, else moravel.pub
// beside the library or program that runs the engine), a revision file is
// accepted only when its RelInfoRemote.rel.sig (revisionsignature.h) is
// present and well formed, its signature verifies with that key over the
// file's exact bytes, it has not expired, its sequence is not lower than
// the highest this program folder has accepted (RelInfoLocal.seq beside
// RelInfoLocal.rel), and every record carries a SHA-256 and a size, so
// that each file's content and length are covered by the signature too.
// The accepted sequence is then recorded. A key named but unusable refuses everything.
//
// moravel.pub is an ordinary file of the installation: an update can bring
// a new one, and since that update had to be signed with the key in force,
// only the holder of the old key can rotate it.
//
// Without any key every revision file is accepted, as servers without
// signatures expect.
constexpr const char *kPublicKeyName = "moravel.pub";
constexpr const char *kAcceptedSequenceName = "RelInfoLocal.seq";

struct TrustedKey
{
    enum class Source
    {
        None,
        File,
        BuiltIn,
        Beside
    };
    Source source = Source::None;
    std::string pem;
    std::string path;  // the file it came from (File, Beside)
    std::string error; // a key is named but cannot be used
};

// The key in force for an explicit key file (may be empty).
TrustedKey findTrustedKey(const std::string &explicitFile);

// The folder of the library or program that holds the update engine.
std::string engineBinaryFolder();

class CRevisionTrust
{
public:
    explicit CRevisionTrust(const UpdateSecurity &security = UpdateSecurity());

    // Decides on RelInfoRemote.rel, downloaded into programFolder and read
    // into remote: fetches its signature file through the connected client
    // and checks it. On refusal the two downloaded files are removed and
    // refusal() tells why in one line.
    bool accept(IFileTransfer &client, const std::string &programFolder, const RelInfoList &remote);
    const std::string &refusal() const { return m_refusal; }

    // Checks a revision file's bytes against a signature file's text with
    // a key, as accept() does, without the sequence and the records.
    // Empty text when valid, else the reason.
    std::string checkSignature(const std::string &publicKeyPem, const std::string &signatureText,
                               const std::string &revisionPath, std::uint64_t &sequence) const;

    // The highest sequence accepted in programFolder (0 when none).
    static std::uint64_t acceptedSequence(const std::string &programFolder);

private:
    bool refuse(const std::string &programFolder, const std::string &reason);

    UpdateSecurity m_security;
    std::string m_refusal;
};
