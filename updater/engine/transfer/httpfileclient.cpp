#include "httpfileclient.h"

#include "curltransfer.h"
#include "ftpsettings.h"

#include <QByteArray>

#include <cstring>

namespace {

constexpr long kConnectTimeoutSeconds = 15;
constexpr long kReceiveBufferBytes = 256 * 1024;
constexpr const char *kHttps = "https://";
constexpr const char *kHttp = "http://";
constexpr const char *kNoParts =
    "the server sends no part of a file, only the whole (Range ignored)";

CURL *handle(void *session)
{
    return static_cast<CURL *>(session);
}

std::vector<std::string> splitPath(const std::string &path)
{
    std::vector<std::string> parts;
    std::string part;
    for (char c : path + "/") {
        if (c == '/' || c == '\\') {
            if (!part.empty() && part != ".") {
                if (part == "..") {
                    if (!parts.empty())
                        parts.pop_back();
                } else {
                    parts.push_back(part);
                }
            }
            part.clear();
        } else {
            part += c;
        }
    }
    return parts;
}

std::string lower(const std::string &text)
{
    return QByteArray::fromStdString(text).toLower().toStdString();
}

// "scheme://host[:port]" of a URL, lower case, without user data and
// without the scheme's default port.
std::string originOf(const std::string &url)
{
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos)
        return std::string();
    const std::size_t start = scheme + 3;
    std::size_t end = url.find_first_of("/?#", start);
    if (end == std::string::npos)
        end = url.size();
    std::string authority = url.substr(start, end - start);
    const std::size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority.erase(0, at + 1);
    std::string origin = lower(url.substr(0, start) + authority);
    for (const char *suffix : {":443", ":80"}) {
        const std::string port = suffix;
        const bool isDefault = (port == ":443") == (origin.compare(0, 8, kHttps) == 0);
        if (isDefault && origin.size() > port.size()
            && origin.compare(origin.size() - port.size(), port.size(), port) == 0)
            origin.erase(origin.size() - port.size());
    }
    return origin;
}

} // namespace

// What the server answered to the current request, read from its header
// lines; the lines of a redirect's answer are replaced by those of the
// next one.
struct CHttpFileClient::Answer
{
    long status = 0;
    std::string contentEncoding;
    bool hasRange = false;
    std::uint64_t rangeStart = 0;
    Validators validators;
    // Why the answer is refused while it arrives; empty when it is not.
    std::string refusal;

    void clear()
    {
        status = 0;
        contentEncoding.clear();
        hasRange = false;
        rangeStart = 0;
        validators = Validators();
    }
};

CHttpFileClient::CHttpFileClient(IPrompt *prompt, const std::string &hostText)
    : m_prompt(prompt)
    , m_stallSeconds(ftpStallSecondsFromEnvironment())
{
    setHost(hostText);
}

CHttpFileClient::~CHttpFileClient()
{
    Close();
}

void CHttpFileClient::setHost(const std::string &hostText)
{
    m_hostText = hostText;
    const std::string text = lower(hostText);
    m_plain = text.compare(0, std::strlen(kHttp), kHttp) == 0;
    const std::size_t start = hostText.find("://");
    const std::size_t authorityStart = start == std::string::npos ? 0 : start + 3;
    const std::size_t slash = hostText.find('/', authorityStart);
    const std::string authority = hostText.substr(authorityStart, slash - authorityStart);
    m_origin = (m_plain ? kHttp : kHttps) + authority;
    m_prefix =
        slash == std::string::npos ? std::vector<std::string>() : splitPath(hostText.substr(slash));
}

std::string CHttpFileClient::host() const
{
    // User data in the host text are never shown.
    const std::size_t start = m_hostText.find("://");
    const std::size_t at = m_hostText.find('@');
    const std::size_t slash = m_hostText.find('/', start == std::string::npos ? 0 : start + 3);
    if (start == std::string::npos || at == std::string::npos || at > slash)
        return m_hostText;
    return m_hostText.substr(0, start + 3) + m_hostText.substr(at + 1);
}

bool CHttpFileClient::ensureSession()
{
    return openCurlSession(m_session, m_multi, m_lastError);
}

void CHttpFileClient::resetRequestOptions(const Validators &ifUnchanged)
{
    const CurlLibrary &curl = curlApi();
    CURL *session = handle(m_session);
    curl.easyReset(session);
    curl.easySetopt(session, CURLOPT_PROTOCOLS_STR, m_plain ? "http" : "https");
    curl.easySetopt(session, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    curl.easySetopt(session, CURLOPT_NOSIGNAL, 1L);
    curl.easySetopt(session, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl.easySetopt(session, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl.easySetopt(session, CURLOPT_LOW_SPEED_TIME, m_stallSeconds);
    curl.easySetopt(session, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    curl.easySetopt(session, CURLOPT_SSL_VERIFYPEER, 1L);
    curl.easySetopt(session, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!m_caFile.empty())
        curl.easySetopt(session, CURLOPT_CAINFO, m_caFile.c_str());
    if (!m_proxy.empty())
        curl.easySetopt(session, CURLOPT_PROXY, m_proxy.c_str());
    // Redirects are looked at before they are followed (perform).
    curl.easySetopt(session, CURLOPT_FOLLOWLOCATION, 0L);
    // The bytes as they lie on the server: no content coding asked for,
    // none undone.
    curl.easySetopt(session, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    if (m_headers)
        curl.slistFreeAll(static_cast<curl_slist *>(m_headers));
    curl_slist *headers = curl.slistAppend(nullptr, "Accept-Encoding: identity");
    if (headers && !ifUnchanged.etag.empty())
        headers = curl.slistAppend(headers, ("If-None-Match: " + ifUnchanged.etag).c_str());
    if (headers && !ifUnchanged.lastModified.empty())
        headers =
            curl.slistAppend(headers, ("If-Modified-Since: " + ifUnchanged.lastModified).c_str());
    m_headers = headers;
    curl.easySetopt(session, CURLOPT_HTTPHEADER, headers);
    curl.easySetopt(session, CURLOPT_ERRORBUFFER, m_errorBuffer);
    curl.easySetopt(session, CURLOPT_NOPROGRESS, 0L);
    curl.easySetopt(session, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::onProgress);
    curl.easySetopt(session, CURLOPT_HEADERFUNCTION, &CHttpFileClient::onHeader);
}

std::size_t CHttpFileClient::onHeader(char *data, std::size_t size, std::size_t count, void *user)
{
    auto *answer = static_cast<Answer *>(user);
    const std::size_t bytes = size * count;
    std::string line(data, bytes);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    if (line.compare(0, 5, "HTTP/") == 0) {
        answer->clear();
        const std::size_t space = line.find(' ');
        answer->status = space == std::string::npos ? 0 : std::atol(line.c_str() + space + 1);
        return bytes;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos)
        return bytes;
    const std::string name = lower(line.substr(0, colon));
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    if (name == "content-encoding")
        answer->contentEncoding = lower(value);
    else if (name == "etag")
        answer->validators.etag = value;
    else if (name == "last-modified")
        answer->validators.lastModified = value;
    else if (name == "content-range" && lower(value).compare(0, 6, "bytes ") == 0) {
        answer->hasRange = true;
        answer->rangeStart = std::strtoull(value.c_str() + 6, nullptr, 10);
    }
    return bytes;
}

bool CHttpFileClient::perform(const std::string &url, CurlTransfer *transfer, Answer &answer)
{
    const CurlLibrary &curl = curlApi();
    CURL *session = handle(m_session);
    std::string target = url;
    for (long redirects = 0;; ++redirects) {
        answer = Answer();
        const bool performed = performOnce(target, transfer, answer);
        if (answer.status < 300 || answer.status >= 400 || answer.status == 304)
            return performed;
        // A redirect: its page is never kept (acceptBody refuses it).
        char *next = nullptr;
        curl.easyGetinfo(session, CURLINFO_REDIRECT_URL, &next);
        const std::string nextUrl = next ? next : "";
        if (nextUrl.compare(0, std::strlen(kHttps), kHttps) != 0
            || originOf(nextUrl) != originOf(m_origin)) {
            m_lastError = "redirect to " + (nextUrl.empty() ? std::string("nowhere") : nextUrl)
                + " not followed: only to https on the same server";
            return false;
        }
        if (redirects == kMaxRedirects) {
            m_lastError = "given up after " + std::to_string(redirects) + " redirects";
            return false;
        }
        target = nextUrl;
    }
}

bool CHttpFileClient::performOnce(const std::string &url, CurlTransfer *transfer, Answer &answer)
{
    if (m_connectionLost) {
        m_lastError = "the server stopped answering earlier in this run";
        return false;
    }
    const CurlLibrary &curl = curlApi();
    CURL *session = handle(m_session);
    curl.easySetopt(session, CURLOPT_URL, url.c_str());
    curl.easySetopt(session, CURLOPT_HEADERDATA, &answer);
    if (transfer) {
        transfer->attach(session);
        transfer->sinkFailed = false;
        transfer->bodyAccepted = false;
    }
    m_errorBuffer[0] = '\0';
    const CURLcode result = runCurlRequest(static_cast<CURLM *>(m_multi), session, m_cancel);
    m_lastResult = result;
    if (result == CURLE_OK) {
        m_lastError.clear();
        return true;
    }
    bool serverGone = false;
    m_lastError = requestFailure(result, m_errorBuffer, answer.refusal, transfer, m_cancel,
                                 m_connected, m_stallSeconds, serverGone);
    if (serverGone)
        m_connectionLost = true;
    if (!m_proxy.empty() && !m_connected)
        m_lastError += " (through the proxy " + proxyForMessages(m_proxy) + ")";
    return false;
}

std::string CHttpFileClient::statusFailure(long status) const
{
    return "the server answered HTTP status " + std::to_string(status);
}

bool CHttpFileClient::Connect(const std::string &serverName)
{
    if (m_connected)
        return false;
    if (!serverName.empty())
        setHost(serverName);
    m_connectionLost = false;
    m_current.clear();
    bool reached = false;
    if (m_plain && !m_plainAllowed) {
        m_lastError = "plain http:// is refused without a signing key: nothing would vouch "
                      "for the files (use https://)";
    } else if (ensureSession()) {
        resetRequestOptions(Validators());
        curlApi().easySetopt(handle(m_session), CURLOPT_NOBODY, 1L);
        Answer answer;
        // Any answer will do, a redirect that is not followed too: the
        // server is there and its certificate sound.
        reached = perform(urlOf(std::string()), nullptr, answer)
            || (answer.status >= 300 && answer.status < 400);
    }
    if (!reached) {
        if (!(m_cancel && m_cancel->load()))
            tellConnectFailed(m_prompt, *this);
        return false;
    }
    m_connected = true;
    m_lastError.clear();
    return true;
}

bool CHttpFileClient::SetCurrentDirectory(const std::string &path)
{
    if (!m_connected)
        return false;
    // ".." stops at the prefix.
    std::string joined;
    if (path.empty() || (path[0] != '/' && path[0] != '\\'))
        for (const std::string &part : m_current)
            joined += "/" + part;
    m_current = splitPath(joined + "/" + path);
    return true;
}

std::string CHttpFileClient::urlOf(const std::string &name) const
{
    std::vector<std::string> parts = m_prefix;
    parts.insert(parts.end(), m_current.begin(), m_current.end());
    for (const std::string &part : splitPath(name))
        parts.push_back(part);
    std::string url = m_origin;
    for (const std::string &part : parts)
        url += "/" + QByteArray::fromStdString(part).toPercentEncoding().toStdString();
    if (name.empty())
        url += "/";
    return url;
}

bool CHttpFileClient::FindFile(const std::string &name)
{
    if (!m_connected)
        return false;
    if (name.find_first_of("*?") != std::string::npos) {
        m_lastError = "a web server lists no files: " + name;
        return false;
    }
    resetRequestOptions(Validators());
    curlApi().easySetopt(handle(m_session), CURLOPT_NOBODY, 1L);
    Answer answer;
    if (!perform(urlOf(name), nullptr, answer))
        return false;
    if (answer.status != 200) {
        m_lastError = statusFailure(answer.status);
        return false;
    }
    return true;
}

bool CHttpFileClient::GetFile(const std::string &remoteName, const std::string &localFolder,
                              const GetFileOptions &options)
{
    m_lastReceived = 0;
    m_notModified = false;
    m_validators = Validators();
    if (!m_connected)
        return false;
    const std::string url = urlOf(remoteName);
    auto tryFrom = [&](CurlTransfer &transfer, std::uint64_t offset) {
        resetRequestOptions(offset == 0 ? options.ifUnchanged : Validators());
        const CurlLibrary &curl = curlApi();
        CURL *session = handle(m_session);
        curl.easySetopt(session, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(offset));
        // Also for a part: an answer with the whole file instead is told
        // by its own check below.
        if (options.maxBytes > 0)
            curl.easySetopt(session, CURLOPT_MAXFILESIZE_LARGE,
                            static_cast<curl_off_t>(options.maxBytes));
        Answer answer;
        bool startAfresh = false;
        transfer.acceptBody = [&] {
            if (answer.status != 200 && answer.status != 206) {
                answer.refusal = statusFailure(answer.status);
                return false;
            }
            if (!answer.contentEncoding.empty() && answer.contentEncoding != "identity") {
                answer.refusal =
                    "sent with Content-Encoding " + answer.contentEncoding + ", not as the file is";
                return false;
            }
            if ((answer.status == 206) != (offset > 0)
                || (answer.hasRange && answer.rangeStart != offset)) {
                startAfresh = offset > 0;
                answer.refusal = kNoParts;
                return false;
            }
            return true;
        };
        const bool performed = perform(url, &transfer, answer);
        m_validators = answer.validators;
        if (startAfresh || m_lastResult == CURLE_RANGE_ERROR) {
            m_lastError = kNoParts;
            return TryEnd::StartAfresh;
        }
        if (m_lastResult == CURLE_FILESIZE_EXCEEDED)
            m_lastError = "the server announces more than " + std::to_string(options.maxBytes)
                + " bytes; download abandoned";
        if (!performed)
            return isCutOff(static_cast<CURLcode>(m_lastResult)) ? TryEnd::CutOff : TryEnd::Failed;
        if (answer.status == 304 && offset == 0 && !options.ifUnchanged.empty()) {
            m_notModified = true;
            m_validators = options.ifUnchanged;
            return TryEnd::Unchanged;
        }
        if (answer.status != 200 && answer.status != 206) {
            m_lastError = statusFailure(answer.status);
            return TryEnd::Failed;
        }
        return TryEnd::Complete;
    };
    return downloadInTries(remoteName, localFolder, options, m_minRate, m_cancel, tryFrom,
                           m_lastError, m_lastReceived);
}

bool CHttpFileClient::Close()
{
    if (m_headers)
        curlApi().slistFreeAll(static_cast<curl_slist *>(m_headers));
    closeCurlSession(m_session, m_multi);
    m_headers = nullptr;
    m_current.clear();
    m_connected = false;
    m_connectionLost = false;
    return true;
}
