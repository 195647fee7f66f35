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

// The state of one curl request and its callbacks, and the loop that runs
// a request in short steps; CCurlFileClient (curlclient.h) builds on them.

// The loaded library; only called once a session exists.
const CurlLibrary &curlApi();

// State of one request: where received data go, where sent data come from,
// and whom to tell about progress.
struct CurlTransfer
{
    const std::atomic<bool> *cancel = nullptr;
    IFileTransfer::ProgressCallback progress;
    // Received data go into a file or into memory, and count against
    // maxBytes (0: no bound) beyond which the request is abandoned.
    CReplacingFile *file = nullptr;
    std::string *buffer = nullptr;
    // Or they go to sink, which may refuse them (false).
    std::function<bool(const char *data, std::size_t size)> sink;
    std::uint64_t maxBytes = 0;
    // Upload source.
    std::FILE *source = nullptr;
    bool sinkFailed = false;
    // Asked once before the first byte of a body is kept; false refuses
    // the body (the request fails, with sinkFailed).
    std::function<bool()> acceptBody;
    bool bodyAccepted = false;
    // Bytes kept so far (of earlier tries too), and of the running try.
    std::uint64_t received = 0;
    std::uint64_t tryReceived = 0;
    // The download was started again from its first byte once.
    bool startedAfresh = false;
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
    // Drops every byte kept: the data start again from the first byte.
    bool restart();

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

// Failures after which the server cannot be reached any more: waiting for
// it again would only repeat the time-out for every later file.
bool leavesServerUnreachable(CURLcode result);

// A transfer that broke off mid-way (the connection was cut or reset):
// worth taking up again where it stopped.
bool isCutOff(CURLcode result);
