#pragma once

#include <string>

class CRevisionTrust;
class IFileTransfer;

// The walk of the server's roots of trust (trust/trustroot.h), from the
// newest root this installation trusts: the root it was installed with
// (the key in force), or the newer one kept in the program folder as
// RelInfoLocal.root since an earlier walk. The walk fetches root/N.root
// for N = that version + 1, + 2, ... as long as the server has them, at
// most kMaxRootsPerWalk of them and each at most kMaxRootFileSize bytes,
// and lets trust/trustroot decide on each. The newest root accepted is
// kept through the program folder's one writer; a root of a lower version
// than the one kept never replaces it. The caller holds the folder's lock
// and fetches the revision list from the same mirror afterwards.

class CRootChain
{
public:
    // Sets trust's root to the one kept in programFolder when that is newer
    // than the key's own.
    CRootChain(const std::string &programFolder, CRevisionTrust &trust);

    // Walks client's roots (client in the update folder). Empty when the
    // walk ended on a root that holds now, which trust then has; else the
    // refusal, one line. Roots accepted before a refusal stay accepted.
    std::string walk(IFileTransfer &client);

private:
    std::string m_folder;
    CRevisionTrust &m_trust;
};
