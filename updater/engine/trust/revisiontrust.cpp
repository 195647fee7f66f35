#include "revisiontrust.h"

#include "revision/relinfo.h"
#include "revision/relinfolist.h"
#include "revision/revisionsignature.h"
#include "signature.h"

namespace {

constexpr const char *kRefused = "Update refused: ";

} // namespace

CRevisionTrust::CRevisionTrust(TrustedKey key, Clock clock)
    : m_key(std::move(key))
    , m_clock(std::move(clock))
{
    m_root = m_key.root.empty() && !m_key.pem.empty() ? singleKeyRoot(m_key.pem) : m_key.root;
}

std::string CRevisionTrust::refusalFor(const std::string &reason)
{
    return kRefused + reason;
}

std::string CRevisionTrust::checkSignature(const std::string &signatureText, std::string_view list,
                                           std::uint64_t &sequence) const
{
    RevisionSignature signature;
    if (!parseRevisionSignature(signatureText, signature))
        return std::string(kRevisionSignatureName) + " is malformed";
    if (list.size() > static_cast<std::uint64_t>(kMaxRelInfoFileSize))
        return std::string(kRemoteRelInfoName) + " is larger than "
            + std::to_string(kMaxRelInfoFileSize) + " bytes";
    std::string message = revisionSignatureHeader(signature.sequence, signature.expires);
    message.append(list);
    std::vector<std::string> signatures = signature.extraSignatures;
    signatures.push_back(signature.signature);
    const std::size_t signers = countSigningKeys(m_root.keys, message, signatures);
    if (signers == 0 && m_root.keys.size() == 1)
        return std::string(kRemoteRelInfoName) + " does not match its signature by the trusted key";
    if (signers < m_root.threshold)
        return std::string(kRemoteRelInfoName) + " is signed by " + std::to_string(signers)
            + " of the trusted keys, fewer than the threshold " + std::to_string(m_root.threshold)
            + " of the root of version " + std::to_string(m_root.version);
    std::time_t expires = 0;
    parseUtcMoment(signature.expires, expires);
    if (now() >= expires)
        return std::string(kRemoteRelInfoName) + " expired on " + signature.expires;
    sequence = signature.sequence;
    return std::string();
}

bool CRevisionTrust::accept(std::string_view list, const std::string *signature,
                            std::uint64_t acceptedSequence, RelInfoList &records)
{
    m_refusal.clear();
    m_sequence = 0;
    RelInfoList read;
    if (!keyInForce()) {
        if (!readRemoteRelInfo(read, list))
            return refuse(std::string(kRemoteRelInfoName) + " is larger than "
                          + std::to_string(kMaxRelInfoFileSize) + " bytes");
        records = std::move(read);
        return true;
    }
    if (!m_key.error.empty())
        return refuse(m_key.error);
    const std::string expired = rootExpiry(m_root, now());
    if (!expired.empty())
        return refuse(expired);
    if (!signature)
        return refuse(std::string(kRemoteRelInfoName) + " is not signed (no "
                      + kRevisionSignatureName + " on the server)");

    std::uint64_t sequence = 0;
    const std::string invalid = checkSignature(*signature, list, sequence);
    if (!invalid.empty())
        return refuse(invalid);
    if (sequence < acceptedSequence)
        return refuse(std::string(kRemoteRelInfoName) + " has sequence " + std::to_string(sequence)
                      + ", older than the accepted " + std::to_string(acceptedSequence));
    readRemoteRelInfo(read, list); // within its bound: checked with the signature
    for (const RelInfoRecord &record : read) {
        if (record.sha256.empty() || !record.hasSize)
            return refuse(std::string(kRemoteRelInfoName) + " lists " + std::string(record.fileName)
                          + " without a " + (record.sha256.empty() ? "SHA-256" : "size"));
    }
    records = std::move(read);
    m_sequence = sequence;
    return true;
}

bool CRevisionTrust::refuse(const std::string &reason)
{
    m_refusal = kRefused + reason;
    return false;
}
