#include "transferfactory.h"

#include "curlurl.h"
#include "folderfileclient.h"
#include "ftpfileclient.h"
#include "ftpsettings.h"
#include "httpfileclient.h"
#include "mirrortransfer.h"

#include <vector>

namespace {

std::string trimmed(const std::string &text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

std::unique_ptr<IFileTransfer> makeFileTransfer(IPrompt *prompt, const std::string &hostText,
                                                FtpTls ftpTls)
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
            mirrors.push_back(makeFileTransfer(nullptr, host, ftpTls));
        return std::make_unique<CMirrorTransfer>(prompt, std::move(mirrors));
    }
    if (!CFolderFileClient::folderOfHost(hosts[0]).empty())
        return std::make_unique<CFolderFileClient>(prompt, hosts[0]);
    CurlUrl url;
    if (CurlUrl::parse(hosts[0], kPlainScheme, url)
        && (url.scheme == "https" || url.scheme == "http"))
        return std::make_unique<CHttpFileClient>(prompt, hosts[0]);
    auto ftp = std::make_unique<CFtpFileClient>(prompt, hosts[0]);
    ftp->setTlsMode(ftpTls);
    return ftp;
}
