#include "curltransfer.h"

#include "revision/relinfo.h"
#include "files/replacingfile.h"

#include <QByteArray>

#include <cerrno>
#include <sys/stat.h>

namespace {

// Longest wait for the network before the cancel flag is looked at again;
// libcurl's own progress callback comes only once a second while nothing
// arrives.
constexpr int kCancelPollMs = 50;

} // namespace

const CurlLibrary &curlApi()
{
    return *CurlLibrary::get();
}

bool openCurlSession(void *&session, void *&multi, std::string &error)
{
    if (session)
        return true;
    const CurlLibrary *library = CurlLibrary::get(&error);
    if (!library)
        return false;
    session = library->easyInit();
    multi = session ? library->multiInit() : nullptr;
    if (!multi) {
        closeCurlSession(session, multi);
        error = "cannot create a transfer handle";
    }
    return session != nullptr;
}

void closeCurlSession(void *&session, void *&multi)
{
    if (session)
        curlApi().easyCleanup(static_cast<CURL *>(session));
    if (multi)
        curlApi().multiCleanup(static_cast<CURLM *>(multi));
    session = nullptr;
    multi = nullptr;
}

bool CurlTransfer::keepsMinRate(std::uint64_t done)
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

void CurlTransfer::attach(CURL *session)
{
    const CurlLibrary &curl = curlApi();
    curl.easySetopt(session, CURLOPT_XFERINFODATA, this);
    if (file || buffer) {
        curl.easySetopt(session, CURLOPT_WRITEFUNCTION, &CurlTransfer::write);
        curl.easySetopt(session, CURLOPT_WRITEDATA, this);
    }
    if (source) {
        curl.easySetopt(session, CURLOPT_READFUNCTION, &CurlTransfer::read);
        curl.easySetopt(session, CURLOPT_READDATA, this);
    }
}

std::size_t CurlTransfer::write(char *data, std::size_t size, std::size_t count, void *user)
{
    auto *transfer = static_cast<CurlTransfer *>(user);
    const std::size_t bytes = size * count;
    if (transfer->cancel && transfer->cancel->load())
        return 0;
    if (!transfer->bodyAccepted) {
        if (transfer->acceptBody && !transfer->acceptBody()) {
            transfer->sinkFailed = true;
            return 0;
        }
        transfer->bodyAccepted = true;
    }
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

std::size_t CurlTransfer::read(char *data, std::size_t size, std::size_t count, void *user)
{
    auto *transfer = static_cast<CurlTransfer *>(user);
    if (transfer->cancel && transfer->cancel->load())
        return CURL_READFUNC_ABORT;
    const std::size_t got = std::fread(data, 1, size * count, transfer->source);
    if (got == 0 && std::ferror(transfer->source)) {
        transfer->sinkFailed = true;
        return CURL_READFUNC_ABORT;
    }
    return got;
}

int CurlTransfer::onProgress(void *user, curl_off_t total, curl_off_t done, curl_off_t uploadTotal,
                             curl_off_t uploaded)
{
    auto *transfer = static_cast<CurlTransfer *>(user);
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

CURLcode runCurlRequest(CURLM *multi, CURL *session, const std::atomic<bool> *cancel)
{
    const CurlLibrary &curl = curlApi();
    if (curl.multiAddHandle(multi, session) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl.multiPerform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0) {
            int queued = 0;
            CURLMsg *message = curl.multiInfoRead(multi, &queued);
            result =
                message && message->msg == CURLMSG_DONE ? message->data.result : CURLE_FAILED_INIT;
            break;
        }
        if (cancel && cancel->load()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (curl.multiPoll(multi, nullptr, 0, kCancelPollMs, nullptr) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
    }
    curl.multiRemoveHandle(multi, session);
    return result;
}

std::string requestFailure(CURLcode result, const char *errorBuffer, const std::string &refusal,
                           const CurlTransfer *transfer, const std::atomic<bool> *cancel,
                           bool connected, long stallSeconds, bool &serverGone)
{
    serverGone = false;
    if (transfer && transfer->tooSlow)
        return "slower than " + std::to_string(transfer->minRate.bytesPerSecond)
            + " bytes a second over " + std::to_string(transfer->minRate.windowSeconds)
            + " s; download abandoned";
    if (result == CURLE_ABORTED_BY_CALLBACK || (cancel && cancel->load()))
        return "cancelled";
    serverGone = leavesServerUnreachable(result);
    if (!refusal.empty())
        return refusal;
    if (result == CURLE_OPERATION_TIMEDOUT && connected)
        return "the server sent nothing for " + std::to_string(stallSeconds)
            + " s (stall time-out)";
    return errorBuffer && errorBuffer[0] ? std::string(errorBuffer)
                                         : curlApi().easyStrerror(result);
}

bool leavesServerUnreachable(CURLcode result)
{
    // A broken data connection is not one of them (the next request may
    // well work); a server that has gone away shows as a refused
    // connection at that next request.
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_LOGIN_DENIED: return true;
    default: return false;
    }
}

bool isCutOff(CURLcode result)
{
    switch (result) {
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_SSL_CONNECT_ERROR: return true;
    default: return false;
    }
}

bool downloadInTries(const std::string &remoteName, const std::string &localFolder,
                     const IFileTransfer::GetFileOptions &options,
                     const IFileTransfer::MinRate &minRate, const std::atomic<bool> *cancel,
                     const std::function<TryEnd(CurlTransfer &, std::uint64_t)> &tryFrom,
                     std::string &error, std::uint64_t &received)
{
    received = 0;
    error.clear();
    if (!isSafeRelativeName(remoteName)) {
        error = "refused unsafe file name";
        return false;
    }
    if (localFolder.empty()) {
        // "/" names the root on purpose; empty text names nothing.
        error = "no local folder";
        return false;
    }
    if (!options.expectedSha256.empty() && !isSha256Text(options.expectedSha256)) {
        error = "malformed SHA-256";
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
        error = file.error();
        return false;
    }
    CurlTransfer transfer;
    transfer.cancel = cancel;
    transfer.progress = options.progress;
    transfer.file = &file;
    transfer.maxBytes = options.maxBytes;
    transfer.minRate = minRate;

    TryEnd end = TryEnd::Failed;
    bool startedAfresh = false;
    for (int tries = 1; tries <= IFileTransfer::kMaxTries; ++tries) {
        const std::uint64_t kept = transfer.received;
        transfer.sinkFailed = false;
        transfer.bodyAccepted = false;
        end = tryFrom(transfer, kept);
        if (end == TryEnd::StartAfresh && !startedAfresh && file.restart()) {
            // A server that cannot send a part: once more from the start.
            startedAfresh = true;
            transfer.received = 0;
            error.clear();
            continue;
        }
        if (end != TryEnd::CutOff || transfer.received == kept || (cancel && cancel->load()))
            break;
    }
    received = transfer.received;
    if (end == TryEnd::Unchanged) {
        file.discard();
        return true;
    }
    if (end != TryEnd::Complete) {
        if (transfer.sinkFailed && options.maxBytes > 0 && transfer.received > options.maxBytes)
            error =
                "larger than " + std::to_string(options.maxBytes) + " bytes; download abandoned";
        else if (transfer.sinkFailed && !file.error().empty())
            error = file.error();
        return false;
    }
    if (!options.expectedSha256.empty()
        && file.sha256Hex()
            != QByteArray::fromStdString(options.expectedSha256).toLower().toStdString()) {
        error = "SHA-256 mismatch for " + remoteName;
        return false;
    }
    if (!file.commit(options.syncToDisk)) {
        error = file.error();
        return false;
    }
    return true;
}
