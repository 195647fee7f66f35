#pragma once

#include <string>

// Ed25519 keys, signatures and their text forms, through OpenSSL's EVP
// interface. No cryptography of our own.
//
// Key files are PEM: the private key as PKCS#8 ("PRIVATE KEY"), the public
// key as SubjectPublicKeyInfo ("PUBLIC KEY"). Signatures travel as
// standard base64 of their 64 bytes.
namespace Signature {

constexpr int kSignatureBytes = 64;

// Makes a new key pair: the private key at keyPath (created with mode
// 0600, never replacing an existing file) and the public key at
// publicKeyPath. False with the reason in error.
bool makeKeyPair(const std::string &keyPath, const std::string &publicKeyPath, std::string &error);

// Signs message with the private key in the PEM file at keyPath; the
// signature in base64. False with the reason in error.
bool sign(const std::string &keyPath, const std::string &message, std::string &signatureBase64,
          std::string &error);

// True when publicKeyPem holds an Ed25519 public key.
bool isPublicKey(const std::string &publicKeyPem);

// True when signatureBase64 is a valid signature of message by the key.
bool verify(const std::string &publicKeyPem, const std::string &message,
            const std::string &signatureBase64);

} // namespace Signature
