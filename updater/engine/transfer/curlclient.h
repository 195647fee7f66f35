#pragma once

#include "curllibrary.h"
#include "filetransfer.h"

#include <atomic>
#include <cstdint>
#include <string>

struct CurlTransfer;

// What the FTP and the HTTP client share: one curl session (an easy
// handle in a multi handle of its own, so a run's requests reuse one
// connection), the run of a request in short steps that a cancel flag
// ends at once, the connect and stall time-outs, the minimum rate, the
// reasons of failures, and the download of a file, into a folder or into
// memory, in tries.
//
// A download cut off mid-way is taken up where it stopped (at most
// kMaxTries tries, each of which must bring bytes) only while the server's
// answers show the same version of the file as the first answer did
// (HTTP: its ETag or Last-Modified; FTP, for a file without SHA-256: its
// MDTM and SIZE); an answer for
// another version, or one that is not the part asked for, starts the file
// again from its first byte, once. A file whose version nothing tells is
// taken up only when its SHA-256 is known (it decides at the end); without
// one every try starts from the first byte. So a file that changes on the
// server while it arrives is kept whole in one version or not at all.
class CCurlFileClient : public IFileTransfer
{
public:
    ~CCurlFileClient() override;
    CCurlFileClient(const CCurlFileClient &) = delete;
    CCurlFileClient &operator=(const CCurlFileClient &) = delete;

    // The target is replaced only by a complete file (matching
    // expectedSha256 when given): a failed or cancelled download leaves it
    // untouched. Names that are not safe relative names
    // (isSafeRelativeName) and an empty localFolder are refused; the
    // folder itself is made (one level) when it is missing.
    using IFileTransfer::GetFile;
    bool GetFile(const std::string &remoteName, const std::string &localFolder,
                 const GetFileOptions &options) override;
    bool GetBytes(const std::string &remoteName, std::string &bytes,
                  const GetFileOptions &options) override;

    void setTls(const TlsSettings &tls) override { m_caFile = tls.caFile; }
    void setProxy(const std::string &proxy) override { m_proxy = proxy; }
    void setMinRate(const MinRate &rate) override { m_minRate = rate; }
    MinRate minRate() const { return m_minRate; }
    void setCancelFlag(const std::atomic<bool> *cancel) override { m_cancel = cancel; }

    bool isConnected() const override { return m_connected; }
    bool connectionLost() const override { return m_connectionLost; }
    std::string lastError() const override { return m_lastError; }
    std::uint64_t lastReceived() const override { return m_lastReceived; }
    Validators lastValidators() const override { return m_validators; }
    bool notModified() const override { return m_notModified; }

protected:
    // How one try of a download ended.
    enum class TryEnd
    {
        Complete,
        Unchanged,   // the local copy is still the server's file: it stays
        CutOff,      // worth another try from the bytes kept
        StartAfresh, // worth another try from the first byte
        Failed
    };

    explicit CCurlFileClient(IPrompt *prompt);

    // One try of a download of remoteName whose data go to transfer, from
    // byte transfer.received on (0: the whole file). A try from byte 0
    // keeps in m_version what tells the file's version (empty: nothing
    // does); a later one takes only an answer of that version.
    virtual TryEnd tryDownload(const std::string &remoteName, const GetFileOptions &options,
                               CurlTransfer &transfer) = 0;

    // Makes the session unless it exists; false (m_lastError set) when it
    // cannot be made. closeSession ends it.
    bool openSession();
    void closeSession();
    CURL *session() const { return static_cast<CURL *>(m_session); }
    static const CurlLibrary &curl();
    // After curl_easy_reset: the options every request has (protocols,
    // time-outs, stall bound, buffer, CA file, proxy, error buffer, the
    // progress callback).
    void setCommonOptions(const char *protocols);
    // Runs one request for url (with transfer's data, when given). False
    // with the reason in m_lastError: refusal when it is not empty by the
    // end of the request (a reason the client found in the answer).
    bool performRequest(const std::string &url, CurlTransfer *transfer,
                        const std::string &refusal = std::string());
    // What a failure with curl's result really was when curl's own words
    // name something else (the server's fault as "Out of memory");
    // empty: curl's words stand.
    virtual std::string serverFault(int result, const CurlTransfer *transfer) const;

    IPrompt *m_prompt = nullptr;
    bool m_connected = false;
    bool m_connectionLost = false;
    std::string m_lastError;
    std::uint64_t m_lastReceived = 0;
    Validators m_validators;
    bool m_notModified = false;
    int m_lastResult = 0; // the transfer layer's code of the last request
    long m_stallSeconds;
    MinRate m_minRate;
    std::string m_caFile;
    std::string m_proxy;
    const std::atomic<bool> *m_cancel = nullptr;
    std::string m_version; // the running download's version (tryDownload)

private:
    // Resets the last download's state and checks the name and the
    // SHA-256 text; false with m_lastError set.
    bool startDownload(const std::string &remoteName, const GetFileOptions &options);
    bool download(const std::string &remoteName, const GetFileOptions &options,
                  CurlTransfer &transfer);
    std::string failure(int result, const CurlTransfer *transfer, const std::string &refusal) const;

    void *m_session = nullptr; // the curl easy handle
    void *m_multi = nullptr;   // the multi handle it runs in
    char m_errorBuffer[CURL_ERROR_SIZE + 1] = {};
};
