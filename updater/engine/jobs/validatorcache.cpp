#include "validatorcache.h"

#include "files/folderfiles.h"
#include "files/sha256.h"
#include "revision/relinfo.h"

namespace {

constexpr std::size_t kMaxValidatorsFileSize = 8 * 1024;

// Text fit for one field of the file: no tabs, no line breaks, no other
// control characters, and of a sane length.
bool isFieldText(const std::string &text)
{
    if (text.size() > 512)
        return false;
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f)
            return false;
    return true;
}

std::string sha256Of(const std::string &bytes)
{
    Sha256 hash;
    hash.add(bytes.data(), bytes.size());
    return hash.hex();
}

} // namespace

CValidatorCache::CValidatorCache(const std::string &folder)
    : m_folder(folder)
{
    std::string text;
    if (!readFileInFolder(folder, kValidatorsName, text, kMaxValidatorsFileSize))
        return;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string fields[4];
        std::size_t field = 0;
        for (std::size_t i = start; i < end && field < 4; ++i) {
            if (text[i] == '\t')
                ++field;
            else
                fields[field] += text[i];
        }
        if (field == 3 && isSha256Text(fields[1]))
            m_entries[fields[0]] = Entry{fields[1], {fields[2], fields[3]}};
        start = end + 1;
    }
}

bool CValidatorCache::fetch(IFileTransfer &client, const std::string &name, std::uint64_t maxBytes,
                            std::string &bytes)
{
    IFileTransfer::GetFileOptions options;
    options.maxBytes = maxBytes;
    options.syncToDisk = false;
    const auto known = m_entries.find(name);
    if (known != m_entries.end())
        options.ifUnchanged = known->second.validators;
    if (!client.GetBytes(name, bytes, options))
        return false;
    if (client.notModified()) {
        // The kept copy, if it is still the one the validators belong to.
        if (known != m_entries.end()
            && readFileInFolder(m_folder, name, bytes, static_cast<std::size_t>(maxBytes))
            && sha256Of(bytes) == known->second.sha256) {
            m_fetched[name] = {known->second.validators, true};
            return true;
        }
        options.ifUnchanged = IFileTransfer::Validators();
        if (!client.GetBytes(name, bytes, options))
            return false;
    }
    m_fetched[name] = {client.lastValidators(), false};
    return true;
}

bool CValidatorCache::keep(const std::string &name, const std::string &bytes, std::string &error)
{
    const auto fetched = m_fetched.find(name);
    if (fetched != m_fetched.end() && fetched->second.second)
        return true; // the kept copy already
    if (!replaceFileInFolder(m_folder, name, bytes, error, false)) {
        m_changed = m_entries.erase(name) > 0 || m_changed;
        return false;
    }
    const IFileTransfer::Validators validators =
        fetched != m_fetched.end() ? fetched->second.first : IFileTransfer::Validators();
    if (!validators.empty() && isFieldText(validators.etag)
        && isFieldText(validators.lastModified)) {
        m_entries[name] = Entry{sha256Of(bytes), validators};
        m_changed = true;
    } else if (m_entries.erase(name) > 0) {
        m_changed = true;
    }
    return true;
}

void CValidatorCache::save()
{
    if (!m_changed)
        return;
    std::string text;
    for (const auto &[name, entry] : m_entries)
        text += name + "\t" + entry.sha256 + "\t" + entry.validators.etag + "\t"
            + entry.validators.lastModified + "\n";
    std::string error;
    replaceFileInFolder(m_folder, kValidatorsName, text, error, false);
    m_changed = false;
}
