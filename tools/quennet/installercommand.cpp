#include "installercommand.h"

InstallerCommand InstallerCommand::parse(const std::vector<std::string> &arguments)
{
    InstallerCommand command;
    static const std::string restorePrefix = "REST=";
    if (arguments.size() == 2
        && arguments[0].compare(0, restorePrefix.size(), restorePrefix) == 0) {
        command.kind = Kind::Restore;
        command.release = arguments[0].substr(restorePrefix.size());
        command.programPath = arguments[1];
    } else if (arguments.size() == 3 && arguments[0] == "instcomplete") {
        command.kind = Kind::UpdateAll;
        command.serverPath = arguments[1];
        command.programPath = arguments[2];
    } else if (arguments.size() == 2) {
        command.kind = Kind::UpdateNewer;
        command.serverPath = arguments[0];
        command.programPath = arguments[1];
    }
    return command;
}
