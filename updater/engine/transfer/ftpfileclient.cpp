#include "ftpfileclient.h"

#include "curltransfer.h"
#include "curlurl.h"
#include "ftpsettings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fnmatch.h>
#include <sys/stat.h>

namespace {

constexpr std::size_t kMaxListingSize = 16 * 1024 * 1024;
constexpr const char *kChanged = "the file changed on the server while it arrived";

// MORAVEL_FTP_VERBOSE=1 traces the FTP dialogue on stderr.
bool ftpVerbose()
{
    static const bool verbose = [] {
        const char *value = std::getenv("MORAVEL_FTP_VERBOSE");
        return value && *value && std::strcmp(value, "0") != 0;
    }();
    return verbose;
}

// Splits at "/" and "\", dropping empty parts.
std::vector<std::string> splitPath(const std::string &path)
{
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '/' || c == '\\') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

} // namespace

CFtpFileClient::CFtpFileClient(IPrompt *prompt, const std::string &host)
    : CCurlFileClient(prompt)
    , m_passive(ftpPassiveFromEnvironment())
{
    setHost(host.empty() ? ftpServerHost() : host);
}

void CFtpFileClient::setHost(const std::string &host)
{
    // A text that is no URL stays as given; Connect then fails on it.
    CurlUrl url;
    const bool parsed = CurlUrl::parse(host, kPlainScheme, url);
    m_host = parsed ? url.authority() : host;
    m_hostWantsTls = parsed && url.scheme == kTlsScheme;
}

FtpTls CFtpFileClient::tlsMode() const
{
    return m_hostWantsTls ? FtpTls::Required : m_tlsMode;
}

CFtpFileClient::~CFtpFileClient()
{
    Close();
}

// Every request starts from the same options; the handle keeps its live
// connection across curl_easy_reset, so the login is done once per run.
void CFtpFileClient::resetRequestOptions()
{
    CURL *handle = session();
    curl().easyReset(handle);
    setCommonOptions("ftp");
    curl().easySetopt(handle, CURLOPT_USERNAME, m_userName.c_str());
    curl().easySetopt(handle, CURLOPT_PASSWORD, m_password.c_str());
    curl().easySetopt(handle, CURLOPT_SERVER_RESPONSE_TIMEOUT, m_stallSeconds);
    curl().easySetopt(handle, CURLOPT_ACCEPTTIMEOUT_MS, m_stallSeconds * 1000);
    // Read every download to the end of its data connection: the size that
    // the server announces is not used as the end of the data.
    curl().easySetopt(handle, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    const FtpTls tls = tlsMode();
    curl().easySetopt(handle, CURLOPT_FTPPORT, m_passive || tls != FtpTls::Off ? nullptr : "-");
    if (tls != FtpTls::Off)
        curl().easySetopt(handle, CURLOPT_USE_SSL,
                          tls == FtpTls::Required ? CURLUSESSL_ALL : CURLUSESSL_TRY);
    if (!m_proxy.empty())
        curl().easySetopt(handle, CURLOPT_HTTPPROXYTUNNEL, 1L);
    curl().easySetopt(handle, CURLOPT_TRANSFERTEXT, 0L);
    if (ftpVerbose())
        curl().easySetopt(handle, CURLOPT_VERBOSE, 1L);
}

int CFtpFileClient::onDebug(void *, int type, char *data, std::size_t size, void *user)
{
    auto *transfer = static_cast<CurlTransfer *>(user);
    // 234: AUTH TLS accepted (334 from servers that answer AUTH SSL so).
    if (type == CURLINFO_HEADER_IN && size >= 4
        && (std::memcmp(data, "234 ", 4) == 0 || std::memcmp(data, "334 ", 4) == 0))
        transfer->tlsAccepted = true;
    if (ftpVerbose()
        && (type == CURLINFO_TEXT || type == CURLINFO_HEADER_IN || type == CURLINFO_HEADER_OUT))
        std::fwrite(data, 1, size, stderr);
    return 0;
}

std::size_t CFtpFileClient::onReply(char *data, std::size_t size, std::size_t count, void *user)
{
    // The replies to MDTM and SIZE (213), in the order they came.
    const std::size_t bytes = size * count;
    if (bytes >= 4 && std::memcmp(data, "213 ", 4) == 0)
        static_cast<std::string *>(user)->append(data, bytes);
    return bytes;
}

std::string CFtpFileClient::urlFor(const std::vector<std::string> &parts, bool directory) const
{
    // Paths below the login directory are sent relative to it; anything
    // else from the server's root ("%2F" makes curl start with "CWD /").
    const std::vector<std::string> entry = splitPath(m_entryPath);
    std::size_t first = 0;
    std::string url = "ftp://" + m_host + "/";
    if (parts.size() >= entry.size() && std::equal(entry.begin(), entry.end(), parts.begin()))
        first = entry.size();
    else
        url += "%2F";
    for (std::size_t i = first; i < parts.size(); ++i) {
        char *escaped =
            curl().easyEscape(session(), parts[i].data(), static_cast<int>(parts[i].size()));
        if (escaped) {
            url += escaped;
            curl().freeMemory(escaped);
        }
        if (i + 1 < parts.size() || directory)
            url += "/";
    }
    return url;
}

std::vector<std::string> CFtpFileClient::resolve(const std::string &path) const
{
    std::vector<std::string> parts;
    if (path.empty() || (path[0] != '/' && path[0] != '\\'))
        parts = m_currentParts;
    for (const std::string &part : splitPath(path)) {
        if (part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    return parts;
}

void CFtpFileClient::refreshCurrentUrl()
{
    m_currentUrl = m_connected ? "ftp://" + m_host + GetCurrentDirectory() : std::string();
}

bool CFtpFileClient::Connect(const std::string &serverName)
{
    if (m_connected)
        return false;
    if (!serverName.empty())
        setHost(serverName);
    m_connectionLost = false;
    if (!openSession()) {
        m_currentUrl.clear();
        return false;
    }
    resetRequestOptions();
    CurlTransfer transfer;
    transfer.cancel = m_cancel;
    // A request without body still logs in and reads the login directory,
    // so a wrong account fails here and not at the first download.
    curl().easySetopt(session(), CURLOPT_NOBODY, 1L);
    if (tlsMode() == FtpTls::WhenOffered) {
        // Whether the server took AUTH TLS shows only in the dialogue.
        curl().easySetopt(session(), CURLOPT_DEBUGFUNCTION, &CFtpFileClient::onDebug);
        curl().easySetopt(session(), CURLOPT_DEBUGDATA, &transfer);
        curl().easySetopt(session(), CURLOPT_VERBOSE, 1L);
    }
    m_entryPath.clear();
    if (!performRequest("ftp://" + m_host + "/", &transfer)) {
        m_currentUrl.clear();
        const bool cancelled = m_cancel && m_cancel->load();
        if (tlsRefused())
            m_lastError = "TLS required, and the server does not offer it";
        if (!cancelled)
            tellConnectFailed(m_prompt, *this);
        return false;
    }
    m_plainFallback = tlsMode() == FtpTls::WhenOffered && !transfer.tlsAccepted;
    char *entry = nullptr;
    if (curl().easyGetinfo(session(), CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry)
        m_entryPath = entry;
    if (m_entryPath.empty() || m_entryPath[0] != '/')
        m_entryPath = "/" + m_entryPath;
    m_currentParts = splitPath(m_entryPath);
    m_connected = true;
    refreshCurrentUrl();
    return true;
}

bool CFtpFileClient::tlsRefused() const
{
    return m_lastResult == CURLE_USE_SSL_FAILED;
}

bool CFtpFileClient::SetCurrentDirectory(const std::string &path)
{
    if (!m_connected) {
        m_currentUrl.clear();
        return false;
    }
    const std::vector<std::string> target = resolve(path);
    resetRequestOptions();
    CurlTransfer transfer;
    transfer.cancel = m_cancel;
    curl().easySetopt(session(), CURLOPT_NOBODY, 1L);
    const bool changed = performRequest(urlFor(target, true), &transfer);
    if (changed)
        m_currentParts = target;
    refreshCurrentUrl();
    return changed;
}

bool CFtpFileClient::listDirectory(const std::vector<std::string> &dir,
                                   std::vector<std::string> &names)
{
    names.clear();
    std::string listing;
    resetRequestOptions();
    CurlTransfer transfer;
    transfer.cancel = m_cancel;
    transfer.buffer = &listing;
    transfer.maxBytes = kMaxListingSize;
    curl().easySetopt(session(), CURLOPT_DIRLISTONLY, 1L);
    if (!performRequest(urlFor(dir, true), &transfer))
        return false;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos)
            end = listing.size();
        std::string line = listing.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        // Some servers list "dir/name"; only the bare name counts.
        const std::size_t slash = line.find_last_of('/');
        if (slash != std::string::npos)
            line.erase(0, slash + 1);
        if (!line.empty() && line != "." && line != "..")
            names.push_back(line);
        start = end + 1;
    }
    return true;
}

bool CFtpFileClient::FindFile(const std::string &name)
{
    if (!m_connected)
        return false;
    m_hasFinder = true;
    m_finderMatches.clear();
    m_finderIndex = 0;
    m_found = false;

    std::vector<std::string> parts = splitPath(name);
    if (parts.empty())
        return false;
    const std::string pattern = parts.back();
    parts.pop_back();
    std::string prefix;
    for (const std::string &part : parts)
        prefix += part + "/";
    std::vector<std::string> dir = m_currentParts;
    for (const std::string &part : parts)
        dir.push_back(part);

    std::vector<std::string> entries;
    if (!listDirectory(dir, entries))
        return false;
    // Only "*" and "?" make a pattern; any other name is taken as it is,
    // brackets included.
    const bool wildcard = pattern.find_first_of("*?") != std::string::npos;
    for (const std::string &entry : entries) {
        if (wildcard ? fnmatch(pattern.c_str(), entry.c_str(), FNM_PERIOD) == 0 : entry == pattern)
            m_finderMatches.push_back(prefix + entry);
    }
    m_found = !m_finderMatches.empty();
    if (m_found)
        m_lastFoundName = name;
    return m_found;
}

std::string CFtpFileClient::FindNextFile()
{
    if (!m_connected || !m_hasFinder || !m_found)
        return std::string();
    ++m_finderIndex;
    m_found = m_finderIndex < m_finderMatches.size();
    refreshCurrentUrl();
    return m_found ? m_finderMatches[m_finderIndex] : std::string();
}

CCurlFileClient::TryEnd CFtpFileClient::tryDownload(const std::string &remoteName,
                                                    const GetFileOptions &options,
                                                    CurlTransfer &transfer)
{
    std::vector<std::string> parts = m_currentParts;
    for (const std::string &part : splitPath(remoteName))
        parts.push_back(part);
    const std::uint64_t offset = transfer.received;
    resetRequestOptions();
    CURL *handle = session();
    // MDTM (FILETIME) and SIZE name the version: the first try asks SIZE
    // itself ("*": a server without it still sends the file), a resumed
    // one has the transfer layer ask it before REST. A file whose SHA-256
    // is known needs neither (the digest refuses a joined file, and a new
    // version alike), so it costs no further commands.
    const bool versioned = options.expectedSha256.empty();
    std::string replies;
    if (versioned) {
        curl().easySetopt(handle, CURLOPT_FILETIME, 1L);
        curl().easySetopt(handle, CURLOPT_HEADERFUNCTION, &CFtpFileClient::onReply);
        curl().easySetopt(handle, CURLOPT_HEADERDATA, &replies);
    }
    curl_slist *sizeCommand = nullptr;
    if (versioned && offset == 0) {
        sizeCommand = curl().slistAppend(nullptr, ("*SIZE " + parts.back()).c_str());
        curl().easySetopt(handle, CURLOPT_PREQUOTE, sizeCommand);
    } else if (offset > 0) {
        curl().easySetopt(handle, CURLOPT_IGNORE_CONTENT_LENGTH, 0L);
        curl().easySetopt(handle, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(offset));
    }
    std::string refusal;
    transfer.acceptBody = [&] {
        if (!versioned)
            return true;
        curl_off_t modified = -1;
        curl().easyGetinfo(handle, CURLINFO_FILETIME_T, &modified);
        // Without MDTM nothing names the version.
        const std::string version = modified >= 0 ? replies : std::string();
        if (offset == 0)
            m_version = version;
        else if (version != m_version)
            refusal = kChanged;
        return refusal.empty();
    };
    const bool performed = performRequest(urlFor(parts, false), &transfer, refusal);
    if (sizeCommand)
        curl().slistFreeAll(sizeCommand);
    if (performed)
        return TryEnd::Complete;
    if (!refusal.empty() || m_lastResult == CURLE_BAD_DOWNLOAD_RESUME) {
        m_lastError = kChanged;
        return TryEnd::StartAfresh;
    }
    return isCutOff(static_cast<CURLcode>(m_lastResult)) ? TryEnd::CutOff : TryEnd::Failed;
}

bool CFtpFileClient::PutFile(const std::string &localPath)
{
    if (!m_connected)
        return false;
    std::size_t cut = localPath.find_last_of('/');
    if (cut == std::string::npos)
        cut = localPath.find_last_of('\\');
    const std::string name = cut == std::string::npos ? localPath : localPath.substr(cut + 1);
    if (name.empty()) {
        m_lastError = "no file name";
        return false;
    }
    std::FILE *source = std::fopen(localPath.c_str(), "rb");
    if (!source) {
        m_lastError = std::string("cannot read ") + localPath + ": " + std::strerror(errno);
        return false;
    }
    struct stat info = {};
    const bool sized = ::fstat(fileno(source), &info) == 0 && S_ISREG(info.st_mode);
    CurlTransfer transfer;
    transfer.cancel = m_cancel;
    transfer.source = source;

    std::vector<std::string> parts = m_currentParts;
    parts.push_back(name);
    resetRequestOptions();
    curl().easySetopt(session(), CURLOPT_UPLOAD, 1L);
    if (sized)
        curl().easySetopt(session(), CURLOPT_INFILESIZE_LARGE,
                          static_cast<curl_off_t>(info.st_size));
    const bool ok = sized && performRequest(urlFor(parts, false), &transfer);
    if (!sized)
        m_lastError = "not a regular file: " + localPath;
    std::fclose(source);
    return ok;
}

bool CFtpFileClient::Close()
{
    closeSession();
    m_hasFinder = false;
    m_finderMatches.clear();
    m_finderIndex = 0;
    m_currentParts.clear();
    m_entryPath.clear();
    m_currentUrl.clear();
    m_connected = false;
    m_connectionLost = false;
    m_found = false;
    return true;
}

std::string CFtpFileClient::GetCurrentDirectory() const
{
    if (!m_connected)
        return std::string();
    std::string path;
    for (const std::string &part : m_currentParts)
        path += "/" + part;
    return path.empty() ? std::string("/") : path;
}

std::string CFtpFileClient::GetCurrentDirectoryAsURL() const
{
    return m_connected ? m_currentUrl : std::string();
}
