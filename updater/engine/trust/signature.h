#pragma once

#include <string>

// Ed25519 signature checks through OpenSSL's EVP interface. No
// cryptography of our own. Making keys and signing live in the publishing
// library (signing.h), which the client library does not link.
//
// Key files are PEM: the private key as PKCS#8 ("PRIVATE KEY"), the public
// key as SubjectPublicKeyInfo ("PUBLIC KEY"). Signatures travel as
// standard base64 of their 64 bytes.
namespace Signature {

constexpr int kSignatureBytes = 64;

// True when publicKeyPem holds an Ed25519 public key.
bool isPublicKey(const std::string &publicKeyPem);

// True when signatureBase64 is a valid signature of message by the key.
bool verify(const std::string &publicKeyPem, const std::string &message,
            const std::string &signatureBase64);

} // namespace Signature
