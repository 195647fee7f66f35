#include "relinfo.h"

#include "files/folderfiles.h"
#include "files/replacingfile.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace {

const char *const kFieldSpace = " \t\r\n\v\f";

// Readable reasons dropUnusableRecords returns at most, besides the line
// that counts the rest.
constexpr std::size_t kMaxDropReasons = 100;

bool isFile(const std::string &path)
{
    struct stat info = {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string_view trimView(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(kFieldSpace);
    if (first == std::string_view::npos)
        return std::string_view();
    const std::size_t last = text.find_last_not_of(kFieldSpace);
    return text.substr(first, last - first + 1);
}

// Field n (from 1) of line split at every separator; empty beyond the last
// field. GetField without the copy, for the readers.
std::string_view fieldView(std::string_view line, int n, char separator = ';')
{
    if (n < 1)
        return std::string_view();
    std::size_t start = 0;
    for (int field = 1; field < n; ++field) {
        const std::size_t next = line.find(separator, start);
        if (next == std::string_view::npos)
            return std::string_view();
        start = next + 1;
    }
    const std::size_t end = line.find(separator, start);
    return line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

// Hands every CR LF terminated line of data[0, size) to take(line) and
// returns where the unfinished rest starts. A lone CR or LF is part of the
// line. Lines longer than kMaxRelInfoLineLength are passed over whole:
// skipping carries that state from one piece of the input to the next.
// The bytes before searchFrom are a carried rest that holds no line end.
template <typename Take>
std::size_t takeLines(const char *data, std::size_t size, std::size_t searchFrom, bool &skipping,
                      Take &take)
{
    std::size_t lineStart = 0;
    // A LF at searchFrom ends a line after a carried CR.
    while (searchFrom < size) {
        const void *found = std::memchr(data + searchFrom, '\n', size - searchFrom);
        if (!found)
            break;
        const std::size_t lf = static_cast<std::size_t>(static_cast<const char *>(found) - data);
        searchFrom = lf + 1;
        if (lf == lineStart || data[lf - 1] != '\r')
            continue; // a lone LF belongs to the line
        const std::size_t length = lf - 1 - lineStart;
        if (!skipping && length <= kMaxRelInfoLineLength)
            take(std::string_view(data + lineStart, length));
        skipping = false;
        lineStart = lf + 1;
    }
    const std::size_t rest = size - lineStart;
    if (skipping || rest > kMaxRelInfoLineLength + 1) {
        // Too long already: only a final CR can matter, for a LF that may
        // follow in the next piece.
        skipping = true;
        const bool finalCr = rest > 0 && data[size - 1] == '\r';
        lineStart = size - (finalCr ? 1 : 0);
    }
    return lineStart;
}

// The last line, which may lack CR LF.
template <typename Take>
void takeLastLine(std::string_view rest, bool skipping, Take &take)
{
    if (!skipping && !rest.empty() && rest.size() <= kMaxRelInfoLineLength)
        take(rest);
}

// The lines of bytes, as takeLines splits them.
template <typename Take>
bool forEachLineOf(std::string_view bytes, Take take)
{
    if (bytes.size() > static_cast<std::uint64_t>(kMaxRelInfoFileSize))
        return false;
    bool skipping = false;
    const std::size_t rest = takeLines(bytes.data(), bytes.size(), 0, skipping, take);
    takeLastLine(bytes.substr(rest), skipping, take);
    return true;
}

// The lines of the file at path, read a piece at a time. sized gets the
// file's size before the first line.
template <typename Sized, typename Take>
bool forEachLine(const std::string &path, Sized sized, Take take)
{
    // Not blocking: a FIFO is refused below instead of waited for.
    // A symbolic link is not read: revision files are the folder's own.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return false;
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxRelInfoFileSize) {
        ::close(fd);
        return false;
    }
    sized(static_cast<std::uint64_t>(info.st_size));

    constexpr std::size_t kChunk = 1 << 20;
    // The bytes of the line not ended yet, then the chunk read.
    std::string buffer;
    buffer.reserve(kChunk + kMaxRelInfoLineLength + 2);
    bool skipping = false;
    bool ok = true;
    for (;;) {
        const std::size_t carried = buffer.size();
        buffer.resize(carried + kChunk);
        ssize_t got;
        do
            got = ::read(fd, &buffer[carried], kChunk);
        while (got < 0 && errno == EINTR);
        if (got < 0) {
            ok = false;
            break;
        }
        buffer.resize(carried + static_cast<std::size_t>(got));
        if (got == 0)
            break;
        buffer.erase(0, takeLines(buffer.data(), buffer.size(), carried, skipping, take));
    }
    ::close(fd);
    if (ok)
        takeLastLine(buffer, skipping, take);
    return ok;
}

// Takes one line of a revision file into list.
class RecordTaker
{
public:
    RecordTaker(RelInfoList &list, bool remote)
        : m_list(list)
        , m_remote(remote)
    {
    }

    void operator()(std::string_view line)
    {
        const std::string_view name = trimView(fieldView(line, 1));
        if (name.empty())
            return;
        const std::string_view revision = trimView(fieldView(line, 2));
        if (!relInfoRecordFits(name, revision))
            return;
        if (!m_remote) {
            m_list.append(name, revision);
            return;
        }
        const std::string_view hash = trimView(fieldView(line, 3));
        m_lowerHash.clear();
        if (isSha256Text(hash)) {
            m_lowerHash.assign(hash);
            for (char &c : m_lowerHash)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        std::uint64_t size = 0;
        const bool sized = parseFileSize(trimView(fieldView(line, 4)), size);
        // The block index's pair counts only whole and beside a file hash.
        const std::string_view indexHash = trimView(fieldView(line, 5));
        std::uint64_t indexSize = 0;
        m_indexHash.clear();
        if (!m_lowerHash.empty() && isSha256Text(indexHash)
            && parseFileSize(trimView(fieldView(line, 6)), indexSize)) {
            m_indexHash.assign(indexHash);
            for (char &c : m_indexHash)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        m_list.append(name, revision, "0", m_lowerHash, sized ? &size : nullptr, m_indexHash,
                      m_indexHash.empty() ? 0 : indexSize);
    }

private:
    RelInfoList &m_list;
    const bool m_remote;
    std::string m_lowerHash;
    std::string m_indexHash;
};

// Takes the release notes' line of a server list into seal.
struct SealTaker
{
    ReleaseNotesSeal &seal;

    void operator()(std::string_view line)
    {
        if (!trimView(fieldView(line, 1)).empty()
            || trimView(fieldView(line, 2)) != kReleaseNotesName)
            return;
        const std::string_view hash = trimView(fieldView(line, 3));
        std::uint64_t size = 0;
        if (!isSha256Text(hash) || !parseFileSize(trimView(fieldView(line, 4)), size))
            return;
        seal.found = true;
        seal.sha256.assign(hash);
        for (char &c : seal.sha256)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        seal.size = size;
    }
};

bool readRelInfo(RelInfoList &list, const std::string &path, bool remote)
{
    const std::size_t before = list.size();
    const bool ok = forEachLine(
        path, [&](std::uint64_t bytes) { list.reserveForFile(bytes); }, RecordTaker(list, remote));
    if (!ok)
        list.truncate(before);
    return ok;
}

// ASCII letter case folded; other bytes as they are.
inline unsigned char foldCase(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldCase(static_cast<unsigned char>(a[i]))
            != foldCase(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::uint32_t hashNoCase(std::string_view text)
{
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (char c : text)
        hash = (hash ^ foldCase(static_cast<unsigned char>(c))) * 16777619u;
    return hash;
}

// The records of one list by file name without regard to letter case: an
// open-addressing table of record indices, the names staying in the list.
class NameIndex
{
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    NameIndex(const RelInfoList &list, std::size_t expected)
        : m_list(list)
    {
        grow(expected);
    }

    // Adds record index unless a record of the same name is in already;
    // returns that record, or npos when index went in.
    std::size_t insert(std::size_t index)
    {
        const std::string_view name = m_list[index].fileName;
        const std::uint32_t hash = hashNoCase(name);
        std::size_t slot = hash & m_mask;
        for (; m_slots[slot].record != 0; slot = (slot + 1) & m_mask) {
            if (m_slots[slot].hash == hash
                && equalNoCase(m_list[m_slots[slot].record - 1].fileName, name))
                return m_slots[slot].record - 1;
        }
        m_slots[slot] = Slot{hash, static_cast<std::uint32_t>(index + 1)};
        if (++m_count * 10 > m_slots.size() * 7)
            grow(m_count * 2);
        return npos;
    }

    // The record of that name, or npos.
    std::size_t find(std::string_view name) const
    {
        const std::uint32_t hash = hashNoCase(name);
        for (std::size_t slot = hash & m_mask; m_slots[slot].record != 0;
             slot = (slot + 1) & m_mask) {
            if (m_slots[slot].hash == hash
                && equalNoCase(m_list[m_slots[slot].record - 1].fileName, name))
                return m_slots[slot].record - 1;
        }
        return npos;
    }

    std::size_t size() const { return m_count; }

private:
    struct Slot
    {
        std::uint32_t hash;
        std::uint32_t record; // index + 1; 0: free
    };

    // Room for entries names at a load of at most 0.7.
    void grow(std::size_t entries)
    {
        std::size_t slotCount = 16;
        while (slotCount * 7 < entries * 10)
            slotCount *= 2;
        if (slotCount <= m_slots.size())
            return;
        std::vector<Slot> old(slotCount, Slot{0, 0});
        old.swap(m_slots);
        m_mask = slotCount - 1;
        for (const Slot &entry : old) {
            if (entry.record == 0)
                continue;
            std::size_t slot = entry.hash & m_mask;
            while (m_slots[slot].record != 0)
                slot = (slot + 1) & m_mask;
            m_slots[slot] = entry;
        }
    }

    const RelInfoList &m_list;
    std::vector<Slot> m_slots;
    std::size_t m_mask = 0;
    std::size_t m_count = 0;
};

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
    return std::string(fieldView(text, n, separator));
}

std::string trimField(const std::string &text)
{
    return std::string(trimView(text));
}

bool ReadLocalRelInfo(RelInfoList &list, const std::string &path)
{
    return readRelInfo(list, path, false);
}

bool ReadRemoteRelInfo(RelInfoList &list, const std::string &path)
{
    return readRelInfo(list, path, true);
}

bool readRemoteRelInfo(RelInfoList &list, std::string_view bytes)
{
    const std::size_t before = list.size();
    list.reserveForFile(bytes.size());
    if (forEachLineOf(bytes, RecordTaker(list, true)))
        return true;
    list.truncate(before);
    return false;
}

ReleaseNotesSeal readReleaseNotesSeal(std::string_view bytes)
{
    ReleaseNotesSeal seal;
    forEachLineOf(bytes, SealTaker{seal});
    return seal;
}

std::string releaseNotesSealLine(const std::string &sha256, std::uint64_t size)
{
    return std::string("; ") + kReleaseNotesName + "; " + sha256 + "; " + std::to_string(size)
        + "\r\n";
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
        // The folder keeps an empty revision file from now on (a link of
        // that name is replaced, never written through).
        std::string error;
        replaceFileInFolder(folder, kLocalRelInfoName, std::string_view(), error, false);
        return foundFile;
    }

    std::unordered_map<std::string, std::vector<std::size_t>> byName;
    for (std::size_t i = first; i < list.size(); ++i)
        byName[std::string(list[i].fileName)].push_back(i);
    forEachLine(
        relInfoPath, [](std::uint64_t) {},
        [&](std::string_view line) {
            const auto found = byName.find(std::string(trimView(fieldView(line, 1))));
            if (found == byName.end())
                return;
            const std::string_view revision = trimView(fieldView(line, 2));
            if (revision.empty())
                return;
            for (std::size_t index : found->second)
                list.setRevision(index, revision);
        });
    return foundFile;
}

bool isNewerRevision(std::string_view remoteRevision, std::string_view localRevision)
{
    const std::string remoteText = std::string(remoteRevision) + "00000000";
    const std::string localText = std::string(localRevision) + "00000000";
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
    std::vector<bool> keep(remote.size());
    {
        // The server's names, each with the first local record of that name.
        NameIndex names(remote, remote.size());
        for (std::size_t r = 0; r < remote.size(); ++r)
            names.insert(r);
        std::vector<std::uint32_t> firstLocal(remote.size(), 0); // index + 1
        std::size_t unmatched = names.size();
        for (std::size_t l = 0; l < local.size() && unmatched > 0; ++l) {
            const std::size_t r = names.find(local[l].fileName);
            if (r != NameIndex::npos && firstLocal[r] == 0) {
                firstLocal[r] = static_cast<std::uint32_t>(l + 1);
                --unmatched;
            }
        }
        for (std::size_t r = 0; r < remote.size(); ++r) {
            const RelInfoRecord record = remote[r];
            const std::uint32_t l = firstLocal[names.find(record.fileName)];
            keep[r] = l == 0 || isNewerRevision(record.revision, local[l - 1].revision);
        }
    }
    remote.keepOnly(keep);
    return !remote.empty();
}

bool relInfoRecordFits(std::string_view fileName, std::string_view revision)
{
    return fileName.size() + 2 + revision.size() <= kMaxRelInfoLineLength;
}

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalNoCase(text.substr(0, prefix.size()), prefix);
}

} // namespace

std::string reservedNameReason(std::string_view name)
{
    const std::size_t firstCut = name.find_first_of("\\/");
    const std::string_view first = name.substr(0, firstCut);
    const std::size_t lastCut = name.find_last_of("\\/");
    const std::string_view last =
        lastCut == std::string_view::npos ? name : name.substr(lastCut + 1);
    // The engine's own files lie in the program folder itself.
    if (firstCut == std::string_view::npos) {
        for (std::string_view own : {kLockFileName, kLocalRelInfoName, kAcceptedSequenceName,
                                     kAcceptedRootName, kPhaseNumberName, kTrialFileName})
            if (equalNoCase(name, own))
                return "the update engine's own file";
        if (startsWithNoCase(name, kRemoteFilePrefix))
            return "the update engine's own file";
    }
    if (equalNoCase(first, kFailedReleaseFolder))
        return firstCut == std::string_view::npos
            ? "the name of the folder that keeps a failed release"
            : "inside the folder that keeps a failed release";
    if (startsWithNoCase(last, kAsideFilePrefix))
        return "an upd_ name, which the update engine gives files it sets aside";
    // A file under a backup folder's name would also keep the backups of
    // that minute from being made.
    if (first.size() == 12 && first.find_first_not_of("0123456789") == std::string_view::npos)
        return firstCut == std::string_view::npos
            ? "the name of a backup folder"
            : "inside the backup folder " + std::string(first);
    return std::string();
}

std::vector<std::string> dropUnusableRecords(RelInfoList &remote)
{
    std::vector<std::string> reasons;
    std::size_t untold = 0;
    std::vector<bool> keep(remote.size());
    {
        NameIndex names(remote, 0);
        for (std::size_t i = 0; i < remote.size(); ++i) {
            const std::string_view name = remote[i].fileName;
            const std::string reserved =
                isSafeRelativeName(name) ? reservedNameReason(name) : std::string();
            const bool safe = isSafeRelativeName(name) && reserved.empty();
            const std::size_t first = safe ? names.insert(i) : NameIndex::npos;
            if (safe && first == NameIndex::npos) {
                keep[i] = true;
            } else if (reasons.size() == kMaxDropReasons) {
                ++untold;
            } else if (!safe) {
                reasons.push_back(
                    "refused file name \"" + std::string(name) + "\": "
                    + (reserved.empty() ? "not a plain name below the program folder" : reserved));
            } else {
                reasons.push_back("ignored \"" + std::string(name) + "\": the same file as \""
                                  + std::string(remote[first].fileName) + "\" listed before");
            }
        }
    }
    if (untold > 0)
        reasons.push_back("... and " + std::to_string(untold) + " more records refused or ignored");
    remote.keepOnly(keep);
    return reasons;
}

bool WriteLocalRelInfo(RelInfoList &local, const RelInfoList &remote, const std::string &path)
{
    // First local record of each name.
    NameIndex names(local, local.size() + remote.size());
    for (std::size_t i = 0; i < local.size(); ++i)
        names.insert(i);

    for (std::size_t r = 0; r < remote.size(); ++r) {
        const RelInfoRecord record = remote[r];
        const std::size_t found = names.find(record.fileName);
        if (found != NameIndex::npos) {
            if (remote.isTransferred(r))
                local.setRevision(found, record.revision);
            continue;
        }
        local.append(record.fileName,
                     remote.isTransferred(r) ? record.revision : std::string_view("0.00.00"));
        names.insert(local.size() - 1);
    }

    // Written beside the old file and renamed over it when complete, so a
    // failure at any point leaves the old file as it was; a symbolic link
    // of that name is replaced by the file, never written through.
    const std::size_t slash = path.find_last_of('/');
    CReplacingFile file(slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1),
                        path.substr(slash + 1));
    if (!file.open())
        return false;
    std::string text;
    const auto flush = [&] {
        const bool ok = file.write(text.data(), text.size());
        text.clear();
        return ok;
    };
    bool written = true;
    for (const RelInfoRecord &record : local) {
        if (!relInfoRecordFits(record.fileName, record.revision))
            continue;
        text += record.fileName;
        text += "; ";
        text += record.revision;
        text += "\r\n";
        if (text.size() >= 65536 && !(written = flush()))
            break;
    }
    if (!written || !flush()) {
        file.discard();
        return false;
    }
    return file.commit();
}

bool parseFileSize(std::string_view text, std::uint64_t &size)
{
    if (text.empty() || text.size() > 20
        || text.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    return error == std::errc() && end == text.data() + text.size();
}

bool isSha256Text(std::string_view text)
{
    if (text.size() != 64)
        return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

bool isSafeRelativeName(std::string_view name)
{
    if (name.empty() || name[0] == '/' || name[0] == '\\')
        return false;
    // "C:" and the like: a drive letter.
    if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])))
        return false;
    const auto partOk = [](std::string_view p) { return !p.empty() && p != "." && p != ".."; };
    std::size_t partStart = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(name[i]);
        if (byte < 0x20 || byte == 0x7f)
            return false;
        if (byte == '/' || byte == '\\') {
            if (!partOk(name.substr(partStart, i - partStart)))
                return false;
            partStart = i + 1;
        }
    }
    return partOk(name.substr(partStart));
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
