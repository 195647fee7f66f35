// spelmar-cli: the ORBO service tool for scripts and terminals.

#include "cliarguments.h"
#include "clirunner.h"
#include "programinfo.h"
#include "version.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    int infoStatus = 0;
    if (answerInfoOption(argc, argv, "spelmar-cli", SPELMAR_VERSION, CliArguments::usageText(),
                         infoStatus))
        return infoStatus;
    QCoreApplication application(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "help") {
        std::fputs(CliArguments::usageText(), stdout);
        return 0;
    }
    CliArguments arguments;
    std::string error;
    if (!arguments.parse(args, error)) {
        std::fprintf(stderr, "spelmar-cli: %s\n%s", error.c_str(), CliArguments::usageText());
        return 2;
    }
    CCliRunner runner(arguments, stdout, stderr);
    const int status = runner.run();
    std::fflush(stdout);
    return status;
}
