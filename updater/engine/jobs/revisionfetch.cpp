#include "revisionfetch.h"

#include "files/folderfiles.h"
#include "revision/relinfo.h"
#include "revision/revisionsignature.h"
#include "transfer/filetransfer.h"
#include "trust/revisiontrust.h"
#include "phasenumber.h"
#include "revision/releasephase.h"
#include "rootchain.h"
#include "trustedkey.h"
#include "validatorcache.h"

#include <charconv>

std::string heldBackReason(std::time_t until)
{
    return "a release in phases, which reaches this installation on " + utcMomentText(until);
}

std::uint64_t acceptedSequence(const std::string &programFolder)
{
    std::string text;
    if (!readFileInFolder(programFolder, kAcceptedSequenceName, text, 64))
        return 0;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    std::uint64_t sequence = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), sequence);
    return error == std::errc() && end == text.data() + text.size() ? sequence : 0;
}

VerifiedList fetchVerifiedList(IFileTransfer &client, const std::string &programFolder,
                               const UpdateSecurity &security)
{
    VerifiedList result;
    CRevisionTrust trust(findTrustedKey(security.publicKeyFile, security.rootFile), security.clock);
    const std::uint64_t accepted = trust.keyInForce() ? acceptedSequence(programFolder) : 0;
    CRootChain roots(programFolder, trust);
    const bool walkRoots = trust.keyInForce() && !trust.root().empty();
    CValidatorCache validators(programFolder);
    const std::size_t mirrors = client.mirrorCount();
    std::size_t mirror = 0;
    auto passOver = [&](const std::string &why) {
        if (mirrors > 1)
            result.passedOver.push_back("mirror " + std::to_string(mirror + 1) + ": " + why);
    };
    // Every mirror's reason for bringing no list; the first refusal is
    // the one told.
    auto noList = [&](const std::string &why) {
        result.problem += (result.problem.empty() ? "" : "; ") + why;
        passOver(why);
    };
    auto refused = [&](const std::string &why) {
        if (result.refusal.empty())
            result.refusal = why;
        passOver(why);
    };
    for (; mirror < mirrors; ++mirror) {
        client.useMirror(mirror);
        if (walkRoots) {
            const std::string why = roots.walk(client);
            if (!why.empty()) {
                refused(why);
                continue;
            }
        }
        std::string list;
        if (!validators.fetch(client, kRemoteRelInfoName,
                              static_cast<std::uint64_t>(kMaxRelInfoFileSize), list)) {
            noList(client.lastError());
            continue;
        }
        std::string signature;
        bool signatureServed = trust.keyInForce();
        if (signatureServed
            && !validators.fetch(client, kRevisionSignatureName, kMaxRevisionSignatureSize,
                                 signature)) {
            const std::string why = client.lastError();
            // A file that sent bytes exists: its own failure is the reason.
            signatureServed = client.lastReceived() > 0 || client.FindFile(kRevisionSignatureName);
            if (signatureServed) {
                refused(CRevisionTrust::refusalFor(std::string(kRevisionSignatureName)
                                                   + " cannot be fetched: " + why));
                continue;
            }
        }
        RelInfoList records;
        if (!trust.accept(list, signatureServed ? &signature : nullptr, accepted, records)) {
            refused(trust.refusal());
            continue;
        }
        // Copies that cannot be kept cost the next check a whole fetch;
        // a sequence that cannot be recorded weakens only the replay check
        // of a later run. This list is sound either way.
        std::string error;
        validators.keep(kRemoteRelInfoName, list, error);
        if (signatureServed)
            validators.keep(kRevisionSignatureName, signature, error);
        validators.save();
        if (trust.sequence() > accepted)
            replaceFileInFolder(programFolder, kAcceptedSequenceName,
                                std::to_string(trust.sequence()) + "\n", error);
        client.useMirror(IFileTransfer::kAllMirrors);
        result.outcome = VerifiedList::Outcome::Accepted;
        const ReleasePhase phase = readReleasePhase(list);
        if (!security.ignorePhases && heldInPhases(phase)) {
            const std::time_t begins = phaseBegins(phase, phaseNumber(programFolder, error));
            if (trust.now() < begins) {
                result.heldBackUntil = begins;
                records = RelInfoList();
            }
        }
        result.records = std::move(records);
        result.bytes = std::move(list);
        result.refusal.clear();
        return result;
    }
    client.useMirror(IFileTransfer::kAllMirrors);
    result.outcome =
        result.refusal.empty() ? VerifiedList::Outcome::NoList : VerifiedList::Outcome::Refused;
    return result;
}
