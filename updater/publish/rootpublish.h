#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <vector>

// Publishing the next root of trust of an update directory
// (trust/trustroot.h): FOLDER/root/N.root, N one above the highest
// version there (1 when there is none), naming the public keys, the
// threshold and the expiry, signed by every private key given. A root
// that should rotate the keys of the one before is signed by a threshold
// of the old keys and a threshold of the new ones; clients refuse any
// other.
struct RootOptions
{
    std::vector<std::string> publicKeyFiles; // PEM
    std::size_t threshold = 1;
    std::vector<std::string> signingKeyFiles; // PEM, private
    int expiresDays = 365;
    std::function<std::time_t()> clock; // empty: the system clock
};

struct RootResult
{
    std::uint64_t version = 0;
    std::string path;
    std::string expires;
};

bool publishRoot(const std::string &folder, const RootOptions &options, RootResult &result,
                 std::string &error);
