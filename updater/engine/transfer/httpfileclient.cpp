#include "httpfileclient.h"

#include "byterangereader.h"
#include "curltransfer.h"
#include "curlurl.h"

#include "revision/relinfo.h"

#include <QByteArray>

#include <cstring>

namespace {

constexpr const char *kNoParts =
    "the server sends no part of a file, only the whole (Range ignored)";
constexpr const char *kChanged = "the file changed on the server while it arrived";
constexpr const char *kWrongPart =
    "the server sent another part of the file than the one asked for";

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

// What names a file's version for If-Range: a strong ETag, else the
// Last-Modified date; empty when the answer has neither.
std::string versionOf(const IFileTransfer::Validators &validators)
{
    if (!validators.etag.empty() && validators.etag.compare(0, 2, "W/") != 0)
        return validators.etag;
    return validators.lastModified;
}

} // namespace

// What the server answered to the current request, read from its header
// lines; the lines of a redirect's answer are replaced by those of the
// next one.
struct CHttpFileClient::Answer
{
    long status = 0;
    std::string contentEncoding;
    std::string contentType;
    std::string contentRange;
    bool hasRange = false;
    std::uint64_t rangeStart = 0;
    Validators validators;
    // Why the answer is refused while it arrives; empty when it is not.
    std::string refusal;

    void clear()
    {
        status = 0;
        contentEncoding.clear();
        contentType.clear();
        contentRange.clear();
        hasRange = false;
        rangeStart = 0;
        validators = Validators();
    }
};

CHttpFileClient::CHttpFileClient(IPrompt *prompt, const std::string &hostText)
    : CCurlFileClient(prompt)
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
    m_shownHost = urlForMessages(hostText);
    CurlUrl url;
    if (!CurlUrl::parse(hostText, "https", url)) {
        // Connect fails on it with the parser's reason.
        m_origin.clear();
        m_sameServer.clear();
        m_prefix.clear();
        return;
    }
    m_plain = url.scheme == "http";
    m_origin = url.scheme + "://" + url.authority();
    m_sameServer = url.origin();
    m_prefix = splitPath(url.path);
}

std::string CHttpFileClient::host() const
{
    return m_shownHost;
}

void CHttpFileClient::resetRequestOptions(const Validators &ifUnchanged, const std::string &ifRange)
{
    CURL *handle = session();
    curl().easyReset(handle);
    setCommonOptions(m_plain ? "http" : "https");
    curl().easySetopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    // Redirects are looked at before they are followed (perform).
    curl().easySetopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    // The bytes as they lie on the server: no content coding asked for,
    // none undone.
    curl().easySetopt(handle, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    if (m_headers)
        curl().slistFreeAll(static_cast<curl_slist *>(m_headers));
    curl_slist *headers = curl().slistAppend(nullptr, "Accept-Encoding: identity");
    if (headers && !ifUnchanged.etag.empty())
        headers = curl().slistAppend(headers, ("If-None-Match: " + ifUnchanged.etag).c_str());
    if (headers && !ifUnchanged.lastModified.empty())
        headers =
            curl().slistAppend(headers, ("If-Modified-Since: " + ifUnchanged.lastModified).c_str());
    if (headers && !ifRange.empty())
        headers = curl().slistAppend(headers, ("If-Range: " + ifRange).c_str());
    m_headers = headers;
    curl().easySetopt(handle, CURLOPT_HTTPHEADER, headers);
    curl().easySetopt(handle, CURLOPT_HEADERFUNCTION, &CHttpFileClient::onHeader);
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
    else if (name == "content-type")
        answer->contentType = value;
    else if (name == "content-range") {
        answer->contentRange = value;
        if (lower(value).compare(0, 6, "bytes ") == 0) {
            answer->hasRange = true;
            answer->rangeStart = std::strtoull(value.c_str() + 6, nullptr, 10);
        }
    }
    return bytes;
}

bool CHttpFileClient::perform(const std::string &url, CurlTransfer *transfer, Answer &answer)
{
    std::string target = url;
    for (long redirects = 0;; ++redirects) {
        answer = Answer();
        curl().easySetopt(session(), CURLOPT_HEADERDATA, &answer);
        // answer.refusal is filled in while the request runs.
        const bool performed = performRequest(target, transfer, answer.refusal);
        if (answer.status < 300 || answer.status >= 400 || answer.status == 304)
            return performed;
        // A redirect: its page is never kept (acceptBody refuses it).
        char *next = nullptr;
        curl().easyGetinfo(session(), CURLINFO_REDIRECT_URL, &next);
        const std::string nextUrl = next ? next : "";
        CurlUrl nextParts;
        if (!CurlUrl::parse(nextUrl, "https", nextParts) || nextParts.scheme != "https"
            || nextParts.origin() != m_sameServer) {
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

std::string CHttpFileClient::serverFault(int result, const CurlTransfer *transfer) const
{
    // libcurl refuses a header line above its limit as if memory ran out.
    if (result == CURLE_OUT_OF_MEMORY && !(transfer && transfer->bodyAccepted))
        return "the server's header line is longer than "
            + std::to_string(CURL_MAX_HTTP_HEADER / 1024) + " KB";
    return std::string();
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
    if (m_origin.empty()) {
        CurlUrl url;
        CurlUrl::parse(m_hostText, "https", url, &m_lastError);
    } else if (m_plain && !m_plainAllowed) {
        m_lastError = "plain http:// is refused without a signing key: nothing would vouch "
                      "for the files (use https://)";
    } else if (openSession()) {
        resetRequestOptions(Validators(), std::string());
        curl().easySetopt(session(), CURLOPT_NOBODY, 1L);
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
    resetRequestOptions(Validators(), std::string());
    curl().easySetopt(session(), CURLOPT_NOBODY, 1L);
    Answer answer;
    if (!perform(urlOf(name), nullptr, answer))
        return false;
    if (answer.status != 200) {
        m_lastError = statusFailure(answer.status);
        return false;
    }
    return true;
}

CCurlFileClient::TryEnd CHttpFileClient::tryDownload(const std::string &remoteName,
                                                     const GetFileOptions &options,
                                                     CurlTransfer &transfer)
{
    const std::uint64_t offset = transfer.received;
    resetRequestOptions(offset == 0 ? options.ifUnchanged : Validators(),
                        offset == 0 ? std::string() : m_version);
    CURL *handle = session();
    if (offset > 0)
        curl().easySetopt(handle, CURLOPT_RANGE, (std::to_string(offset) + "-").c_str());
    // Also for a part: an answer with the whole file instead is told by
    // its own check below.
    if (options.maxBytes > 0)
        curl().easySetopt(handle, CURLOPT_MAXFILESIZE_LARGE,
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
        const std::string version = versionOf(answer.validators);
        if (offset == 0) {
            if (answer.status != 200) {
                answer.refusal = kWrongPart;
                return false;
            }
            m_version = version;
            return true;
        }
        if (answer.status == 200) {
            // The whole file: another version, or a server that sends no
            // parts. It is taken from its first byte, once.
            if (transfer.startedAfresh) {
                answer.refusal = version == m_version ? kNoParts : kChanged;
                return false;
            }
            if (!transfer.restart())
                return false;
            transfer.startedAfresh = true;
            m_version = version;
            return true;
        }
        if (!answer.hasRange || answer.rangeStart != offset
            || (!m_version.empty() && version != m_version)) {
            startAfresh = true;
            answer.refusal = version == m_version ? kWrongPart : kChanged;
            return false;
        }
        return true;
    };
    const bool performed = perform(urlOf(remoteName), &transfer, answer);
    m_validators = answer.validators;
    if (startAfresh || (offset > 0 && answer.status == 416)) {
        // 416: the file is now shorter than the part kept.
        if (!startAfresh)
            m_lastError = kChanged;
        return TryEnd::StartAfresh;
    }
    if (m_lastResult == CURLE_FILESIZE_EXCEEDED)
        m_lastError = "the server announces more than " + std::to_string(options.maxBytes)
            + " bytes; download abandoned";
    if (!performed)
        return isCutOff(static_cast<CURLcode>(m_lastResult)) ? TryEnd::CutOff : TryEnd::Failed;
    if (answer.status == 304 && offset == 0 && !options.ifUnchanged.empty()) {
        m_validators = options.ifUnchanged;
        return TryEnd::Unchanged;
    }
    if (answer.status != 200 && answer.status != 206) {
        m_lastError = statusFailure(answer.status);
        return TryEnd::Failed;
    }
    return TryEnd::Complete;
}

bool CHttpFileClient::GetRanges(const std::string &remoteName, const std::vector<ByteRange> &ranges,
                                const RangeSink &sink, RangeOptions &options)
{
    m_lastReceived = 0;
    m_validators = Validators();
    if (!m_connected)
        return false;
    if (!isSafeRelativeName(remoteName)) {
        m_lastError = "refused unsafe file name";
        return false;
    }
    std::string asked;
    std::uint64_t end = 0;
    std::uint64_t wanted = 0;
    for (const ByteRange &range : ranges) {
        // Ranges that touch or overlap would let a server merge them.
        if (range.length == 0 || (!asked.empty() && range.offset <= end)
            || range.offset + range.length > options.fileSize) {
            m_lastError = "ranges out of order or outside the file";
            return false;
        }
        end = range.offset + range.length;
        wanted += range.length;
        asked += (asked.empty() ? "" : ",") + std::to_string(range.offset) + "-"
            + std::to_string(end - 1);
    }
    if (asked.empty()) {
        m_lastError.clear();
        return true;
    }
    options.wholeInstead = false;
    resetRequestOptions(Validators(), options.version);
    curl().easySetopt(session(), CURLOPT_RANGE, asked.c_str());
    Answer answer;
    ByteRangeReader reader(ranges, options.fileSize, sink);
    CurlTransfer transfer;
    transfer.cancel = m_cancel;
    transfer.minRate = m_minRate;
    // The parts with their boundaries and headers, and no more.
    transfer.maxBytes = wanted + (ranges.size() + 1) * ByteRangeReader::kMaxLine * 4;
    transfer.sink = [&](const char *data, std::size_t size) {
        if (reader.feed(data, size))
            return true;
        answer.refusal = reader.error();
        return false;
    };
    transfer.acceptBody = [&] {
        const std::string version = versionOf(answer.validators);
        const bool otherVersion = !options.version.empty() && version != options.version;
        options.wholeInstead = answer.status == 200 && !otherVersion;
        if (answer.status == 200)
            answer.refusal = otherVersion ? kChanged : kNoParts;
        else if (answer.status != 206)
            answer.refusal = statusFailure(answer.status);
        else if (!answer.contentEncoding.empty() && answer.contentEncoding != "identity")
            answer.refusal =
                "sent with Content-Encoding " + answer.contentEncoding + ", not as the file is";
        else if (otherVersion)
            answer.refusal = kChanged;
        else if (!reader.begin(answer.contentType, answer.contentRange))
            answer.refusal = reader.error();
        return answer.refusal.empty();
    };
    const bool performed = perform(urlOf(remoteName), &transfer, answer);
    m_validators = answer.validators;
    m_lastReceived = transfer.received;
    if (!performed)
        return false;
    if (answer.status != 206) {
        // A whole file without a body never reached acceptBody.
        options.wholeInstead = answer.status == 200;
        m_lastError = answer.status == 200 ? kNoParts : statusFailure(answer.status);
        return false;
    }
    if (!reader.complete()) {
        m_lastError = "the server sent less than the parts asked for";
        return false;
    }
    if (options.version.empty())
        options.version = versionOf(answer.validators);
    return true;
}

bool CHttpFileClient::Close()
{
    if (m_headers)
        curl().slistFreeAll(static_cast<curl_slist *>(m_headers));
    closeSession();
    m_headers = nullptr;
    m_current.clear();
    m_connected = false;
    m_connectionLost = false;
    return true;
}
