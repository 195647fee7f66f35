#include "cliarguments.h"

#include "cnumber.h"
#include "deviceconnection.h"
#include "linecontrol.h"
#include "settingsdefaults.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

bool isBaud(const std::string &text)
{
    const std::vector<std::string> &choices = CDeviceConnection::baudChoices();
    return std::find(choices.begin(), choices.end(), text) != choices.end();
}

bool parsePositive(const std::string &text, double &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const double parsed = strtodC(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed <= 0)
        return false;
    value = parsed;
    return true;
}

bool parseCount(const std::string &text, long &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed <= 0)
        return false;
    value = parsed;
    return true;
}

} // namespace

const char *CliArguments::usageText()
{
    return "Usage: spelmar-cli <subcommand> [options]\n"
           "  ports\n"
           "      the serial ports found on this machine, one a line\n"
           "  identify --port P [--baud B] [--dtr L] [--rts L] [--simulate]\n"
           "      revision, part name, serial number and model of the device\n"
           "  commands --port P [--baud B] [--dtr L] [--rts L] [--simulate]\n"
           "      the device's command list, one entry a line\n"
           "  send --port P [--baud B] [--dtr L] [--rts L] [--simulate] CMD\n"
           "      sends CMD (a second time when the first fails); prints the reply\n"
           "  trace --port P [--baud B] [--dtr L] [--rts L] [--simulate] --command CMD\n"
           "        [--interval MS] (--duration S | --samples N) [--csv FILE] [--tick]\n"
           "        [--stats] [--reconnect S]\n"
           "      polls CMD every MS milliseconds (default 100); prints each value,\n"
           "      failed polls go to standard error and polling goes on; --csv\n"
           "      writes the report file; a line that hangs up ends the trace with\n"
           "      exit 1, unless --reconnect waits up to S seconds for the port to\n"
           "      come back (tried once a second) and the trace goes on;\n"
           "      --stats then prints the run's figures as \"name: value\" lines\n"
           "      (samples, failed and late polls, period and exchange time in ms,\n"
           "      value minimum, maximum, mean and standard deviation)\n"
           "  review REPORT [--png FILE] [--svg FILE] [--size WxH]\n"
           "      reads a report written by trace --csv or the window; prints its\n"
           "      header and figures; --png (300 dpi) and --svg draw its graph at\n"
           "      WxH pixels (default 1200x800). A malformed report: exit 1 with\n"
           "      the line and what is wrong\n"
           "  configure --port P [--baud B] [--dtr L] [--rts L]\n"
           "      stores the port, baud rate and line choices the window starts with\n"
           "P is a COM port number (1 = /dev/ttyS0), a device path, tcp://HOST:PORT\n"
           "(raw, at the server's rate) or rfc2217://HOST:PORT; B is auto\n"
           "(the default), 9600, 19200, 38400 or 57600. L is what opening the port\n"
           "does with the DTR or RTS line: on (the default: raised), off or keep\n"
           "(left as it is).\n"
           "Exit status: 0 success, 1 device or file failure, 2 wrong usage.\n"
           "  --help, --version\n"
           "      this text, or the program's name and release\n"
           "The window's port and baud rate are kept in\n"
           "$XDG_CONFIG_HOME/Norvane/Dunvik.conf (default ~/.config/Norvane/Dunvik.conf).\n"
           "Serial ports belong to the group dialout: a user outside it cannot open\n"
           "them (sudo adduser $USER dialout, then log in again).\n";
}

bool CliArguments::parse(const std::vector<std::string> &args, std::string &error)
{
    if (args.empty()) {
        error = "no subcommand";
        return false;
    }
    subcommand = args[0];
    const bool known = subcommand == "ports" || subcommand == "identify" || subcommand == "commands"
        || subcommand == "send" || subcommand == "trace" || subcommand == "review"
        || subcommand == "configure";
    if (!known) {
        error = "unknown subcommand '" + subcommand + "'";
        return false;
    }
    bool durationGiven = false;
    bool samplesGiven = false;
    std::vector<std::string> positional;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string &arg = args[i];
        const bool hasValue = i + 1 < args.size();
        auto value = [&]() -> std::string { return args[++i]; };
        if (arg == "--simulate" && subcommand != "ports" && subcommand != "configure"
            && subcommand != "review") {
            simulate = true;
        } else if (arg == "--tick" && subcommand == "trace") {
            tick = true;
        } else if (arg == "--stats" && subcommand == "trace") {
            stats = true;
        } else if (arg == "--png" && hasValue && subcommand == "review") {
            pngPath = value();
        } else if (arg == "--svg" && hasValue && subcommand == "review") {
            svgPath = value();
        } else if (arg == "--size" && hasValue && subcommand == "review") {
            if (!SettingsDefaults::pictureSize(value(), pictureWidth, pictureHeight)) {
                error = "bad size (WIDTHxHEIGHT, each from 16 to 20000)";
                return false;
            }
        } else if (arg == "--port" && hasValue && subcommand != "ports" && subcommand != "review") {
            port = value();
        } else if (arg == "--baud" && hasValue && subcommand != "ports" && subcommand != "review") {
            baud = value();
            if (!isBaud(baud)) {
                error = "bad baud rate '" + baud + "'";
                return false;
            }
        } else if ((arg == "--dtr" || arg == "--rts") && hasValue && subcommand != "ports"
                   && subcommand != "review") {
            const std::string choice = value();
            LineControl control = LineControl::Unchanged;
            if (!parseLineControl(choice, control)) {
                error = "bad " + arg.substr(2) + " choice '" + choice + "' (on, off or keep)";
                return false;
            }
            (arg == "--dtr" ? dtr : rts) = control;
        } else if (arg == "--command" && hasValue && subcommand == "trace") {
            traceCommand = value();
        } else if (arg == "--interval" && hasValue && subcommand == "trace") {
            if (!parsePositive(value(), intervalMs)) {
                error = "bad interval";
                return false;
            }
        } else if (arg == "--duration" && hasValue && subcommand == "trace") {
            if (!parsePositive(value(), durationSeconds)) {
                error = "bad duration";
                return false;
            }
            durationGiven = true;
        } else if (arg == "--samples" && hasValue && subcommand == "trace") {
            if (!parseCount(value(), samples)) {
                error = "bad sample count";
                return false;
            }
            samplesGiven = true;
        } else if (arg == "--reconnect" && hasValue && subcommand == "trace") {
            if (!parsePositive(value(), reconnectSeconds)) {
                error = "bad reconnect time";
                return false;
            }
        } else if (arg == "--csv" && hasValue && subcommand == "trace") {
            csvPath = value();
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            error = "unknown or incomplete option '" + arg + "'";
            return false;
        } else {
            positional.push_back(arg);
        }
    }

    if (subcommand == "send") {
        if (positional.size() != 1 || positional[0].empty()) {
            error = "send needs exactly one command";
            return false;
        }
        sendCommand = positional[0];
    } else if (subcommand == "review") {
        if (positional.size() != 1 || positional[0].empty()) {
            error = "review needs exactly one report";
            return false;
        }
        reportPath = positional[0];
        return true;
    } else if (!positional.empty()) {
        error = "unexpected argument '" + positional[0] + "'";
        return false;
    }
    if (subcommand != "ports" && port.empty()) {
        error = "--port is missing";
        return false;
    }
    if (subcommand == "trace") {
        if (traceCommand.empty()) {
            error = "--command is missing";
            return false;
        }
        if (durationGiven == samplesGiven) {
            error = "give either --duration or --samples";
            return false;
        }
    }
    return true;
}
