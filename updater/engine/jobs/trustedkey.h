#pragma once

#include "trust/revisiontrust.h"

#include <string>

// Where the key in force comes from: an explicit root file
// (UpdateSecurity::rootFile), else an explicit key file
// (UpdateSecurity::publicKeyFile), else the key built in with the CMake
// option MORAVEL_PUBLIC_KEY, else moravel.root, else moravel.pub beside the library or
// program that runs the engine, else none.
//
// moravel.pub is an ordinary file of the installation: an update can bring
// a new one, and since that update had to be signed with the key in force,
// only the holder of the old key can rotate it.
constexpr const char *kPublicKeyName = "moravel.pub";
// A root of trust beside the engine, taken before moravel.pub there.
constexpr const char *kRootName = "moravel.root";

// The key in force for an explicit key file and root file (either may be
// empty; a root file comes first).
TrustedKey findTrustedKey(const std::string &explicitFile, const std::string &rootFile = {});

// The folder of the library or program that holds the update engine.
std::string engineBinaryFolder();
