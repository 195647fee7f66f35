// spelmar-cli: the ORBO service tool for scripts and terminals.

#include "cliarguments.h"
#include "clirunner.h"
#include "programinfo.h"
#include "version.h"

#include <QApplication>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    int infoStatus = 0;
    if (answerInfoOption(argc, argv, "spelmar-cli", SPELMAR_VERSION, CliArguments::usageText(),
                         infoStatus))
        return infoStatus;
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
    // Pictures of a report are drawn by the graph widget, which needs a
    // GUI application; it never shows a window, so no display is needed.
    std::unique_ptr<QCoreApplication> application;
    if (!arguments.pngPath.empty() || !arguments.svgPath.empty()) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        application = std::make_unique<QApplication>(argc, argv);
    } else {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    CCliRunner runner(arguments, stdout, stderr);
    const int status = runner.run();
    std::fflush(stdout);
    return status;
}
