#include "filetransfer.h"

#include "prompt.h"

#include "files/folderfiles.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

constexpr std::size_t kMaxErrorText = 1024;

const char *const kConnectFailedText =
    "Connection to the NORVANE server failed.\n"
    "Cannot check the new software updates.\n"
    "You can inactivate this feature if no internet line is available!\n\n";

const char *const kTlsRefusedText = "TLS required: the update server does not offer TLS.\n"
                                    "Nothing was sent to it, and no update was looked for.\n\n";

} // namespace

void tellConnectFailed(IPrompt *prompt, const IFileTransfer &transfer)
{
    if (!prompt)
        return;
    std::string text;
    if (transfer.tlsRefused()) {
        // Not a line problem: switching the reminder off is no advice here.
        text = kTlsRefusedText;
    } else {
        text = kConnectFailedText;
        text += "ERROR!  " + transfer.lastError().substr(0, kMaxErrorText) + "\n";
        text += "\n";
    }
    text += "FTP Server: <" + transfer.host() + ">";
    prompt->message(text, std::string(), IPrompt::Buttons::Ok, IPrompt::Icon::None);
}

bool IFileTransfer::GetBytes(const std::string &remoteName, std::string &bytes,
                             const GetFileOptions &options)
{
    // Through a private folder of its own for clients that only download
    // into files; the file there is read once and goes with the folder.
    bytes.clear();
    if (options.maxBytes == 0 || remoteName.find_first_of("\\/") != std::string::npos)
        return false;
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/moravel-get-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return false;
    GetFileOptions local = options;
    local.syncToDisk = false;
    bool ok = GetFile(remoteName, pattern, local);
    if (ok && !notModified())
        ok = readFileInFolder(pattern, remoteName, bytes,
                              static_cast<std::size_t>(options.maxBytes));
    std::error_code ec;
    std::filesystem::remove_all(pattern, ec);
    return ok;
}
