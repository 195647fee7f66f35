#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "trustroot.h"

class RelInfoList;

// The public key that a server's revision file must be signed with, as
// the one who runs the engine found it (jobs/trustedkey.h).
struct TrustedKey
{
    enum class Source
    {
        None,
        File,
        BuiltIn,
        Beside,
        RootFile,   // a root of trust named by the one who runs the engine
        RootBeside, // moravel.root beside the engine
    };
    Source source = Source::None;
    std::string pem;   // a single key (File, BuiltIn, Beside)
    TrustRoot root;    // a root file's root (RootFile, RootBeside)
    std::string path;  // the file it came from (File, Beside, RootFile, RootBeside)
    std::string error; // a key is named but cannot be used
};

// The trust decision on a server's revision file, made on bytes: the list
// and its RelInfoRemote.rel.sig as they arrived, the highest sequence the
// program folder has accepted, the key and the clock. It reads, writes and
// fetches nothing; whoever fetched the bytes keeps what it accepts.
//
// With a key in force a list is accepted only when its signature file is
// there and well formed, valid signatures over the list's exact bytes come
// from at least the threshold of distinct keys of the root in force (a
// single key is a root of its own, threshold 1), it has not expired, its sequence is not lower than
// the accepted one, and every record carries a SHA-256 and a size, so
// that each file's content and length are covered by the signature too.
// A key named but unusable refuses everything. Without any key every list
// is accepted, as servers without signatures expect.
class CRevisionTrust
{
public:
    using Clock = std::function<std::time_t()>;

    // clock: the system clock when empty.
    explicit CRevisionTrust(TrustedKey key, Clock clock = Clock());

    bool keyInForce() const { return m_key.source != TrustedKey::Source::None; }

    // The root whose keys count: the key's own until setRoot() names a
    // newer one (a walk of the server's roots, jobs/rootchain.h).
    const TrustRoot &root() const { return m_root; }
    void setRoot(TrustRoot root) { m_root = std::move(root); }

    // Decides on list with its signature file (null: the server has none).
    // On acceptance records gets the records of exactly these bytes and
    // sequence() the signed sequence (0 without a key); on refusal records
    // stay as they were and refusal() tells why in one line.
    bool accept(std::string_view list, const std::string *signature, std::uint64_t acceptedSequence,
                RelInfoList &records);
    const std::string &refusal() const { return m_refusal; }
    std::uint64_t sequence() const { return m_sequence; }

    // Checks a list's bytes against a signature file's text with the root
    // in force, as accept() does, without the sequence and the records.
    // Empty text when valid, else the reason.
    std::string checkSignature(const std::string &signatureText, std::string_view list,
                               std::uint64_t &sequence) const;

    std::time_t now() const { return m_clock ? m_clock() : std::time(nullptr); }

    // The one-line refusal for reason ("Update refused: " and the reason).
    static std::string refusalFor(const std::string &reason);

private:
    bool refuse(const std::string &reason);

    TrustedKey m_key;
    TrustRoot m_root;
    Clock m_clock;
    std::string m_refusal;
    std::uint64_t m_sequence = 0;
};
