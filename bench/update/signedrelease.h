#pragma once

#include <QString>

#include <functional>

// Signatures in the update benchmark: a publisher key for the benchmark's
// update directory, and the cost of checking a large signed revision file.

// Makes a key pair in keyFolder (publisher.key, publisher.pub) and
// publishes updateFolder with it: RelInfoRemote.rel keeps its revisions
// and gains each file's SHA-256, and RelInfoRemote.rel.sig signs it.
// Returns the public key's path, empty on failure.
QString publishSigned(const QString &updateFolder, const QString &keyFolder);

struct VerifyTiming
{
    bool ok = false;
    double verifyMs = 0; // the trust decision on the bytes, records parsed
    double readMs = 0;   // reading the same file into a list, the reference
};

// Times the check of a signed revision file of `records` records (best of
// a few rounds), in folder.
VerifyTiming timeVerify(const QString &folder, int records);

// How often run() has RelInfoRemote.rel in folder opened for reading: the
// closes of that file by anyone who did not write it (inotify's
// IN_CLOSE_NOWRITE). -1 when run() fails or the count cannot be taken.
int revisionFileReads(const QString &folder, const std::function<bool()> &run);
