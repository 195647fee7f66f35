#pragma once

#include "revision/relinfolist.h"
#include "trust/updatesecurity.h"

#include <ctime>
#include <string>
#include <vector>

class IFileTransfer;

// The server's revision file as a check, a download run and the release
// notes take it: RelInfoRemote.rel and its RelInfoRemote.rel.sig fetched
// into memory from one mirror, decided on there (CRevisionTrust), and the
// records parsed from those same bytes. A mirror whose list is refused
// (older sequence, expired, a bad or missing signature) or cannot be
// fetched hands over to the next; a list and its signature always come
// from the same mirror. Once one is accepted, the client is free again to
// fetch the files from any mirror, that one asked first.
//
// The accepted list and signature are kept in the program folder (the
// validators of RelInfoRemote.validators belong to those copies) and the
// signed sequence in RelInfoLocal.seq; nothing here reads them back for a
// decision, and a refusal leaves the copies accepted before as they are.
// The caller holds the program folder's lock.

struct VerifiedList
{
    enum class Outcome
    {
        Accepted,
        NoList,  // no mirror brought a list (problem says why)
        Refused, // a mirror's list was refused, and no other was accepted
    };
    Outcome outcome = Outcome::NoList;
    RelInfoList records; // the accepted list's records (none while held back)
    std::string bytes;   // the accepted list's bytes
    std::string refusal; // the first refusal, one line
    std::string problem; // every mirror's reason for no list, one line
    // With several mirrors: why each one before the accepted one (or every
    // one) was passed over, in their order ("mirror 1: ...").
    std::vector<std::string> passedOver;
    // A phased release that this installation is not offered yet (its
    // records are then held back): the moment it will be; else 0.
    std::time_t heldBackUntil = 0;
};

// The line that tells when a held-back release reaches this installation.
std::string heldBackReason(std::time_t until);

// client: connected, in the update folder.
VerifiedList fetchVerifiedList(IFileTransfer &client, const std::string &programFolder,
                               const UpdateSecurity &security);

// The highest sequence accepted in programFolder (0 when none).
std::uint64_t acceptedSequence(const std::string &programFolder);
