#include "ftpsettings.h"

std::string ftpServerHost(const std::string &) { return kDefaultFtpHost; }
bool ftpPassiveFromEnvironment() { return false; }
