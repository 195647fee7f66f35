#pragma once

#include <QString>

// The cost of the walk of a server's roots of trust: one update check,
// in the same process, over loopback FTP, of a program folder that starts
// from root version 1 while the server holds ten newer ones, against the
// same check with a single key and no roots on the server.
struct RootWalkTiming
{
    bool ok = false;
    double walkMs = 0;  // the check that walks 10 roots
    double plainMs = 0; // the check without a chain, the reference
};

// Best of a few rounds, taken alternately; data in folder.
RootWalkTiming timeRootWalk(const QString &folder);
