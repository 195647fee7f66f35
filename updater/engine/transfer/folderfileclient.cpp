#include "folderfileclient.h"

#include "files/folderwalk.h"
#include "files/replacingfile.h"
#include "files/sha256.h"
#include "revision/relinfo.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *kScheme = "file://";
constexpr std::size_t kReadStep = 1024 * 1024;

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "%XX" read as the byte it stands for; a "%" without two hex digits
// stays as it is.
std::string unescaped(const std::string &text)
{
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0
            && hexValue(text[i + 2]) >= 0) {
            result += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::string lowerHex(const std::string &hex)
{
    return QByteArray::fromStdString(hex).toLower().toStdString();
}

// A medium that went away mid-run: every later step would fail the same.
bool isMediumGone(int number)
{
    return number == EIO || number == ENODEV || number == ENXIO || number == ESTALE;
}

} // namespace

CFolderFileClient::CFolderFileClient(IPrompt *prompt, const std::string &hostText)
    : m_prompt(prompt)
    , m_hostText(hostText)
    , m_folder(folderOfHost(hostText))
{
}

std::string CFolderFileClient::folderOfHost(const std::string &hostText)
{
    const std::size_t schemeLength = std::strlen(kScheme);
    if (hostText.size() <= schemeLength
        || QByteArray::fromStdString(hostText.substr(0, schemeLength)).toLower().toStdString()
            != kScheme)
        return std::string();
    std::string rest = hostText.substr(schemeLength);
    // "file://localhost/PATH" names this machine too; any other host does
    // not lie here.
    static const std::string localHost = "localhost";
    if (rest.compare(0, localHost.size(), localHost) == 0)
        rest = rest.substr(localHost.size());
    if (rest.empty() || rest[0] != '/')
        return std::string();
    std::string folder = unescaped(rest);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

bool CFolderFileClient::Connect(const std::string &serverName)
{
    if (m_connected) {
        m_lastError = "already connected";
        return false;
    }
    if (!serverName.empty()) {
        m_hostText = serverName;
        m_folder = folderOfHost(serverName);
    }
    m_connectionLost = false;
    m_current.clear();
    struct stat info = {};
    if (m_folder.empty())
        m_lastError = "not a folder on this machine (file:///PATH)";
    else if (cancelled())
        m_lastError = "cancelled";
    else if (::stat(m_folder.c_str(), &info) != 0)
        m_lastError = "cannot open the folder " + m_folder + ": " + std::strerror(errno);
    else if (!S_ISDIR(info.st_mode))
        m_lastError = m_folder + " is not a folder";
    else
        m_lastError.clear();
    if (!m_lastError.empty()) {
        if (m_lastError != "cancelled")
            tellConnectFailed(m_prompt, *this);
        return false;
    }
    m_connected = true;
    return true;
}

bool CFolderFileClient::SetCurrentDirectory(const std::string &path)
{
    if (!m_connected) {
        m_lastError = "not connected";
        return false;
    }
    std::vector<std::string> parts = path.empty() || (path[0] != '/' && path[0] != '\\')
        ? m_current
        : std::vector<std::string>();
    std::size_t start = 0;
    for (;;) {
        const std::size_t cut = path.find_first_of("\\/", start);
        const std::string part = path.substr(start, cut == std::string::npos ? cut : cut - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back(); // never above the folder itself
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (cut == std::string::npos)
            break;
        start = cut + 1;
    }
    std::string name;
    for (const std::string &part : parts)
        name += part + "/";
    std::string leaf;
    std::string error;
    const FileDescriptor folder(openFolderOfName(m_folder, name, leaf, error));
    if (folder.fd < 0) {
        m_lastError = error;
        m_connectionLost = isMediumGone(errno);
        return false;
    }
    m_current = std::move(parts);
    m_lastError.clear();
    return true;
}

std::string CFolderFileClient::pathOf(const std::string &name) const
{
    std::string path;
    for (const std::string &part : m_current)
        path += part + "/";
    return path + name;
}

bool CFolderFileClient::FindFile(const std::string &name)
{
    if (!m_connected) {
        m_lastError = "not connected";
        return false;
    }
    if (!isSafeRelativeName(name)) {
        m_lastError = "refused unsafe file name";
        return false;
    }
    struct stat info = {};
    if (!statInFolder(m_folder, pathOf(name), info)) {
        m_lastError = "no file " + name + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        m_lastError = name + " is no regular file";
        return false;
    }
    m_lastError.clear();
    return true;
}

int CFolderFileClient::openForReading(const std::string &remoteName, const GetFileOptions &options,
                                      std::uint64_t &size)
{
    m_lastReceived = 0;
    if (!m_connected) {
        m_lastError = "not connected";
        return -1;
    }
    if (m_connectionLost) {
        m_lastError = "the folder could not be read earlier in this run";
        return -1;
    }
    if (!isSafeRelativeName(remoteName)) {
        m_lastError = "refused unsafe file name";
        return -1;
    }
    if (!options.expectedSha256.empty() && !isSha256Text(options.expectedSha256)) {
        m_lastError = "malformed SHA-256";
        return -1;
    }
    if (cancelled()) {
        m_lastError = "cancelled";
        return -1;
    }
    std::string error;
    const int fd = openFileInFolder(m_folder, pathOf(remoteName), error);
    if (fd < 0) {
        m_connectionLost = isMediumGone(errno);
        m_lastError = error;
        return -1;
    }
    struct stat info = {};
    ::fstat(fd, &info);
    size = static_cast<std::uint64_t>(info.st_size);
    if (options.maxBytes > 0 && size > options.maxBytes) {
        ::close(fd);
        m_lastError = "larger than " + std::to_string(options.maxBytes) + " bytes; refused";
        return -1;
    }
    return fd;
}

template <typename Sink>
bool CFolderFileClient::readAll(int fd, const std::string &remoteName,
                                const GetFileOptions &options, std::uint64_t size, Sink &&sink)
{
    // One buffer for the client's life: a fresh one for each file would be
    // cleared and faulted in again, file after file.
    if (!m_buffer)
        m_buffer.reset(new char[kReadStep]);
    for (;;) {
        if (cancelled()) {
            m_lastError = "cancelled";
            return false;
        }
        const ssize_t got = ::read(fd, m_buffer.get(), kReadStep);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            m_connectionLost = isMediumGone(errno);
            m_lastError = "cannot read " + remoteName + ": " + std::strerror(errno);
            return false;
        }
        m_lastReceived += static_cast<std::uint64_t>(got);
        // A file that grows while it is read ends at the bound.
        if (options.maxBytes > 0 && m_lastReceived > options.maxBytes) {
            m_lastError =
                "larger than " + std::to_string(options.maxBytes) + " bytes; download abandoned";
            return false;
        }
        if (!sink(m_buffer.get(), static_cast<std::size_t>(got)))
            return false;
        if (options.progress)
            options.progress(m_lastReceived, size);
    }
}

bool CFolderFileClient::GetFile(const std::string &remoteName, const std::string &localFolder,
                                const GetFileOptions &options)
{
    if (localFolder.empty()) {
        m_lastError = "no local folder";
        return false;
    }
    std::uint64_t size = 0;
    const FileDescriptor source(openForReading(remoteName, options, size));
    if (source.fd < 0)
        return false;
    std::string folder = localFolder;
    if (folder.back() == '/' || folder.back() == '\\')
        folder.pop_back();
    CReplacingFile file(folder.empty() ? "/" : folder, remoteName, !options.expectedSha256.empty());
    if (!file.open()
        && !(file.lastErrno() == ENOENT && !folder.empty() && ::mkdir(folder.c_str(), 0777) == 0
             && file.open())) {
        m_lastError = file.error();
        return false;
    }
    const bool read =
        readAll(source.fd, remoteName, options, size, [&](const char *data, std::size_t n) {
            if (file.write(data, n))
                return true;
            m_lastError = file.error();
            return false;
        });
    if (!read)
        return false;
    if (!options.expectedSha256.empty() && file.sha256Hex() != lowerHex(options.expectedSha256)) {
        m_lastError = "SHA-256 mismatch for " + remoteName;
        return false;
    }
    if (!file.commit(options.syncToDisk)) {
        m_lastError = file.error();
        return false;
    }
    m_lastError.clear();
    return true;
}

bool CFolderFileClient::GetBytes(const std::string &remoteName, std::string &bytes,
                                 const GetFileOptions &options)
{
    bytes.clear();
    if (options.maxBytes == 0) {
        m_lastError = "no size bound for a download into memory";
        return false;
    }
    std::uint64_t size = 0;
    const FileDescriptor source(openForReading(remoteName, options, size));
    if (source.fd < 0)
        return false;
    const bool read =
        readAll(source.fd, remoteName, options, size, [&](const char *data, std::size_t n) {
            bytes.append(data, n);
            return true;
        });
    if (read && !options.expectedSha256.empty()) {
        Sha256 digest;
        digest.add(bytes.data(), bytes.size());
        if (digest.hex() != lowerHex(options.expectedSha256)) {
            m_lastError = "SHA-256 mismatch for " + remoteName;
            bytes.clear();
            return false;
        }
    }
    if (!read) {
        bytes.clear();
        return false;
    }
    m_lastError.clear();
    return true;
}

bool CFolderFileClient::Close()
{
    m_connected = false;
    m_current.clear();
    return true;
}
