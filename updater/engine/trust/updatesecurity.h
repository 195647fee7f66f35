#pragma once

#include <ctime>
#include <functional>
#include <string>

// What a check or a download run trusts, beyond the defaults.
//
// publicKeyFile: the Ed25519 public key (PEM) that must have signed the
// server's revision file. Empty: the key built into the program, else
// moravel.pub beside the library or program that runs the engine, else
// none (revision files are then taken unsigned, as servers without
// signatures expect).
//
// rootFile: the root of trust (trustroot.h) that the walk of the server's
// roots starts from, before publicKeyFile and the defaults; empty: the
// key as above, else moravel.root beside the library or program, before
// moravel.pub there. The newest root accepted since is kept in the program
// folder (jobs/rootchain.h) and starts the next walk.
//
// caFile: the certificates (PEM) that a TLS server's certificate must
// chain to. Empty: the CAFile value of the reminder settings, else the
// system's store.
//
// clock: the time against which a signature's expiry is checked; the
// system clock when empty; also the clock a phased release is held back
// by.
//
// ignorePhases: a check the user asked for now, which a phased release
// reaches at once.
struct UpdateSecurity
{
    std::string publicKeyFile;
    std::string caFile;
    std::function<std::time_t()> clock;
    std::string rootFile;
    bool ignorePhases = false;
};
