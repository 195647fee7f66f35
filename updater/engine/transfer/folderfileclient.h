#pragma once

#include "filetransfer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The transfer for a published update folder that lies on this machine: a
// stick, a mounted medium or a share, named by a host text "file://PATH"
// ("file:///media/stick"; "file://localhost/PATH" too; %XX escapes are
// read). The server path and the file names are taken below PATH as the
// other transfers take them below their server.
//
// Nothing below PATH is reached through a symbolic link: every folder of a
// name is opened from its parent with O_NOFOLLOW, and a file is read only
// when it is a regular file (a FIFO, a device or a link is refused at once,
// never waited for). The same bounds as a server's apply: a file larger
// than maxBytes is refused before it is read, and one that grows while it
// is read is abandoned at that bound; the SHA-256, the cancel flag and the
// progress callback work as for the network transfers. The target is
// written through CReplacingFile, so a failed read leaves it untouched.
//
// Connect checks that PATH is a folder; SetCurrentDirectory that the folder
// exists. TLS, proxy and minimum rate do not apply and are ignored.
class CFolderFileClient : public IFileTransfer
{
public:
    CFolderFileClient(IPrompt *prompt, const std::string &hostText);

    // The folder a "file://" host text names; empty when it names none.
    static std::string folderOfHost(const std::string &hostText);

    bool Connect(const std::string &serverName = std::string()) override;
    bool SetCurrentDirectory(const std::string &path) override;
    bool FindFile(const std::string &name) override;
    using IFileTransfer::GetFile;
    bool GetFile(const std::string &remoteName, const std::string &localFolder,
                 const GetFileOptions &options) override;
    bool GetBytes(const std::string &remoteName, std::string &bytes,
                  const GetFileOptions &options) override;
    bool Close() override;

    std::string host() const override { return m_hostText; }
    void setTls(const TlsSettings &) override { }
    void setProxy(const std::string &) override { }
    void setMinRate(const MinRate &) override { }
    void setPlainAllowed(bool) override { }
    void setCancelFlag(const std::atomic<bool> *cancel) override { m_cancel = cancel; }

    bool isConnected() const override { return m_connected; }
    bool plainFallback() const override { return false; }
    bool tlsRefused() const override { return false; }
    bool connectionLost() const override { return m_connectionLost; }
    std::string lastError() const override { return m_lastError; }
    std::uint64_t lastReceived() const override { return m_lastReceived; }
    Validators lastValidators() const override { return Validators(); }
    bool notModified() const override { return false; }
    bool allowsSeveralSessions() const override { return true; }

private:
    // The name below the folder: the current directory's parts and name.
    std::string pathOf(const std::string &name) const;
    // Opens the file for a download and checks it against the options;
    // -1 with m_lastError set.
    int openForReading(const std::string &remoteName, const GetFileOptions &options,
                       std::uint64_t &size);
    // Reads the open file to its end into sink (false from sink ends it),
    // bounded by maxBytes; false with m_lastError set.
    template <typename Sink>
    bool readAll(int fd, const std::string &remoteName, const GetFileOptions &options,
                 std::uint64_t size, Sink &&sink);
    bool cancelled() const { return m_cancel && m_cancel->load(); }

    IPrompt *m_prompt;
    std::string m_hostText;
    std::string m_folder;
    std::vector<std::string> m_current;
    const std::atomic<bool> *m_cancel = nullptr;
    bool m_connected = false;
    bool m_connectionLost = false;
    std::string m_lastError;
    std::uint64_t m_lastReceived = 0;
    std::unique_ptr<char[]> m_buffer;
};
