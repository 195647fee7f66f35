#include "ftpfileclient.h"

#include "curllibrary.h"
#include "ftpsettings.h"
#include "prompt.h"
#include "relinfo.h"
#include "replacingfile.h"

#include <QByteArray>

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fnmatch.h>
#include <sys/stat.h>

namespace {

constexpr long kConnectTimeoutSeconds = 15;
constexpr long kReceiveBufferBytes = 256 * 1024;
constexpr std::size_t kMaxListingSize = 16 * 1024 * 1024;
constexpr std::size_t kMaxErrorText = 1024;
// Longest wait for the network before the cancel flag is looked at again;
// libcurl's own progress callback comes only once a second while nothing
// arrives.
constexpr int kCancelPollMs = 50;

const char *const kConnectFailedText =
    "Connection to the NORVANE server failed.\n"
    "Cannot check the new software updates.\n"
    "You can inactivate this feature if no internet line is available!\n\n";

const char *const kTlsRefusedText = "TLS required: the update server does not offer TLS.\n"
                                    "Nothing was sent to it, and no update was looked for.\n\n";

// MORAVEL_FTP_VERBOSE=1 traces the FTP dialogue on stderr.
bool ftpVerbose()
{
    static const bool verbose = [] {
        const char *value = std::getenv("MORAVEL_FTP_VERBOSE");
        return value && *value && std::strcmp(value, "0") != 0;
    }();
    return verbose;
}

CURL *handle(void *session)
{
    return static_cast<CURL *>(session);
}

CURLM *multiHandle(void *multi)
{
    return static_cast<CURLM *>(multi);
}

// Only called once a session exists, so the library is loaded.
const CurlLibrary &curl()
{
    return *CurlLibrary::get();
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

// Failures after which the server cannot be reached any more: waiting
// for it again would only repeat the time-out for every later file. A
// broken data connection is not one of them (the next request may well
// work); a server that has gone away shows as a refused connection at
// that next request.
bool leavesServerUnreachable(CURLcode result)
{
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_LOGIN_DENIED: return true;
    default: return false;
    }
}

// curl_easy_perform's loop, waiting in short steps: a cancel request ends
// the request at once, in the middle of connecting too. The connections
// stay in the multi handle between requests, so the login is kept.
CURLcode runRequest(CURLM *multi, CURL *session, const std::atomic<bool> *cancel)
{
    if (curl().multiAddHandle(multi, session) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl().multiPerform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0) {
            int queued = 0;
            CURLMsg *message = curl().multiInfoRead(multi, &queued);
            result =
                message && message->msg == CURLMSG_DONE ? message->data.result : CURLE_FAILED_INIT;
            break;
        }
        if (cancel && cancel->load()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (curl().multiPoll(multi, nullptr, 0, kCancelPollMs, nullptr) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
    }
    curl().multiRemoveHandle(multi, session);
    return result;
}

} // namespace

// State of one request: where received data go, where sent data come from,
// and whom to tell about progress.
struct CFtpFileClient::Transfer
{
    const std::atomic<bool> *cancel = nullptr;
    ProgressCallback progress;
    // Download into a file...
    CReplacingFile *file = nullptr;
    // ...or into memory (listings), bounded.
    std::string *buffer = nullptr;
    std::size_t bufferLimit = 0;
    // Upload source.
    std::FILE *source = nullptr;
    bool sinkFailed = false;
    // Bytes received so far, and the bound above which the download is
    // abandoned (0: none).
    std::uint64_t received = 0;
    std::uint64_t maxBytes = 0;
    // The minimum rate: the current window's start and the bytes received
    // before it; tooSlow once a window fell short.
    MinRate minRate;
    std::chrono::steady_clock::time_point windowStart = std::chrono::steady_clock::now();
    std::uint64_t windowStartBytes = 0;
    bool tooSlow = false;
    // The server accepted AUTH TLS (Connect with TLS when offered).
    bool tlsAccepted = false;

    // False (and tooSlow set) when the window that has just ended brought
    // too little.
    bool keepsMinRate(std::uint64_t done)
    {
        if (minRate.bytesPerSecond == 0 || minRate.windowSeconds <= 0)
            return true;
        const auto now = std::chrono::steady_clock::now();
        if (now - windowStart < std::chrono::seconds(minRate.windowSeconds))
            return true;
        const std::uint64_t wanted =
            minRate.bytesPerSecond * static_cast<std::uint64_t>(minRate.windowSeconds);
        if (done - windowStartBytes < wanted) {
            tooSlow = true;
            return false;
        }
        windowStart = now;
        windowStartBytes = done;
        return true;
    }
};

CFtpFileClient::CFtpFileClient(IPrompt *prompt, const std::string &host)
    : m_prompt(prompt)
    , m_passive(ftpPassiveFromEnvironment())
    , m_stallSeconds(ftpStallSecondsFromEnvironment())
{
    setHost(host.empty() ? ftpServerHost() : host);
}

void CFtpFileClient::setHost(const std::string &host)
{
    FtpTls mode = FtpTls::Off;
    m_host = stripFtpScheme(host, mode);
    m_hostWantsTls = mode == FtpTls::Required;
}

FtpTls CFtpFileClient::tlsMode() const
{
    return m_hostWantsTls ? FtpTls::Required : m_tls.mode;
}

CFtpFileClient::~CFtpFileClient()
{
    Close();
}

bool CFtpFileClient::ensureSession()
{
    if (m_session)
        return true;
    const CurlLibrary *library = CurlLibrary::get(&m_lastError);
    if (!library)
        return false;
    m_session = library->easyInit();
    m_multi = m_session ? library->multiInit() : nullptr;
    if (!m_multi) {
        if (m_session)
            library->easyCleanup(handle(m_session));
        m_session = nullptr;
        m_lastError = "cannot create a transfer handle";
    }
    return m_session != nullptr;
}

// Every request starts from the same options; the handle keeps its live
// connection across curl_easy_reset, so the login is done once per run.
void CFtpFileClient::resetRequestOptions()
{
    CURL *session = handle(m_session);
    curl().easyReset(session);
    curl().easySetopt(session, CURLOPT_PROTOCOLS_STR, "ftp");
    curl().easySetopt(session, CURLOPT_USERNAME, m_userName.c_str());
    curl().easySetopt(session, CURLOPT_PASSWORD, m_password.c_str());
    curl().easySetopt(session, CURLOPT_NOSIGNAL, 1L);
    curl().easySetopt(session, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl().easySetopt(session, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl().easySetopt(session, CURLOPT_LOW_SPEED_TIME, m_stallSeconds);
    curl().easySetopt(session, CURLOPT_SERVER_RESPONSE_TIMEOUT, m_stallSeconds);
    curl().easySetopt(session, CURLOPT_ACCEPTTIMEOUT_MS, m_stallSeconds * 1000);
    // Read every download to the end of its data connection: the size that
    // the server announces is neither asked for (no SIZE) nor used as the
    // end of the data.
    curl().easySetopt(session, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    // Fewer, larger reads and writes per file.
    curl().easySetopt(session, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    const FtpTls tls = tlsMode();
    curl().easySetopt(session, CURLOPT_FTPPORT, m_passive || tls != FtpTls::Off ? nullptr : "-");
    if (tls != FtpTls::Off) {
        curl().easySetopt(session, CURLOPT_USE_SSL,
                          tls == FtpTls::Required ? CURLUSESSL_ALL : CURLUSESSL_TRY);
        curl().easySetopt(session, CURLOPT_SSL_VERIFYPEER, 1L);
        curl().easySetopt(session, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!m_tls.caFile.empty())
            curl().easySetopt(session, CURLOPT_CAINFO, m_tls.caFile.c_str());
    }
    curl().easySetopt(session, CURLOPT_TRANSFERTEXT, 0L);
    curl().easySetopt(session, CURLOPT_ERRORBUFFER, m_errorBuffer);
    curl().easySetopt(session, CURLOPT_NOPROGRESS, 0L);
    curl().easySetopt(session, CURLOPT_XFERINFOFUNCTION, &CFtpFileClient::onProgress);
    if (ftpVerbose())
        curl().easySetopt(session, CURLOPT_VERBOSE, 1L);
}

bool CFtpFileClient::perform(const std::string &url, Transfer *transfer)
{
    if (m_connectionLost) {
        m_lastError = "the server stopped answering earlier in this run";
        return false;
    }
    CURL *session = handle(m_session);
    curl().easySetopt(session, CURLOPT_URL, url.c_str());
    curl().easySetopt(session, CURLOPT_XFERINFODATA, transfer);
    if (transfer && (transfer->file || transfer->buffer)) {
        curl().easySetopt(session, CURLOPT_WRITEFUNCTION, &CFtpFileClient::writeToTransfer);
        curl().easySetopt(session, CURLOPT_WRITEDATA, transfer);
    }
    if (transfer && transfer->source) {
        curl().easySetopt(session, CURLOPT_READFUNCTION, &CFtpFileClient::readFromTransfer);
        curl().easySetopt(session, CURLOPT_READDATA, transfer);
    }
    m_errorBuffer[0] = '\0';
    const CURLcode result = runRequest(multiHandle(m_multi), session, m_cancel);
    m_lastResult = result;
    if (result == CURLE_OK) {
        m_lastError.clear();
        return true;
    }
    m_lastError = m_errorBuffer[0] ? std::string(m_errorBuffer) : curl().easyStrerror(result);
    if (result == CURLE_OPERATION_TIMEDOUT && m_connected)
        // The buffer may hold an earlier, harmless complaint of the request.
        m_lastError =
            "the server sent nothing for " + std::to_string(m_stallSeconds) + " s (stall time-out)";
    if (transfer && transfer->tooSlow)
        m_lastError = "slower than " + std::to_string(transfer->minRate.bytesPerSecond)
            + " bytes a second over " + std::to_string(transfer->minRate.windowSeconds)
            + " s; download abandoned";
    else if (result == CURLE_ABORTED_BY_CALLBACK || (m_cancel && m_cancel->load()))
        m_lastError = "cancelled";
    else if (leavesServerUnreachable(result))
        m_connectionLost = true;
    return false;
}

std::size_t CFtpFileClient::writeToTransfer(char *data, std::size_t size, std::size_t count,
                                            void *user)
{
    auto *transfer = static_cast<Transfer *>(user);
    const std::size_t bytes = size * count;
    if (transfer->cancel && transfer->cancel->load())
        return 0;
    if (transfer->buffer) {
        if (transfer->buffer->size() + bytes > transfer->bufferLimit) {
            transfer->sinkFailed = true;
            return 0;
        }
        transfer->buffer->append(data, bytes);
        return bytes;
    }
    transfer->received += bytes;
    if (transfer->maxBytes > 0 && transfer->received > transfer->maxBytes) {
        transfer->sinkFailed = true;
        return 0;
    }
    if (!transfer->file->write(data, bytes)) {
        transfer->sinkFailed = true;
        return 0;
    }
    return bytes;
}

std::size_t CFtpFileClient::readFromTransfer(char *data, std::size_t size, std::size_t count,
                                             void *user)
{
    auto *transfer = static_cast<Transfer *>(user);
    if (transfer->cancel && transfer->cancel->load())
        return CURL_READFUNC_ABORT;
    const std::size_t got = std::fread(data, 1, size * count, transfer->source);
    if (got == 0 && std::ferror(transfer->source)) {
        transfer->sinkFailed = true;
        return CURL_READFUNC_ABORT;
    }
    return got;
}

int CFtpFileClient::onProgress(void *user, std::int64_t total, std::int64_t done,
                               std::int64_t uploadTotal, std::int64_t uploaded)
{
    auto *transfer = static_cast<Transfer *>(user);
    if (!transfer)
        return 0;
    if (transfer->cancel && transfer->cancel->load())
        return 1;
    if (transfer->file && !transfer->keepsMinRate(transfer->received))
        return 1;
    if (transfer->progress) {
        if (transfer->source)
            transfer->progress(static_cast<std::uint64_t>(uploaded),
                               static_cast<std::uint64_t>(uploadTotal));
        else
            transfer->progress(static_cast<std::uint64_t>(done), static_cast<std::uint64_t>(total));
    }
    return 0;
}

int CFtpFileClient::onDebug(void *, int type, char *data, std::size_t size, void *user)
{
    auto *transfer = static_cast<Transfer *>(user);
    // 234: AUTH TLS accepted (334 from servers that answer AUTH SSL so).
    if (type == CURLINFO_HEADER_IN && size >= 4
        && (std::memcmp(data, "234 ", 4) == 0 || std::memcmp(data, "334 ", 4) == 0))
        transfer->tlsAccepted = true;
    if (ftpVerbose()
        && (type == CURLINFO_TEXT || type == CURLINFO_HEADER_IN || type == CURLINFO_HEADER_OUT))
        std::fwrite(data, 1, size, stderr);
    return 0;
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
    CURL *session = handle(m_session);
    for (std::size_t i = first; i < parts.size(); ++i) {
        char *escaped =
            curl().easyEscape(session, parts[i].data(), static_cast<int>(parts[i].size()));
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
    if (!ensureSession()) {
        m_currentUrl.clear();
        return false;
    }
    resetRequestOptions();
    Transfer transfer;
    transfer.cancel = m_cancel;
    // A request without body still logs in and reads the login directory,
    // so a wrong account fails here and not at the first download.
    curl().easySetopt(handle(m_session), CURLOPT_NOBODY, 1L);
    if (tlsMode() == FtpTls::WhenOffered) {
        // Whether the server took AUTH TLS shows only in the dialogue.
        curl().easySetopt(handle(m_session), CURLOPT_DEBUGFUNCTION, &CFtpFileClient::onDebug);
        curl().easySetopt(handle(m_session), CURLOPT_DEBUGDATA, &transfer);
        curl().easySetopt(handle(m_session), CURLOPT_VERBOSE, 1L);
    }
    m_entryPath.clear();
    if (!perform("ftp://" + m_host + "/", &transfer)) {
        m_currentUrl.clear();
        const bool cancelled = m_cancel && m_cancel->load();
        if (tlsRefused())
            m_lastError = "TLS required, and the server does not offer it";
        if (m_prompt && !cancelled) {
            std::string text;
            if (tlsRefused()) {
                // Not a line problem: switching the reminder off is no advice here.
                text = kTlsRefusedText;
            } else {
                text = kConnectFailedText;
                text += "ERROR!  " + m_lastError.substr(0, kMaxErrorText) + "\n";
                text += "\n";
            }
            text += "FTP Server: <" + m_host + ">";
            m_prompt->message(text, std::string(), IPrompt::Buttons::Ok, IPrompt::Icon::None);
        }
        return false;
    }
    m_plainFallback = tlsMode() == FtpTls::WhenOffered && !transfer.tlsAccepted;
    char *entry = nullptr;
    if (curl().easyGetinfo(handle(m_session), CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry)
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
    Transfer transfer;
    transfer.cancel = m_cancel;
    curl().easySetopt(handle(m_session), CURLOPT_NOBODY, 1L);
    const bool changed = perform(urlFor(target, true), &transfer);
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
    Transfer transfer;
    transfer.cancel = m_cancel;
    transfer.buffer = &listing;
    transfer.bufferLimit = kMaxListingSize;
    curl().easySetopt(handle(m_session), CURLOPT_DIRLISTONLY, 1L);
    if (!perform(urlFor(dir, true), &transfer))
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

bool CFtpFileClient::GetFile(const std::string &remoteName, const std::string &localFolder)
{
    return GetFile(remoteName, localFolder, GetFileOptions());
}

bool CFtpFileClient::GetFile(const std::string &remoteName, const std::string &localFolder,
                             const GetFileOptions &options)
{
    m_lastReceived = 0;
    if (!m_connected)
        return false;
    if (!isSafeRelativeName(remoteName)) {
        m_lastError = "refused unsafe file name";
        return false;
    }
    if (localFolder.empty()) {
        // "/" names the root on purpose; empty text names nothing.
        m_lastError = "no local folder";
        return false;
    }
    if (!options.expectedSha256.empty() && !isSha256Text(options.expectedSha256)) {
        m_lastError = "malformed SHA-256";
        return false;
    }

    std::string folder = localFolder;
    if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\'))
        folder.pop_back();
    const std::string localPath = localPathFor(folder, remoteName);

    // The folder itself is made (one level) only when it is missing.
    CReplacingFile file(localPath, !options.expectedSha256.empty());
    if (!file.open()
        && !(file.lastErrno() == ENOENT && !folder.empty() && ::mkdir(folder.c_str(), 0777) == 0
             && file.open())) {
        m_lastError = file.error();
        return false;
    }
    Transfer transfer;
    transfer.cancel = m_cancel;
    transfer.progress = options.progress;
    transfer.file = &file;
    transfer.maxBytes = options.maxBytes;
    transfer.minRate = m_minRate;

    std::vector<std::string> parts = m_currentParts;
    for (const std::string &part : splitPath(remoteName))
        parts.push_back(part);
    resetRequestOptions();
    const bool performed = perform(urlFor(parts, false), &transfer);
    m_lastReceived = transfer.received;
    if (!performed) {
        if (transfer.sinkFailed && options.maxBytes > 0 && transfer.received > options.maxBytes)
            m_lastError =
                "larger than " + std::to_string(options.maxBytes) + " bytes; download abandoned";
        else if (transfer.sinkFailed && !file.error().empty())
            m_lastError = file.error();
        return false;
    }
    if (!options.expectedSha256.empty()
        && file.sha256Hex()
            != QByteArray::fromStdString(options.expectedSha256).toLower().toStdString()) {
        m_lastError = "SHA-256 mismatch for " + remoteName;
        return false;
    }
    if (!file.commit(options.syncToDisk)) {
        m_lastError = file.error();
        return false;
    }
    return true;
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
    Transfer transfer;
    transfer.cancel = m_cancel;
    transfer.source = source;

    std::vector<std::string> parts = m_currentParts;
    parts.push_back(name);
    resetRequestOptions();
    CURL *session = handle(m_session);
    curl().easySetopt(session, CURLOPT_UPLOAD, 1L);
    if (sized)
        curl().easySetopt(session, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(info.st_size));
    const bool ok = sized && perform(urlFor(parts, false), &transfer);
    if (!sized)
        m_lastError = "not a regular file: " + localPath;
    std::fclose(source);
    return ok;
}

bool CFtpFileClient::Close()
{
    if (m_session)
        curl().easyCleanup(handle(m_session));
    m_session = nullptr;
    if (m_multi)
        curl().multiCleanup(multiHandle(m_multi));
    m_multi = nullptr;
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
