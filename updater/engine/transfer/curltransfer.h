#pragma once

#include "curllibrary.h"
#include "filetransfer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

class CReplacingFile;

// What the curl-based clients share: the state of one request and its
// callbacks, the loop that runs a request in short steps, and the download
// of a file in tries that take up where a cut-off try stopped.

// The loaded library; only called once a session exists.
const CurlLibrary &curlApi();

// A client's session: its easy handle and the multi handle it runs in,
// made and ended together. Open makes both unless they exist; false (both
// null, error set) when either cannot be made. Close ends what exists.
bool openCurlSession(void *&session, void *&multi, std::string &error);
void closeCurlSession(void *&session, void *&multi);

// State of one request: where received data go, where sent data come from,
// and whom to tell about progress.
struct CurlTransfer
{
    const std::atomic<bool> *cancel = nullptr;
    IFileTransfer::ProgressCallback progress;
    // Download into a file...
    CReplacingFile *file = nullptr;
    // ...or into memory (listings), bounded.
    std::string *buffer = nullptr;
    std::size_t bufferLimit = 0;
    // Upload source.
    std::FILE *source = nullptr;
    bool sinkFailed = false;
    // Asked once before the first byte of a body is kept; false refuses
    // the body (the request fails, with sinkFailed).
    std::function<bool()> acceptBody;
    bool bodyAccepted = false;
    // Bytes of the file so far (kept from earlier tries included), and the
    // bound above which the download is abandoned (0: none).
    std::uint64_t received = 0;
    std::uint64_t maxBytes = 0;
    // The minimum rate: the current window's start and the bytes received
    // before it; tooSlow once a window fell short.
    IFileTransfer::MinRate minRate;
    std::chrono::steady_clock::time_point windowStart = std::chrono::steady_clock::now();
    std::uint64_t windowStartBytes = 0;
    bool tooSlow = false;
    // The server accepted AUTH TLS (FTP's Connect with TLS when offered).
    bool tlsAccepted = false;

    // False (and tooSlow set) when the window that has just ended brought
    // too little.
    bool keepsMinRate(std::uint64_t done);

    // Sets the write, read and progress callbacks for this transfer.
    void attach(CURL *session);

    static std::size_t write(char *data, std::size_t size, std::size_t count, void *user);
    static std::size_t read(char *data, std::size_t size, std::size_t count, void *user);
    static int onProgress(void *user, curl_off_t total, curl_off_t done, curl_off_t uploadTotal,
                          curl_off_t uploaded);
};

// curl_easy_perform's loop, waiting in short steps: a cancel request ends
// the request at once, in the middle of connecting too. The connections
// stay in the multi handle between requests.
CURLcode runCurlRequest(CURLM *multi, CURL *session, const std::atomic<bool> *cancel);

// Why a request that ended with result failed, as the user reads it:
// what the transfer itself ended it for (too slow, cancelled) first, then
// refusal (a reason of the client's own; may be empty), a stall while
// connected (the error buffer may hold an earlier, harmless complaint of
// the request), else curl's text. serverGone is set when the failure left
// the server unreachable.
std::string requestFailure(CURLcode result, const char *errorBuffer, const std::string &refusal,
                           const CurlTransfer *transfer, const std::atomic<bool> *cancel,
                           bool connected, long stallSeconds, bool &serverGone);

// Failures after which the server cannot be reached any more: waiting for
// it again would only repeat the time-out for every later file.
bool leavesServerUnreachable(CURLcode result);

// A transfer that broke off mid-way (the connection was cut or reset):
// worth taking up again where it stopped.
bool isCutOff(CURLcode result);

// How one try of a download ended.
enum class TryEnd
{
    Complete,
    Unchanged,   // the local copy is still the server's file: it stays
    CutOff,      // worth another try from the bytes kept
    StartAfresh, // the server sent the file from its start again
    Failed
};

// Downloads remoteName into localFolder (see IFileTransfer::GetFile) in
// tries: the first from byte 0, each later one from the bytes kept so far,
// as long as every try brings bytes and at most IFileTransfer::kMaxTries
// of them. tryFrom(transfer, offset) runs one request whose data go to
// transfer. error gets the reason of a failure unless it is already set
// by tryFrom; received the bytes kept.
bool downloadInTries(const std::string &remoteName, const std::string &localFolder,
                     const IFileTransfer::GetFileOptions &options,
                     const IFileTransfer::MinRate &minRate, const std::atomic<bool> *cancel,
                     const std::function<TryEnd(CurlTransfer &, std::uint64_t)> &tryFrom,
                     std::string &error, std::uint64_t &received);
