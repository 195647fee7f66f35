#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class IPrompt;

// What the update engine needs of a file server: connect, change to the
// update folder, test for a file, download a file into a local folder,
// close. CFtpFileClient (FTP, FTPS), CHttpFileClient (HTTPS, HTTP) and
// CFolderFileClient (a folder on this machine, "file://")
// implement it, CMirrorTransfer puts several of them behind one; the update
// check, the download run, the release notes and the signature check see
// only this interface. makeFileTransfer (transferfactory.h) is the one
// place that reads a host text's scheme.
//
// All operations return false or empty text on failure, with the reason in
// lastError(). Only Connect tells the user anything (through the prompt the
// implementation was made with). An object is used by one thread at a time.
class IFileTransfer
{
public:
    // Called during transfers with the bytes done so far and the expected
    // total (0 when the server does not say).
    using ProgressCallback = std::function<void(std::uint64_t done, std::uint64_t total)>;

    // What a server said about a file's version (HTTP's ETag and
    // Last-Modified). Empty when it said nothing.
    struct Validators
    {
        std::string etag;
        std::string lastModified;
        bool empty() const { return etag.empty() && lastModified.empty(); }
    };

    struct GetFileOptions
    {
        ProgressCallback progress;
        // 64 hex digits (either case) or empty. When set, a download whose
        // SHA-256 differs counts as failed and the local file stays as it was.
        std::string expectedSha256;
        // False: the data are not forced to disk before the rename. A caller
        // that fetches many files syncs the file system once afterwards.
        bool syncToDisk = true;
        // Above 0: a file that grows beyond this many bytes is abandoned
        // while it arrives (the download fails, nothing is kept).
        std::uint64_t maxBytes = 0;
        // The validators of the local file's copy (ifUnchanged): a server
        // that can tell answers "not modified" without a body when its file
        // is still that one; GetFile then succeeds, the local file stays
        // as it is, and notModified() is true.
        Validators ifUnchanged;
    };

    // The slowest a file may arrive: a download that brings fewer than
    // bytesPerSecond * windowSeconds bytes in any window of windowSeconds
    // (counted from the request's start, window after window) is abandoned.
    // 0 in either switches the rule off.
    struct MinRate
    {
        std::uint64_t bytesPerSecond = 0;
        long windowSeconds = 0;
    };

    // TLS settings of every transport: the certificates trusted.
    struct TlsSettings
    {
        std::string caFile; // a PEM file; empty: the system's CA store
    };

    // A download cut off mid-file is taken up where it stopped for as long
    // as every try brings bytes and the server shows the same version of
    // the file, at most this many tries in all.
    static constexpr int kMaxTries = 20;

    virtual ~IFileTransfer() = default;

    // Reaches the server (a non-empty serverName replaces the stored host
    // first). False at once when already connected. Any failure but a
    // cancel shows the connection-failed message through the prompt.
    virtual bool Connect(const std::string &serverName = std::string()) = 0;
    // Changes the remote current directory ("a/b" relative to the current
    // one, "/a/b" from the top, ".." one up; "\" counts as "/").
    virtual bool SetCurrentDirectory(const std::string &path) = 0;
    // True when the remote current directory holds a file of that name.
    virtual bool FindFile(const std::string &name) = 0;
    // Downloads remoteName (relative to the remote current directory; "\"
    // and "/" separate sub-folders) into localFolder under the same
    // relative name. The target is replaced only by a complete file
    // (matching expectedSha256 when given): a failed or cancelled download
    // leaves it untouched. Unsafe names and an empty folder are refused.
    virtual bool GetFile(const std::string &remoteName, const std::string &localFolder,
                         const GetFileOptions &options) = 0;
    bool GetFile(const std::string &remoteName, const std::string &localFolder)
    {
        return GetFile(remoteName, localFolder, GetFileOptions());
    }
    // Downloads remoteName into bytes (replacing them) instead of a file,
    // bounded by options.maxBytes (which must be above 0), with
    // expectedSha256 and ifUnchanged as GetFile has them: an answer "not
    // modified" leaves bytes empty and notModified() true. Writes nothing
    // into any folder of the installation.
    virtual bool GetBytes(const std::string &remoteName, std::string &bytes,
                          const GetFileOptions &options) = 0;
    // Ends the connection. Always true.
    virtual bool Close() = 0;

    // Parts of a file: the bytes [offset, offset + length).
    struct ByteRange
    {
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
    };
    // Gets each part's bytes, in the order asked, a piece at a time with
    // the offset in the file of its first byte; false stops the request.
    using RangeSink = std::function<bool(std::uint64_t offset, const char *data, std::size_t size)>;
    struct RangeOptions
    {
        // The file's size, as every part must name it.
        std::uint64_t fileSize = 0;
        // The version the parts must be of (HTTP's If-Range): set by the
        // first answer when empty, then asked for.
        std::string version;
        // Set by a failed request that the server answered with the whole
        // file: it ignores Range, or (for several ranges) takes one only.
        bool wholeInstead = false;
    };
    // True when the server can send parts of a file (rangesOffered) and
    // GetRanges fetches them: ranges in ascending order, not touching,
    // each inside the file; the parts arriving must be exactly those, of
    // the version asked for. A server that sends the whole file instead,
    // another part or more than asked fails the request (a sink that
    // has taken part of the bytes keeps them). Not offered by default.
    virtual bool rangesOffered() const { return false; }
    virtual bool GetRanges(const std::string &remoteName, const std::vector<ByteRange> &ranges,
                           const RangeSink &sink, RangeOptions &options)
    {
        (void)remoteName, (void)ranges, (void)sink, (void)options;
        return false;
    }

    // Servers that stand in for each other (CMirrorTransfer): how many,
    // and useMirror(i) pins every later step to mirror i alone (counting
    // from 0 in the given order) until useMirror(kAllMirrors) lets the
    // steps go to any of them again, mirror i asked first. A single
    // server is mirror 0.
    static constexpr std::size_t kAllMirrors = static_cast<std::size_t>(-1);
    virtual std::size_t mirrorCount() const { return 1; }
    virtual void useMirror(std::size_t index) { (void)index; }

    // The server as given (several for mirrors), for messages. Never holds
    // a password.
    virtual std::string host() const = 0;
    // TLS settings and the proxy ("[scheme://][user:password@]host[:port]";
    // empty: the environment's proxy variables). They take effect at the
    // next Connect.
    virtual void setTls(const TlsSettings &tls) = 0;
    virtual void setProxy(const std::string &proxy) = 0;
    // The minimum rate of downloads (off by default).
    virtual void setMinRate(const MinRate &rate) = 0;
    // Plain, unencrypted transfers to a server that is named so: allowed
    // only while a signature carries the integrity. Off by default.
    virtual void setPlainAllowed(bool allowed) = 0;
    // A flag that, when it becomes true, aborts the running and every later
    // request (they fail). Owned by the caller; may be null.
    virtual void setCancelFlag(const std::atomic<bool> *cancel) = 0;

    virtual bool isConnected() const = 0;
    // True after a Connect with TLS "offered" to an FTP server that offers
    // none: the session is plain FTP.
    virtual bool plainFallback() const = 0;
    // True when the last request failed because TLS is required and the
    // server does not offer it.
    virtual bool tlsRefused() const = 0;
    // True after a failure that left the server unreachable; every request
    // fails at once until Close or Connect.
    virtual bool connectionLost() const = 0;
    // Readable reason of the last failed operation; empty after a success.
    virtual std::string lastError() const = 0;
    // Bytes the last GetFile received, kept or not: above 0 the file exists.
    virtual std::uint64_t lastReceived() const = 0;
    // The validators the server sent with the last GetFile, and whether
    // that GetFile was answered "not modified".
    virtual Validators lastValidators() const = 0;
    virtual bool notModified() const = 0;
    // True when further transfers of the same settings may run beside
    // this one, each on a connection of its own.
    virtual bool allowsSeveralSessions() const = 0;
};

// The connection-failed box for a transfer whose Connect failed: the
// transfer's reason and host, or, when TLS was required and not offered,
// a box that says just that. Nothing when prompt is null.
void tellConnectFailed(IPrompt *prompt, const IFileTransfer &transfer);
