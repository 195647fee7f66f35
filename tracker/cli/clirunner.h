#pragma once

#include "cliarguments.h"

#include <cstdio>

// Runs one checked spelmar-cli subcommand. Results go to out, failures
// (the window's "!! ..." answer-line texts) to err. Returns the exit
// status: 0 success, 1 device or file failure.
class CCliRunner
{
public:
    CCliRunner(const CliArguments &arguments, std::FILE *out, std::FILE *err);

    int run();

private:
    int runPorts();
    int runIdentify();
    int runCommands();
    int runSend();
    int runTrace();
    int runConfigure();

    const CliArguments &m_args;
    std::FILE *m_out;
    std::FILE *m_err;
};
