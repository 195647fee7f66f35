#pragma once

#include "filetransfer.h"

#include <functional>
#include <memory>
#include <vector>

// Several servers that hold the same update folder, behind one transfer.
//
// Order: the mirrors are tried as they were given; the one that last
// succeeded is asked first for everything after it, for as long as this
// object lives (a check, a download run, a release-notes fetch). When a
// mirror cannot be reached, or a folder change, a file test or a download
// fails on it, the same step is tried on the others in their given order,
// and the first that succeeds goes on with the run; the step fails only
// when it failed on every mirror, with every mirror's reason. So the files
// of one run may come from different mirrors: the signature and each
// file's SHA-256 decide, not the server. While useMirror pins the steps to
// one mirror (a revision file and its signature come from one server),
// they run on that one alone and fail with its reason.
//
// A mirror is connected when it is first needed; the folder changes made
// so far are made on it first. The members tell nothing themselves; the
// connection-failed box comes once, when no mirror can be reached.
class CMirrorTransfer : public IFileTransfer
{
public:
    CMirrorTransfer(IPrompt *prompt, std::vector<std::unique_ptr<IFileTransfer>> mirrors);

    bool Connect(const std::string &serverName = std::string()) override;
    bool SetCurrentDirectory(const std::string &path) override;
    bool FindFile(const std::string &name) override;
    using IFileTransfer::GetFile;
    bool GetFile(const std::string &remoteName, const std::string &localFolder,
                 const GetFileOptions &options) override;
    bool GetBytes(const std::string &remoteName, std::string &bytes,
                  const GetFileOptions &options) override;
    bool Close() override;
    // The parts come from the mirror the last step ran on, alone: the
    // index just read there describes its file.
    bool rangesOffered() const override { return m_mirrors[m_current]->rangesOffered(); }
    bool GetRanges(const std::string &remoteName, const std::vector<ByteRange> &ranges,
                   const RangeSink &sink, RangeOptions &options) override;
    std::size_t mirrorCount() const override { return m_mirrors.size(); }
    void useMirror(std::size_t index) override;

    std::string host() const override;
    void setTls(const TlsSettings &tls) override;
    void setProxy(const std::string &proxy) override;
    void setMinRate(const MinRate &rate) override;
    void setPlainAllowed(bool allowed) override;
    void setCancelFlag(const std::atomic<bool> *cancel) override;

    bool isConnected() const override { return m_connected; }
    bool plainFallback() const override;
    bool tlsRefused() const override { return false; }
    // True when no mirror can be reached any more.
    bool connectionLost() const override;
    std::string lastError() const override { return m_lastError; }
    std::uint64_t lastReceived() const override;
    Validators lastValidators() const override;
    bool notModified() const override;
    // Only when every mirror does.
    bool allowsSeveralSessions() const override;

    // The mirror the last step ran on (its index in the given order).
    std::size_t currentMirror() const { return m_current; }

private:
    // Connects mirror i when needed and makes the folder changes it lacks.
    bool bring(std::size_t i);
    // Runs step on the current mirror, then on the others in order.
    bool onFirstThatWorks(const std::function<bool(IFileTransfer &)> &step);

    IPrompt *m_prompt = nullptr;
    std::vector<std::unique_ptr<IFileTransfer>> m_mirrors;
    std::vector<std::size_t> m_applied; // folder changes made on each mirror
    std::vector<bool> m_unreachable;
    std::vector<std::string> m_paths; // the folder changes of this connection
    std::size_t m_current = 0;
    std::size_t m_pinned = kAllMirrors;
    bool m_connected = false;
    const std::atomic<bool> *m_cancel = nullptr;
    std::string m_lastError;
};
