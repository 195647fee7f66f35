#pragma once

#include "trust/signature.h"

#include <string>

// Making Ed25519 keys and signing, for the publisher: key files as
// signature.h describes them.
namespace Signature {

// Makes a new key pair: the private key at keyPath (created with mode
// 0600, never replacing an existing file) and the public key at
// publicKeyPath. False with the reason in error.
bool makeKeyPair(const std::string &keyPath, const std::string &publicKeyPath, std::string &error);

// Signs message with the private key in the PEM file at keyPath; the
// signature in base64. False with the reason in error.
bool sign(const std::string &keyPath, const std::string &message, std::string &signatureBase64,
          std::string &error);

} // namespace Signature
