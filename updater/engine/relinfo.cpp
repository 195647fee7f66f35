#include "relinfo.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <locale.h>
#include <sys/stat.h>
#include <unordered_map>

namespace {

const char *const kFieldSpace = " \t\r\n\v\f";

std::string lowerCase(const std::string &text)
{
    std::string lower = text;
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

bool isFile(const std::string &path)
{
    struct stat info
    { };
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Reads the CR LF separated lines of a file and hands each to take(line).
// A lone CR or LF is part of the line; the last line may lack CR LF.
// Lines longer than kMaxRelInfoLineLength are passed over whole.
template <typename Take> bool forEachLine(const std::string &path, Take take)
{
    if (!isFile(path))
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || size > kMaxRelInfoFileSize)
        return false;
    in.seekg(0, std::ios::beg);

    std::string line;
    bool tooLong = false;
    bool pendingCr = false;
    char buffer[65536];
    auto addByte = [&](char c) {
        if (tooLong)
            return;
        if (line.size() >= kMaxRelInfoLineLength) {
            tooLong = true;
            line.clear();
            return;
        }
        line += c;
    };
    auto endLine = [&] {
        if (!tooLong)
            take(line);
        line.clear();
        tooLong = false;
    };
    bool anyData = false;
    while (in) {
        in.read(buffer, sizeof buffer);
        const std::streamsize got = in.gcount();
        if (got <= 0)
            break;
        anyData = true;
        for (std::streamsize i = 0; i < got; ++i) {
            const char c = buffer[i];
            if (pendingCr) {
                pendingCr = false;
                if (c == '\n') {
                    endLine();
                    continue;
                }
                addByte('\r');
            }
            if (c == '\r')
                pendingCr = true;
            else
                addByte(c);
        }
    }
    if (in.bad())
        return false;
    if (pendingCr)
        addByte('\r');
    if (anyData && (!line.empty() || tooLong))
        endLine();
    return true;
}

bool readRelInfo(RelInfoList &list, const std::string &path, bool remote)
{
    RelInfoList read;
    const bool ok = forEachLine(path, [&](const std::string &line) {
        const std::string name = trimField(GetField(line, 1, ';'));
        if (name.empty())
            return;
        RelInfoRecord record;
        record.fileName = name;
        record.revision = trimField(GetField(line, 2, ';'));
        if (!relInfoRecordFits(record.fileName, record.revision))
            return;
        if (remote) {
            record.transferMark = "0";
            const std::string hash = trimField(GetField(line, 3, ';'));
            if (isSha256Text(hash))
                record.sha256 = lowerCase(hash);
        }
        read.append(record);
    });
    if (!ok)
        return false;
    // Handed over, not copied: a big file's records exist once.
    if (list.empty())
        list.records().swap(read.records());
    else
        std::move(read.begin(), read.end(), std::back_inserter(list.records()));
    return true;
}

// The C library's strtod in the "C" locale: the revision text always uses
// "." whatever locale the host program runs in.
double parseDecimal(const char *text)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    if (!cLocale)
        return std::strtod(text, nullptr);
    return strtod_l(text, nullptr, cLocale);
}

struct RevisionNumber
{
    long long major = 0;
    double minor = 0.0;
};

long long parseMajor(const std::string &padded)
{
    // strtoll saturates where atoi would overflow.
    return std::strtoll(padded.c_str(), nullptr, 10);
}

} // namespace

std::string GetField(const std::string &text, int n, char separator)
{
    if (n < 1 || text.empty())
        return std::string();
    std::size_t start = 0;
    for (int field = 1; field < n; ++field) {
        const std::size_t next = text.find(separator, start);
        if (next == std::string::npos)
            return std::string();
        start = next + 1;
    }
    const std::size_t end = text.find(separator, start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string trimField(const std::string &text)
{
    const std::size_t first = text.find_first_not_of(kFieldSpace);
    if (first == std::string::npos)
        return std::string();
    const std::size_t last = text.find_last_not_of(kFieldSpace);
    return text.substr(first, last - first + 1);
}

bool ReadLocalRelInfo(RelInfoList &list, const std::string &path)
{
    return readRelInfo(list, path, false);
}

bool ReadRemoteRelInfo(RelInfoList &list, const std::string &path)
{
    return readRelInfo(list, path, true);
}

bool ListBackupFolder(const std::string &folder, RelInfoList &list)
{
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    std::vector<std::string> names;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (isFile(prefix + name))
            names.push_back(name);
    }
    ::closedir(dir);

    // Directory order is arbitrary; list the files by name.
    std::sort(names.begin(), names.end());
    const std::size_t first = list.size();
    for (const std::string &name : names)
        list.append(name, "-");
    const bool foundFile = !names.empty();

    const std::string relInfoPath = prefix + kLocalRelInfoName;
    if (!isFile(relInfoPath)) {
        // The folder keeps an empty revision file from now on.
        QFile empty(QFile::decodeName(relInfoPath.c_str()));
        if (!empty.exists() && empty.open(QIODevice::WriteOnly))
            empty.close();
        return foundFile;
    }

    std::unordered_map<std::string, std::vector<std::size_t>> byName;
    for (std::size_t i = first; i < list.size(); ++i)
        byName[list[i].fileName].push_back(i);
    forEachLine(relInfoPath, [&](const std::string &line) {
        const auto found = byName.find(trimField(GetField(line, 1, ';')));
        if (found == byName.end())
            return;
        const std::string revision = trimField(GetField(line, 2, ';'));
        if (revision.empty())
            return;
        for (std::size_t index : found->second)
            list[index].revision = revision;
    });
    return foundFile;
}

bool isNewerRevision(const std::string &remoteRevision, const std::string &localRevision)
{
    const std::string remoteText = remoteRevision + "00000000";
    const std::string localText = localRevision + "00000000";
    RevisionNumber remote;
    RevisionNumber local;
    remote.major = parseMajor(remoteText);
    local.major = parseMajor(localText);
    // Both texts are at least eight characters long, so either index exists.
    const std::size_t minorIndex = remote.major <= 9 ? 2 : 3;
    remote.minor = parseDecimal(remoteText.c_str() + minorIndex);
    local.minor = parseDecimal(localText.c_str() + minorIndex);
    if (remote.major != local.major)
        return remote.major > local.major;
    return remote.minor > local.minor;
}

bool SelectNewerFiles(const RelInfoList &local, RelInfoList &remote, bool takeAll)
{
    if (takeAll)
        return true;
    // First local record of each name, case folded.
    std::unordered_map<std::string, std::size_t> localIndex;
    localIndex.reserve(local.size());
    for (std::size_t i = 0; i < local.size(); ++i)
        localIndex.emplace(lowerCase(local[i].fileName), i);

    std::vector<RelInfoRecord> kept;
    kept.reserve(remote.size());
    for (const RelInfoRecord &record : remote) {
        const auto found = localIndex.find(lowerCase(record.fileName));
        if (found == localIndex.end()
            || isNewerRevision(record.revision, local[found->second].revision))
            kept.push_back(record);
    }
    remote.records().swap(kept);
    return !remote.empty();
}

bool relInfoRecordFits(const std::string &fileName, const std::string &revision)
{
    return fileName.size() + 2 + revision.size() <= kMaxRelInfoLineLength;
}

std::vector<std::string> dropUnusableRecords(RelInfoList &remote)
{
    std::vector<std::string> reasons;
    std::unordered_map<std::string, std::string> firstByKey;
    firstByKey.reserve(remote.size());
    std::vector<RelInfoRecord> kept;
    kept.reserve(remote.size());
    for (RelInfoRecord &record : remote) {
        if (!isSafeRelativeName(record.fileName)) {
            reasons.push_back("refused file name \"" + record.fileName
                              + "\": not a plain name below the program folder");
            continue;
        }
        const auto inserted = firstByKey.emplace(lowerCase(record.fileName), record.fileName);
        if (!inserted.second) {
            reasons.push_back("ignored \"" + record.fileName + "\": the same file as \""
                              + inserted.first->second + "\" listed before");
            continue;
        }
        kept.push_back(std::move(record));
    }
    remote.records().swap(kept);
    return reasons;
}

bool WriteLocalRelInfo(RelInfoList &local, const RelInfoList &remote, const std::string &path)
{
    std::unordered_map<std::string, std::size_t> localIndex;
    localIndex.reserve(local.size() + remote.size());
    for (std::size_t i = 0; i < local.size(); ++i)
        localIndex.emplace(lowerCase(local[i].fileName), i);

    for (std::size_t r = 0; r < remote.size(); ++r) {
        const bool transferred = remote.isTransferred(r);
        const std::string key = lowerCase(remote[r].fileName);
        const auto found = localIndex.find(key);
        if (found != localIndex.end()) {
            if (transferred)
                local[found->second].revision = remote[r].revision;
            continue;
        }
        local.append(remote[r].fileName, transferred ? remote[r].revision : std::string("0.00.00"));
        localIndex.emplace(key, local.size() - 1);
    }

    // Written beside the old file and renamed over it when complete, so a
    // failure at any point leaves the old file as it was.
    QSaveFile file(QFile::decodeName(path.c_str()));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    std::string text;
    for (const RelInfoRecord &record : local) {
        if (!relInfoRecordFits(record.fileName, record.revision))
            continue;
        text += record.fileName;
        text += "; ";
        text += record.revision;
        text += "\r\n";
        if (text.size() >= 65536) {
            if (file.write(text.data(), static_cast<qint64>(text.size()))
                != static_cast<qint64>(text.size())) {
                file.cancelWriting();
                return false;
            }
            text.clear();
        }
    }
    if (!text.empty()
        && file.write(text.data(), static_cast<qint64>(text.size()))
            != static_cast<qint64>(text.size())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool isSha256Text(const std::string &text)
{
    if (text.size() != 64)
        return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

bool isSafeRelativeName(const std::string &name)
{
    if (name.empty() || name[0] == '/' || name[0] == '\\')
        return false;
    // "C:" and the like: a drive letter.
    if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])))
        return false;
    std::string part;
    const auto partOk = [](const std::string &p) { return !p.empty() && p != "." && p != ".."; };
    for (char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return false;
        if (c == '/' || c == '\\') {
            if (!partOk(part))
                return false;
            part.clear();
        } else {
            part += c;
        }
    }
    return partOk(part);
}

std::string localPathFor(const std::string &programFolder, const std::string &name)
{
    std::string folder = programFolder;
    if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\'))
        folder.pop_back();
    std::string relative = name;
    for (char &c : relative) {
        if (c == '\\')
            c = '/';
    }
    return folder + "/" + relative;
}
