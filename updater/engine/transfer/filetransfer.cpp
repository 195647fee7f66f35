#include "filetransfer.h"

#include "ftpfileclient.h"
#include "ftpsettings.h"
#include "httpfileclient.h"
#include "mirrortransfer.h"
#include "prompt.h"

#include "files/folderfiles.h"

#include <QByteArray>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

constexpr std::size_t kMaxErrorText = 1024;

const char *const kConnectFailedText =
    "Connection to the NORVANE server failed.\n"
    "Cannot check the new software updates.\n"
    "You can inactivate this feature if no internet line is available!\n\n";

const char *const kTlsRefusedText = "TLS required: the update server does not offer TLS.\n"
                                    "Nothing was sent to it, and no update was looked for.\n\n";

std::string trimmed(const std::string &text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool startsWithNoCase(const std::string &text, const char *prefix)
{
    return QByteArray::fromStdString(text).toLower().startsWith(prefix);
}

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

std::string proxyForMessages(const std::string &proxy)
{
    const std::size_t scheme = proxy.find("://");
    const std::size_t userStart = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t at = proxy.rfind('@');
    if (at == std::string::npos || at < userStart)
        return proxy;
    const std::size_t colon = proxy.find(':', userStart);
    if (colon == std::string::npos || colon > at)
        return proxy;
    return proxy.substr(0, colon + 1) + "***" + proxy.substr(at);
}

std::unique_ptr<IFileTransfer> makeFileTransfer(IPrompt *prompt, const std::string &hostText)
{
    const std::string text = hostText.empty() ? ftpServerHost() : hostText;
    std::vector<std::string> hosts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string host = trimmed(text.substr(start, comma - start));
        if (!host.empty())
            hosts.push_back(host);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (hosts.empty())
        hosts.push_back(trimmed(text));
    if (hosts.size() > 1) {
        // The members stay silent; the mirrors tell once when none answers.
        std::vector<std::unique_ptr<IFileTransfer>> mirrors;
        for (const std::string &host : hosts)
            mirrors.push_back(makeFileTransfer(nullptr, host));
        return std::make_unique<CMirrorTransfer>(prompt, std::move(mirrors));
    }
    if (startsWithNoCase(hosts[0], "https://") || startsWithNoCase(hosts[0], "http://"))
        return std::make_unique<CHttpFileClient>(prompt, hosts[0]);
    return std::make_unique<CFtpFileClient>(prompt, hosts[0]);
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
