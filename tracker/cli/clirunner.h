#pragma once

#include "cliarguments.h"
#include "deviceconnection.h"

#include <cstdio>
#include <string>
#include <vector>

// Runs one checked spelmar-cli subcommand. Results go to out, failures
// (the window's "!! ..." answer-line texts) to err. Returns the exit
// status: 0 success, 1 device or file failure.
class CCliRunner
{
public:
    CCliRunner(const CliArguments &arguments, std::FILE *out, std::FILE *err);

    int run();

private:
    using OpenStep = CDeviceConnection::Result (CDeviceConnection::*)(const std::string &,
                                                                      const std::string &, bool);
    // Opens the device with one of the connection's steps; failures go to
    // the error stream as the window's answer line shows them.
    bool open(CDeviceConnection &connection, OpenStep step);

    int runPorts();
    int runIdentify();
    int runCommands();
    int runSend();
    int runTrace();
    int runReview();
    // "send HLP": the help listing, read as the connection reads it.
    int runHelpListing(CDeviceSession &session, CDeviceConnection &connection);
    int runConfigure();
    // Listing entries on out, escaped; a cut listing says so on err.
    void printListing(const std::vector<std::string> &entries, bool cut);

    const CliArguments &m_args;
    std::FILE *m_out;
    std::FILE *m_err;
};
