#include "rootchain.h"

#include "files/folderfiles.h"
#include "revision/relinfo.h"
#include "transfer/filetransfer.h"
#include "trust/revisiontrust.h"
#include "trust/trustroot.h"

CRootChain::CRootChain(const std::string &programFolder, CRevisionTrust &trust)
    : m_folder(programFolder)
    , m_trust(trust)
{
    std::string bytes;
    ParsedRoot kept;
    if (!m_trust.root().empty()
        && readFileInFolder(m_folder, kAcceptedRootName, bytes, kMaxRootFileSize)
        && parseRoot(bytes, kept).empty() && kept.root.version > m_trust.root().version)
        m_trust.setRoot(std::move(kept.root));
}

std::string CRootChain::walk(IFileTransfer &client)
{
    TrustRoot current = m_trust.root();
    const std::uint64_t start = current.version;
    std::string refusal;
    for (unsigned walked = 0;; ++walked) {
        const std::string name = rootFileName(current.version + 1);
        IFileTransfer::GetFileOptions options;
        options.maxBytes = kMaxRootFileSize;
        // Asked first, so that the usual end of the chain costs no error
        // page.
        if (!client.FindFile(name))
            break;
        std::string bytes;
        if (!client.GetBytes(name, bytes, options)) {
            refusal = name + " cannot be fetched: " + client.lastError();
            break;
        }
        if (walked == kMaxRootsPerWalk) {
            refusal = "the server has more than " + std::to_string(kMaxRootsPerWalk)
                + " new roots of trust; this check accepted versions up to "
                + std::to_string(current.version);
            break;
        }
        TrustRoot next;
        refusal = acceptNextRoot(current, bytes, next);
        if (!refusal.empty())
            break;
        current = std::move(next);
    }
    if (current.version > start) {
        // A root that cannot be kept is walked to again by the next check.
        std::string error;
        replaceFileInFolder(m_folder, kAcceptedRootName, current.bytes, error);
        m_trust.setRoot(current);
    }
    if (refusal.empty())
        refusal = rootExpiry(current, m_trust.now());
    return refusal.empty() ? refusal : CRevisionTrust::refusalFor(refusal);
}
