#include "validatorcache.h"

#include "files/folderfiles.h"
#include "revision/relinfo.h"
#include "revision/revisionsignature.h"
#include "files/sha256.h"

#include <map>

namespace {

constexpr std::size_t kMaxValidatorsFileSize = 8 * 1024;

struct Entry
{
    std::string sha256;
    IFileTransfer::Validators validators;
};

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

std::map<std::string, Entry> readEntries(const std::string &path)
{
    std::map<std::string, Entry> entries;
    std::string text;
    if (!appendWholeFile(path, text, kMaxValidatorsFileSize))
        return entries;
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
            entries[fields[0]] = Entry{fields[1], {fields[2], fields[3]}};
        start = end + 1;
    }
    return entries;
}

void writeEntries(const std::string &path, const std::map<std::string, Entry> &entries)
{
    std::string text;
    for (const auto &[name, entry] : entries)
        text += name + "\t" + entry.sha256 + "\t" + entry.validators.etag + "\t"
            + entry.validators.lastModified + "\n";
    std::string error;
    // Without the file the next check only fetches the files whole.
    replaceFileInFolder(path.substr(0, path.rfind('/')), kValidatorsName, text, error, false);
}

} // namespace

bool fetchRevisionFile(IFileTransfer &client, const std::string &name, const std::string &folder,
                       IFileTransfer::GetFileOptions options)
{
    const std::string store = localPathFor(folder, kValidatorsName);
    const std::string copy = localPathFor(folder, name);
    std::map<std::string, Entry> entries = readEntries(store);
    const auto known = entries.find(name);
    std::string copySha256;
    if (known != entries.end() && Sha256::ofFile(copy, copySha256)
        && copySha256 == known->second.sha256)
        options.ifUnchanged = known->second.validators;
    if (!client.GetFile(name, folder, options))
        return false;
    if (client.notModified())
        return true;
    const IFileTransfer::Validators validators = client.lastValidators();
    std::string arrived;
    if (!validators.empty() && isFieldText(validators.etag) && isFieldText(validators.lastModified)
        && Sha256::ofFile(copy, arrived))
        entries[name] = Entry{arrived, validators};
    else if (known == entries.end())
        return true;
    else
        entries.erase(name);
    writeEntries(store, entries);
    return true;
}
