#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// A root of trust: the keys whose signatures count, how many distinct ones
// must sign (the threshold), its version and until when it holds. Roots
// travel as text files, root/1.root, root/2.root, ... in the update
// directory, each at most kMaxRootFileSize bytes:
//
//   Moravel-Root: 1
//   Version: 2
//   Expires: 2027-12-08T12:00:00Z
//   Threshold: 2
//   Key: <base64 of an Ed25519 public key, SubjectPublicKeyInfo DER>
//   Key: ...
//   Signature: <base64 of a 64-byte Ed25519 signature>
//   Signature: ...
//
// The signatures cover "Moravel root of trust\n" followed by the exact
// bytes of the file up to its first Signature line. A root is a list of
// distinct keys; which key made a signature is found by trying the keys,
// so a signature counts for a key once however often it appears.
//
// A single public key (moravel.pub, the built-in key, --public-key)
// counts as the root of version 1 with that key alone and threshold 1,
// which never expires.
//
// Everything here decides on bytes: nothing is read, written or fetched.

constexpr const char *kRootFolderName = "root";
constexpr std::size_t kMaxRootFileSize = 64 * 1024;
constexpr std::size_t kMaxRootKeys = 32;
constexpr std::size_t kMaxRootSignatures = 64;
// The most roots one walk accepts from a server.
constexpr unsigned kMaxRootsPerWalk = 32;

struct TrustRoot
{
    std::uint64_t version = 0; // 0: no root
    std::time_t expires = 0;   // 0: never
    std::size_t threshold = 1;
    std::vector<std::string> keys; // PEM, distinct
    std::string bytes;             // the file as it was accepted (empty for a single key)

    bool empty() const { return keys.empty(); }
};

struct ParsedRoot
{
    TrustRoot root;
    std::string signedMessage;           // what the signatures cover
    std::vector<std::string> signatures; // base64
};

// The name of version's file in the update directory ("root/2.root").
std::string rootFileName(std::uint64_t version);

// The root of version 1 with the one key alone.
TrustRoot singleKeyRoot(const std::string &publicKeyPem);

// The PEM text of a key line's value, and the key line's value of a PEM
// public key (empty when it is not an Ed25519 public key).
std::string keyLineOfPem(const std::string &publicKeyPem);

// The text of a root without its signatures, and the message its
// signatures cover.
std::string rootBody(std::uint64_t version, std::time_t expires, std::size_t threshold,
                     const std::vector<std::string> &keyLines);
std::string rootSignedMessage(std::string_view body);
// The line of one signature, to follow the body.
std::string rootSignatureLine(const std::string &signatureBase64);

// Reads a root file's text. Empty reason when well formed, else why.
std::string parseRoot(std::string_view bytes, ParsedRoot &parsed);

// How many distinct keys of keys have a valid signature of message among
// signatures.
std::size_t countSigningKeys(const std::vector<std::string> &keys, const std::string &message,
                             const std::vector<std::string> &signatures);

// Decides on the file of version current.version + 1 (its bytes as they
// arrived): accepted only when it is well formed, names exactly that
// version, and is signed by a threshold of current's keys and by a
// threshold of its own. On acceptance next is the new root and the result
// is empty; else the reason, in one line. Expiry is not looked at here: a
// root past its time may still lead to newer ones (rootExpiry).
std::string acceptNextRoot(const TrustRoot &current, std::string_view bytes, TrustRoot &next);

// Empty when root holds at now, else why not.
std::string rootExpiry(const TrustRoot &root, std::time_t now);
