#pragma once

#include <QString>

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
    double verifyMs = 0; // signature and SHA-256 fields of every record
    double readMs = 0;   // reading the same file into a list, the reference
};

// Times the check of a signed revision file of `records` records (best of
// a few rounds), in folder.
VerifyTiming timeVerify(const QString &folder, int records);
