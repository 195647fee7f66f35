#pragma once

#include "curlclient.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct CurlTransfer;

// The update library's client for a web server, CDN or object store that
// serves the published update folder as static files: host texts
// "https://HOST[:PORT][/PREFIX]", the server path and the file names
// appended (the prefix is where the published folders lie).
//
// One curl handle a client, so a run's requests share one connection
// (HTTP/2 where the server offers it). The server's certificate is checked
// against the system's store or the CA file, and against its host name.
// "http://" is refused unless plain transfers are allowed (a signing key
// in force carries the integrity then).
//
// What a server sends is taken only when it is what was asked for: a
// status other than 200 (206 for a part, 304 for an unchanged file asked
// with its validators) fails with the status in the reason, and its page
// is not kept; redirects are followed to https on the same server only,
// at most kMaxRedirects of them; no content coding is asked for, and a
// body sent with one is refused; a body shorter than its Content-Length
// is cut off, one beyond maxBytes abandoned. The bounds of the FTP client
// apply as well: the connect and stall time-outs, the minimum rate, the
// cancel flag. A cut-off download is taken up with a Range request that
// names the version of the first answer (If-Range: its ETag, else its
// Last-Modified); a server that sends the whole file instead (the file
// changed, or it sends no parts) is read from the start, once
// (curlclient.h).
//
// Connect sends one HEAD request to the prefix (any answer proves the
// server and its certificate); SetCurrentDirectory sends nothing (HTTP has
// no folders: a missing one shows at the first file); FindFile sends a
// HEAD request for the name.
class CHttpFileClient : public CCurlFileClient
{
public:
    static constexpr long kMaxRedirects = 3;

    CHttpFileClient(IPrompt *prompt, const std::string &hostText);
    ~CHttpFileClient() override;

    CHttpFileClient(const CHttpFileClient &) = delete;
    CHttpFileClient &operator=(const CHttpFileClient &) = delete;

    bool Connect(const std::string &serverName = std::string()) override;
    bool SetCurrentDirectory(const std::string &path) override;
    bool FindFile(const std::string &name) override;
    bool Close() override;
    // Several ranges go in one request; the answer is read by
    // ByteRangeReader.
    bool rangesOffered() const override { return true; }
    bool GetRanges(const std::string &remoteName, const std::vector<ByteRange> &ranges,
                   const RangeSink &sink, RangeOptions &options) override;

    std::string host() const override;
    void setPlainAllowed(bool allowed) override { m_plainAllowed = allowed; }

    bool plainFallback() const override { return false; }
    bool tlsRefused() const override { return false; }
    bool allowsSeveralSessions() const override { return true; }

    // The URL a file name of the current directory is fetched from.
    std::string urlOf(const std::string &name) const;

protected:
    TryEnd tryDownload(const std::string &remoteName, const GetFileOptions &options,
                       CurlTransfer &transfer) override;
    std::string serverFault(int result, const CurlTransfer *transfer) const override;

private:
    struct Answer;

    void setHost(const std::string &hostText);
    // ifUnchanged: asked "not modified" with; ifRange: the version a part
    // must be of.
    void resetRequestOptions(const Validators &ifUnchanged, const std::string &ifRange);
    // Runs a request, following the redirects that may be followed; false
    // on a transport failure or a refused redirect (m_lastError says why).
    bool perform(const std::string &url, CurlTransfer *transfer, Answer &answer);
    std::string statusFailure(long status) const;

    static std::size_t onHeader(char *data, std::size_t size, std::size_t count, void *user);

    std::string m_hostText;             // as given
    std::string m_shownHost;            // as given, without user data
    std::string m_origin;               // "https://host[:port]"
    std::string m_sameServer;           // CurlUrl::origin() of the host
    std::vector<std::string> m_prefix;  // folders of the prefix
    std::vector<std::string> m_current; // the current directory below the prefix
    bool m_plain = false;               // an http:// host
    bool m_plainAllowed = false;
    void *m_headers = nullptr; // the request's extra header lines
};
