#include "curltransfer.h"

#include "files/replacingfile.h"

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
    if (file || buffer || sink) {
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
    if (transfer->maxBytes > 0 && transfer->received + bytes > transfer->maxBytes) {
        transfer->received += bytes;
        transfer->sinkFailed = true;
        return 0;
    }
    if (transfer->sink) {
        if (!transfer->sink(data, bytes)) {
            transfer->sinkFailed = true;
            return 0;
        }
    } else if (transfer->buffer)
        transfer->buffer->append(data, bytes);
    else if (!transfer->file->write(data, bytes)) {
        transfer->sinkFailed = true;
        return 0;
    }
    transfer->received += bytes;
    transfer->tryReceived += bytes;
    return bytes;
}

bool CurlTransfer::restart()
{
    if (file && !file->restart())
        return false;
    if (buffer)
        buffer->clear();
    received = 0;
    windowStartBytes = 0;
    return true;
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
    if (!transfer->keepsMinRate(transfer->received))
        return 1;
    if (transfer->progress) {
        if (transfer->source)
            transfer->progress(static_cast<std::uint64_t>(uploaded),
                               static_cast<std::uint64_t>(uploadTotal));
        else {
            // curl counts the running request; the bytes of earlier tries
            // come before it.
            const std::uint64_t before = transfer->received - transfer->tryReceived;
            transfer->progress(before + static_cast<std::uint64_t>(done),
                               total > 0 ? before + static_cast<std::uint64_t>(total) : 0);
        }
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
