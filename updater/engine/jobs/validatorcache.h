#pragma once

#include "revision/relinfo.h"
#include "transfer/filetransfer.h"

#include <map>
#include <string>
#include <string_view>

// The server's validators (ETag, Last-Modified) of the revision files a
// program folder keeps, so that a check asks "changed since?" and an
// unchanged file costs one small answer instead of its body.
//
// They are kept in RelInfoRemote.validators beside RelInfoLocal.rel, one
// line a file: its name, the SHA-256 of the copy they belong to, the ETag
// and the Last-Modified text, separated by tabs. An answer "not modified"
// gives the kept copy's bytes, read once and only when they are still
// that copy (else the file is fetched whole); the caller then treats them
// as if they had just arrived (their signature included).
constexpr const char *kValidatorsName = "RelInfoRemote.validators";
// Reserved like every RelInfoRemote. name: no server record replaces it.
static_assert(std::string_view(kValidatorsName).substr(0, 14) == kRemoteFilePrefix);

class CValidatorCache
{
public:
    // Reads the validators kept in folder.
    explicit CValidatorCache(const std::string &folder);

    // Fetches name into bytes (at most maxBytes) through client, with the
    // validators of the kept copy.
    bool fetch(IFileTransfer &client, const std::string &name, std::uint64_t maxBytes,
               std::string &bytes);
    // Keeps bytes, the last fetch of name, as the folder's copy of name,
    // with the validators they came with. False with the reason in error.
    bool keep(const std::string &name, const std::string &bytes, std::string &error);
    // Writes the validators when keep() changed them; without the file the
    // next check only fetches the files whole.
    void save();

private:
    struct Entry
    {
        std::string sha256;
        IFileTransfer::Validators validators;
    };

    std::string m_folder;
    std::map<std::string, Entry> m_entries;
    // What the last fetch of each name brought: its validators, and
    // whether it was the kept copy.
    std::map<std::string, std::pair<IFileTransfer::Validators, bool>> m_fetched;
    bool m_changed = false;
};
