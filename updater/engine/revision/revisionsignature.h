#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// The detached signature of a server's revision file: RelInfoRemote.rel.sig
// beside RelInfoRemote.rel in the update directory. Four text lines (LF or
// CR LF), in this order:
//
//   Moravel-Signature: 1
//   Sequence: 42
//   Expires: 2027-01-06T12:00:00Z
//   Signature: <base64 of the 64-byte Ed25519 signature>
//
// Sequence is a decimal number that the publisher raises with every
// release; a client refuses one lower than the highest it has accepted.
// Expires is a UTC moment in ISO 8601 form; a client refuses the file from
// that moment on. The signature covers, byte for byte, the message
//
//   "Moravel signed revision file\n" "Version: 1\n"
//   "Sequence: 42\n" "Expires: 2027-01-06T12:00:00Z\n"
//   followed by the exact bytes of RelInfoRemote.rel,
//
// so neither the numbers nor any byte of the revision file can change
// without the signature failing, and a signature made for something else
// never passes as one of these.
//
// A list signed with several keys carries one Signature line for each,
// after the first (at most kMaxRevisionSignatures in all); a file of one
// key stays the four lines above.

constexpr const char *kRevisionSignatureName = "RelInfoRemote.rel.sig";
constexpr int kRevisionSignatureVersion = 1;
constexpr std::size_t kMaxRevisionSignatureSize = 4096;
constexpr std::size_t kMaxRevisionSignatures = 32;

struct RevisionSignature
{
    std::uint64_t sequence = 0;
    std::string expires;                      // "YYYY-MM-DDThh:mm:ssZ"
    std::string signature;                    // base64
    std::vector<std::string> extraSignatures; // by further keys, base64
};

// The signed message for a revision file's bytes: the header, then the
// bytes.
std::string revisionSignatureHeader(std::uint64_t sequence, const std::string &expires);
std::string revisionSignatureMessage(std::uint64_t sequence, const std::string &expires,
                                     const std::string &revisionFile);

// The text of a signature file.
std::string formatRevisionSignature(const RevisionSignature &signature);

// Reads a signature file's text. False when it is not the four lines
// above, with at most kMaxRevisionSignatures - 1 Signature lines after them (any other version, a
// number out of range, a malformed moment).
bool parseRevisionSignature(const std::string &text, RevisionSignature &signature);

// "YYYY-MM-DDThh:mm:ssZ" of a moment, and back (false for any other form
// or an impossible date).
std::string utcMomentText(std::time_t moment);
bool parseUtcMoment(const std::string &text, std::time_t &moment);

// Appends a whole file to text; false when it cannot be read or is larger
// than maxSize (text then holds an unspecified tail).
bool appendWholeFile(const std::string &path, std::string &text, std::size_t maxSize);
