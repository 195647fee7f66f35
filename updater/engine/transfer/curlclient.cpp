#include "curlclient.h"

#include "curltransfer.h"
#include "curlurl.h"
#include "ftpsettings.h"

#include "files/replacingfile.h"
#include "files/sha256.h"
#include "revision/relinfo.h"

#include <QByteArray>

#include <cerrno>
#include <sys/stat.h>

namespace {

constexpr long kConnectTimeoutSeconds = 15;
constexpr long kReceiveBufferBytes = 256 * 1024;

std::string lowerHex(const std::string &hex)
{
    return QByteArray::fromStdString(hex).toLower().toStdString();
}

} // namespace

CCurlFileClient::CCurlFileClient(IPrompt *prompt)
    : m_prompt(prompt)
    , m_stallSeconds(ftpStallSecondsFromEnvironment())
{
}

CCurlFileClient::~CCurlFileClient()
{
    closeSession();
}

const CurlLibrary &CCurlFileClient::curl()
{
    return curlApi();
}

bool CCurlFileClient::openSession()
{
    if (m_session)
        return true;
    const CurlLibrary *library = CurlLibrary::get(&m_lastError);
    if (!library)
        return false;
    m_session = library->easyInit();
    m_multi = m_session ? library->multiInit() : nullptr;
    if (!m_multi) {
        closeSession();
        m_lastError = "cannot create a transfer handle";
        return false;
    }
    return true;
}

void CCurlFileClient::closeSession()
{
    if (m_session)
        curl().easyCleanup(session());
    if (m_multi)
        curl().multiCleanup(static_cast<CURLM *>(m_multi));
    m_session = nullptr;
    m_multi = nullptr;
}

void CCurlFileClient::setCommonOptions(const char *protocols)
{
    CURL *handle = session();
    curl().easySetopt(handle, CURLOPT_PROTOCOLS_STR, protocols);
    curl().easySetopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl().easySetopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl().easySetopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl().easySetopt(handle, CURLOPT_LOW_SPEED_TIME, m_stallSeconds);
    // Fewer, larger reads and writes per file.
    curl().easySetopt(handle, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    curl().easySetopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl().easySetopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!m_caFile.empty())
        curl().easySetopt(handle, CURLOPT_CAINFO, m_caFile.c_str());
    if (!m_proxy.empty())
        curl().easySetopt(handle, CURLOPT_PROXY, m_proxy.c_str());
    curl().easySetopt(handle, CURLOPT_ERRORBUFFER, m_errorBuffer);
    curl().easySetopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl().easySetopt(handle, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::onProgress);
    curl().easySetopt(handle, CURLOPT_XFERINFODATA, nullptr);
}

bool CCurlFileClient::performRequest(const std::string &url, CurlTransfer *transfer,
                                     const std::string &refusal)
{
    if (m_connectionLost) {
        m_lastError = "the server stopped answering earlier in this run";
        return false;
    }
    CURL *handle = session();
    curl().easySetopt(handle, CURLOPT_URL, url.c_str());
    if (transfer) {
        transfer->attach(handle);
        transfer->sinkFailed = false;
        transfer->bodyAccepted = false;
    }
    m_errorBuffer[0] = '\0';
    const CURLcode result = runCurlRequest(static_cast<CURLM *>(m_multi), handle, m_cancel);
    m_lastResult = result;
    if (result == CURLE_OK) {
        m_lastError.clear();
        return true;
    }
    m_lastError = failure(result, transfer, refusal);
    if (!(m_cancel && m_cancel->load()) && leavesServerUnreachable(result))
        m_connectionLost = true;
    if (!m_proxy.empty() && !m_connected)
        m_lastError += " (through the proxy " + proxyForMessages(m_proxy) + ")";
    return false;
}

std::string CCurlFileClient::serverFault(int, const CurlTransfer *) const
{
    return std::string();
}

std::string CCurlFileClient::failure(int code, const CurlTransfer *transfer,
                                     const std::string &refusal) const
{
    const auto result = static_cast<CURLcode>(code);
    // What the transfer itself ended the request for comes first.
    if (transfer && transfer->tooSlow)
        return "slower than " + std::to_string(transfer->minRate.bytesPerSecond)
            + " bytes a second over " + std::to_string(transfer->minRate.windowSeconds)
            + " s; download abandoned";
    if (result == CURLE_ABORTED_BY_CALLBACK || (m_cancel && m_cancel->load()))
        return "cancelled";
    if (!refusal.empty())
        return refusal;
    if (transfer && transfer->sinkFailed && transfer->maxBytes > 0
        && transfer->received > transfer->maxBytes)
        return "larger than " + std::to_string(transfer->maxBytes) + " bytes; download abandoned";
    if (transfer && transfer->sinkFailed && transfer->file && !transfer->file->error().empty())
        return transfer->file->error();
    const std::string fault = serverFault(result, transfer);
    if (!fault.empty())
        return fault;
    // The error buffer may hold an earlier, harmless complaint of a
    // request that then stalled while connected.
    if (result == CURLE_OPERATION_TIMEDOUT && m_connected)
        return "the server sent nothing for " + std::to_string(m_stallSeconds)
            + " s (stall time-out)";
    return m_errorBuffer[0] ? std::string(m_errorBuffer) : curl().easyStrerror(result);
}

bool CCurlFileClient::download(const std::string &remoteName, const GetFileOptions &options,
                               CurlTransfer &transfer)
{
    transfer.cancel = m_cancel;
    transfer.progress = options.progress;
    transfer.maxBytes = options.maxBytes;
    transfer.minRate = m_minRate;
    m_version.clear();
    TryEnd end = TryEnd::Failed;
    for (int tries = 1; tries <= kMaxTries; ++tries) {
        // Bytes of a version that nothing names are not joined to others.
        if (transfer.received > 0 && m_version.empty() && options.expectedSha256.empty()
            && !transfer.restart())
            break;
        transfer.tryReceived = 0;
        end = tryDownload(remoteName, options, transfer);
        if (end == TryEnd::StartAfresh && !transfer.startedAfresh && transfer.restart()) {
            transfer.startedAfresh = true;
            continue;
        }
        if (end != TryEnd::CutOff || transfer.tryReceived == 0 || (m_cancel && m_cancel->load()))
            break;
    }
    m_lastReceived = transfer.received;
    if (end == TryEnd::Unchanged) {
        m_notModified = true;
        m_lastError.clear();
        return true;
    }
    return end == TryEnd::Complete;
}

bool CCurlFileClient::startDownload(const std::string &remoteName, const GetFileOptions &options)
{
    m_lastReceived = 0;
    m_notModified = false;
    m_validators = Validators();
    if (!m_connected)
        return false;
    if (!isSafeRelativeName(remoteName)) {
        m_lastError = "refused unsafe file name";
        return false;
    }
    if (!options.expectedSha256.empty() && !isSha256Text(options.expectedSha256)) {
        m_lastError = "malformed SHA-256";
        return false;
    }
    return true;
}

bool CCurlFileClient::GetFile(const std::string &remoteName, const std::string &localFolder,
                              const GetFileOptions &options)
{
    if (!startDownload(remoteName, options))
        return false;
    if (localFolder.empty()) {
        // "/" names the root on purpose; empty text names nothing.
        m_lastError = "no local folder";
        return false;
    }
    std::string folder = localFolder;
    if (folder.back() == '/' || folder.back() == '\\')
        folder.pop_back();
    // The folder itself is made (one level) only when it is missing.
    CReplacingFile file(folder.empty() ? "/" : folder, remoteName, !options.expectedSha256.empty());
    if (!file.open()
        && !(file.lastErrno() == ENOENT && !folder.empty() && ::mkdir(folder.c_str(), 0777) == 0
             && file.open())) {
        m_lastError = file.error();
        return false;
    }
    CurlTransfer transfer;
    transfer.file = &file;
    if (!download(remoteName, options, transfer))
        return false;
    if (m_notModified) {
        file.discard();
        return true;
    }
    if (!options.expectedSha256.empty() && file.sha256Hex() != lowerHex(options.expectedSha256)) {
        m_lastError = "SHA-256 mismatch for " + remoteName;
        return false;
    }
    if (!file.commit(options.syncToDisk)) {
        m_lastError = file.error();
        return false;
    }
    return true;
}

bool CCurlFileClient::GetBytes(const std::string &remoteName, std::string &bytes,
                               const GetFileOptions &options)
{
    bytes.clear();
    if (!startDownload(remoteName, options))
        return false;
    if (options.maxBytes == 0) {
        m_lastError = "no size bound for a download into memory";
        return false;
    }
    CurlTransfer transfer;
    transfer.buffer = &bytes;
    const bool arrived = download(remoteName, options, transfer);
    if (!arrived || m_notModified) {
        bytes.clear();
        return arrived;
    }
    if (!options.expectedSha256.empty()) {
        Sha256 digest;
        digest.add(bytes.data(), bytes.size());
        if (digest.hex() != lowerHex(options.expectedSha256)) {
            bytes.clear();
            m_lastError = "SHA-256 mismatch for " + remoteName;
            return false;
        }
    }
    return true;
}
