#include "publish.h"

#include "files/blockindex.h"
#include "files/folderfiles.h"
#include "files/folderwalk.h"
#include "revision/relinfo.h"
#include "revision/relinfolist.h"
#include "revision/releasephase.h"
#include "revision/revisionsignature.h"
#include "files/sha256.h"
#include "signing.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string slashName(std::string name)
{
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// The plain files below folder as relative names with "/", sorted.
bool listFiles(const std::string &folder, std::map<std::string, bool> &files, std::string &error)
{
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec))
            continue;
        const std::string name = fs::relative(it->path(), folder, ec).generic_string();
        if (name != kRemoteRelInfoName && name != kRevisionSignatureName
            && name != kReleaseNotesName)
            files.emplace(name, false);
    }
    if (ec)
        error = "cannot list " + folder + ": " + ec.message();
    // A file's block index is published with it, not as a file of its own.
    for (auto it = files.begin(); it != files.end();) {
        const std::string &name = it->first;
        const std::size_t suffix = name.size() - std::strlen(kBlockIndexSuffix);
        if (name.size() > std::strlen(kBlockIndexSuffix)
            && name.compare(suffix, std::string::npos, kBlockIndexSuffix) == 0
            && files.count(name.substr(0, suffix)))
            it = files.erase(it);
        else
            ++it;
    }
    return !ec;
}

// Writes name's block index beside it when the file is large enough to
// have one, and gives its SHA-256 and size; a smaller file loses an index
// left from before.
bool writeBlockIndex(const std::string &folder, const std::string &name, std::string &hex,
                     std::uint64_t &size, std::string &error)
{
    const std::string indexName = name + kBlockIndexSuffix;
    std::error_code ec;
    if (fs::file_size(localPathFor(folder, name), ec) < kBlockIndexMinSize || ec) {
        fs::remove(localPathFor(folder, indexName), ec);
        return true;
    }
    const FileDescriptor file(openFileInFolder(folder, name, error));
    std::string index;
    if (file.fd < 0
        || !makeBlockIndex(file.fd, fs::path(slashName(name)).filename().string(), index, error)
        || !replaceFileInFolder(folder, indexName, index, error))
        return false;
    Sha256 digest;
    digest.add(index.data(), index.size());
    hex = digest.hex();
    size = index.size();
    return true;
}

bool hashFile(const std::string &path, std::string &hex, std::uint64_t &size, std::string &error)
{
    std::error_code ec;
    size = fs::file_size(path, ec);
    if (ec || !Sha256::ofFile(path, hex) || fs::file_size(path, ec) != size || ec) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

} // namespace

bool publishFolder(const std::string &folder, const PublishOptions &options, PublishResult &result,
                   std::string &error)
{
    std::map<std::string, bool> files; // name -> listed already
    if (!listFiles(folder, files, error))
        return false;

    RelInfoList records;
    ReadLocalRelInfo(records, localPathFor(folder, kRemoteRelInfoName)); // none: all files are new
    std::string text;
    auto addRecord = [&](const std::string &name, const std::string &revision) {
        std::string hex;
        std::uint64_t size = 0;
        if (!hashFile(localPathFor(folder, name), hex, size, error))
            return false;
        std::string indexHex;
        std::uint64_t indexSize = 0;
        if (!writeBlockIndex(folder, name, indexHex, indexSize, error))
            return false;
        text += name + "; " + revision + "; " + hex + "; " + std::to_string(size);
        if (indexSize > 0)
            text += "; " + indexHex + "; " + std::to_string(indexSize);
        text += "\r\n";
        ++result.files;
        return true;
    };
    for (const RelInfoRecord &record : records) {
        const std::string name(record.fileName);
        const auto found = files.find(slashName(name));
        if (found == files.end() || found->second) {
            error = "the listed file " + name + " is missing from " + folder;
            return false;
        }
        found->second = true;
        if (!addRecord(name, std::string(record.revision)))
            return false;
    }
    for (const auto &[name, listed] : files) {
        if (!listed && !addRecord(name, options.defaultRevision))
            return false;
    }

    // The release notes are bound to this list too, by a line that is no
    // record (its first field is empty).
    const std::string page = localPathFor(folder, kReleaseNotesName);
    std::error_code ec;
    if (fs::is_regular_file(page, ec)) {
        std::string hex;
        std::uint64_t size = 0;
        if (!hashFile(page, hex, size, error))
            return false;
        text += releaseNotesSealLine(hex, size);
    }

    const std::time_t now = options.clock ? options.clock() : std::time(nullptr);
    ReleasePhase phase;
    phase.phased = options.phasedDays > 0;
    phase.start = now;
    phase.days = options.phasedDays;
    phase.critical = options.critical;
    text += releasePhaseLines(phase);
    result.sequence = options.sequence;
    if (result.sequence == 0) {
        std::string previousText;
        RevisionSignature previous;
        result.sequence = static_cast<std::uint64_t>(now);
        if (readFileInFolder(folder, kRevisionSignatureName, previousText,
                             kMaxRevisionSignatureSize)
            && parseRevisionSignature(previousText, previous))
            result.sequence = std::max(result.sequence, previous.sequence + 1);
    }
    result.expires = utcMomentText(now + static_cast<std::time_t>(options.expiresDays) * 86400);

    RevisionSignature signature;
    signature.sequence = result.sequence;
    signature.expires = result.expires;
    const std::string message = revisionSignatureMessage(result.sequence, result.expires, text);
    if (!Signature::sign(options.keyFile, message, signature.signature, error))
        return false;
    for (const std::string &keyFile : options.moreKeyFiles) {
        signature.extraSignatures.emplace_back();
        if (!Signature::sign(keyFile, message, signature.extraSignatures.back(), error))
            return false;
    }
    return replaceFileInFolder(folder, kRemoteRelInfoName, text, error)
        && replaceFileInFolder(folder, kRevisionSignatureName, formatRevisionSignature(signature),
                               error);
}
