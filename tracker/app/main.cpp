// Spelmar: the ORBO service tool. Apart from --help and --version it takes
// no command-line arguments.

#include "programinfo.h"
#include "spelmarapp.h"
#include "version.h"

#include <QApplication>

namespace {

const char *const kHelpText =
    "Usage: Spelmar [--help | --version]\n"
    "\n"
    "The service tool for the ORBO measuring device on a serial line: connects\n"
    "to the device at a fixed baud rate or after a search, reads its identity\n"
    "and command list, sends commands, and traces one signal on a live graph\n"
    "with a CSV report. A simulated mode works without a device.\n"
    "\n"
    "The current directory at start is the program folder, where the update\n"
    "library libMoravel.so keeps the installation up to date; the launcher\n"
    "'spelmar' starts the program in its installed folder.\n"
    "\n"
    "Settings live in $XDG_CONFIG_HOME/Norvane/Dunvik.conf (the tracker) and\n"
    "$XDG_CONFIG_HOME/Norvane/AutoUpdate.conf (the update reminder);\n"
    "XDG_CONFIG_HOME defaults to ~/.config.\n"
    "\n"
    "Environment:\n"
    "  MORAVEL_FTP_HOST     update server as host or host:port, before the\n"
    "                       reminder's Host setting and the built-in server\n"
    "  MORAVEL_FTP_PASSIVE  1, yes or true: passive FTP transfers\n"
    "  MORAVEL_FTP_VERBOSE  1: trace the FTP dialogue on standard error\n"
    "\n"
    "Serial ports (/dev/ttyS*, /dev/ttyUSB*) belong to the group dialout; a\n"
    "user outside it cannot open them (sudo adduser $USER dialout, then log\n"
    "in again).\n";

} // namespace

int main(int argc, char **argv)
{
    int status = 0;
    if (answerInfoOption(argc, argv, "Spelmar", SPELMAR_VERSION, kHelpText, status))
        return status;
    QApplication application(argc, argv);
    CSpelmarApp spelmar(application);
    return spelmar.initInstance();
}
