#pragma once

#include "curlclient.h"
#include "ftptls.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class IPrompt;

// The update library's client for the maker's FTP server: one login, one
// control connection (a single curl handle, so every request of a run
// reuses it), binary transfers, active mode by default.
//
// All operations return false or empty text on failure. Only Connect tells
// the user anything, through the IPrompt given to the constructor (nothing
// is shown when it is null). A client is used by one thread at a time.
//
// A download is complete only when its data connection ended normally and
// the server then reported the transfer complete; a size the server
// announces (SIZE, or the 150 reply) is not taken as the end of the data:
// SIZE and MDTM only name the version of the file, which a resumed try
// must find again.
//
// Time-outs: connecting gives up after 15 s; a request that waits for an
// answer, or moves less than one byte a second, for the stall time-out
// (30 s, or MORAVEL_FTP_STALL_SECONDS) is aborted; a download slower than
// the minimum rate (setMinRate) is abandoned too. After a failure that
// leaves the server unreachable (time-out, lost or refused connection) the
// client fails every further request at once until the next Connect. A
// cancel flag set from any thread aborts the running request within a
// twentieth of a second, while connecting as well.
//
// Downloads cut off mid-file are taken up again with REST: a file without
// SHA-256 only while SIZE and MDTM are those of the first try
// (curlclient.h); for one with it the SHA-256 over the whole file decides.
class CFtpFileClient : public CCurlFileClient
{
public:
    static constexpr const char *kDefaultUserName = "vaskolt";
    static constexpr const char *kDefaultPassword = "tovrask27";

    // host: "name", "name:port", "ftp://name[:port]" or
    // "ftpes://name[:port]" (TLS required, ftptls.h); an IPv6 literal in
    // brackets; empty means ftpServerHost("") (the environment's
    // MORAVEL_FTP_HOST or the built-in default host).
    explicit CFtpFileClient(IPrompt *prompt = nullptr, const std::string &host = std::string());
    ~CFtpFileClient() override;

    CFtpFileClient(const CFtpFileClient &) = delete;
    CFtpFileClient &operator=(const CFtpFileClient &) = delete;

    // Logs in with the stored user name and password (the login is checked
    // with a request, so a wrong password fails here). A non-empty
    // serverName replaces the stored host first. False at once when already
    // connected. Any failure but a cancel shows the connection-failed
    // message (with the transfer layer's reason and the host; a server
    // without the TLS that is required: a box that says just that) through
    // the prompt. MORAVEL_FTP_VERBOSE=1 traces the FTP dialogue on stderr.
    bool Connect(const std::string &serverName = std::string()) override;

    // Changes the remote current directory ("a/b" relative to the current
    // one, "/a/b" from the server's root, ".." one up; "\" counts as "/").
    // The directory is checked on the server; on failure the current
    // directory stays.
    bool SetCurrentDirectory(const std::string &path) override;

    // True when the remote current directory holds an entry of that name
    // (shell wildcards allowed; "\" or "/" reach into a sub-folder). Reads a
    // fresh listing; the matches stay for FindNextFile.
    bool FindFile(const std::string &name) override;

    // Ends the connection and the session. Always true.
    bool Close() override;

    // Uploads the local file into the remote current directory under its
    // bare file name (the text after the last "/" or, without one, "\").
    bool PutFile(const std::string &localPath);

    // The remote current directory as an absolute path ("/Spelmar/Updates")
    // or as a URL ("ftp://host/Spelmar/Updates"); empty when not connected.
    std::string GetCurrentDirectory() const;
    std::string GetCurrentDirectoryAsURL() const;

    // The next match of the last FindFile, or empty text when there is none
    // (or the client is not connected).
    std::string FindNextFile();

    // Settings. They take effect at the next Connect.
    void setHost(const std::string &host);
    std::string host() const override { return m_host; }
    void setUserName(const std::string &userName) { m_userName = userName; }
    void setPassword(const std::string &password) { m_password = password; }
    // Passive data connections instead of active ones. The default is
    // active unless the environment sets MORAVEL_FTP_PASSIVE=1.
    void setPassive(bool passive) { m_passive = passive; }
    bool passive() const { return m_passive; }
    // TLS for the next sessions (off by default); an "ftpes://" host
    // requires it whatever this says. Under TLS transfers are passive.
    // The CA file comes with setTls. Through an HTTP proxy the control and
    // data connections are tunnels (CONNECT).
    void setTlsMode(FtpTls mode) { m_tlsMode = mode; }
    FtpTls tlsMode() const;
    // Plain FTP stays as it always was.
    void setPlainAllowed(bool) override { }

    // True after a Connect with TLS "offered" to a server that offers none:
    // the session is plain FTP.
    bool plainFallback() const override { return m_plainFallback; }
    // True when the last request failed because TLS is required and the
    // server does not offer it.
    bool tlsRefused() const override;
    bool found() const { return m_found; }
    std::string lastFoundName() const { return m_lastFoundName; }
    // FTP tells nothing of a file's version that a later run could ask
    // with: every GetFile brings the file.
    // Several sessions of one process that wait for the server to connect
    // back (active data connections) stall one another.
    bool allowsSeveralSessions() const override { return m_passive || tlsMode() != FtpTls::Off; }

protected:
    TryEnd tryDownload(const std::string &remoteName, const GetFileOptions &options,
                       CurlTransfer &transfer) override;

private:
    void resetRequestOptions();
    std::string urlFor(const std::vector<std::string> &parts, bool directory) const;
    std::vector<std::string> resolve(const std::string &path) const;
    bool listDirectory(const std::vector<std::string> &dir, std::vector<std::string> &names);
    void refreshCurrentUrl();

    static int onDebug(void *session, int type, char *data, std::size_t size, void *user);
    static std::size_t onReply(char *data, std::size_t size, std::size_t count, void *user);

    bool m_found = false;
    std::string m_host;
    std::string m_userName = kDefaultUserName;
    std::string m_password = kDefaultPassword;
    std::string m_currentUrl;
    std::string m_lastFoundName;
    bool m_passive = false;
    FtpTls m_tlsMode = FtpTls::Off;
    bool m_hostWantsTls = false; // the host was given as "ftpes://"
    bool m_plainFallback = false;
    std::string m_entryPath;                 // login directory as the server reports it
    std::vector<std::string> m_currentParts; // remote current directory below the login directory
    std::vector<std::string> m_finderMatches;
    std::size_t m_finderIndex = 0;
    bool m_hasFinder = false;
};
