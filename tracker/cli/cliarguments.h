#pragma once

#include "serialconfig.h"

#include <optional>
#include <string>
#include <vector>

// The command line of spelmar-cli, checked: a subcommand and its options.
struct CliArguments
{
    std::string subcommand; // ports, identify, commands, send, trace, review, configure
    std::string port;
    std::string baud = "auto";
    bool simulate = false;
    // --dtr, --rts: what opening the port does with the line; unset when
    // not given (the line is left as it is, configure stores nothing).
    std::optional<LineControl> dtr;
    std::optional<LineControl> rts;
    std::string sendCommand;  // send: the command
    std::string traceCommand; // trace: --command
    double intervalMs = 100.0;
    double durationSeconds = 0.0;  // trace: 0 when --samples is used
    long samples = 0;              // trace: 0 when --duration is used
    double reconnectSeconds = 0.0; // trace: how long a hung-up port is waited for
    std::string csvPath;
    bool tick = false;
    bool stats = false;     // trace: the run's figures after the values
    std::string reportPath; // review: the report
    std::string pngPath;    // review: pictures of its graph
    std::string svgPath;
    int pictureWidth = 1200;
    int pictureHeight = 800;

    // Fills the arguments from argv (without the program name). False with
    // a reason in error when the line is wrong.
    bool parse(const std::vector<std::string> &args, std::string &error);

    static const char *usageText();
};
