#include "ftptls.h"

#include "settings/updatesettings.h"

#include <strings.h>

FtpTls parseFtpTlsMode(const std::string &text)
{
    for (const char *off : {"", "off", "no", "0", "false"})
        if (strcasecmp(text.c_str(), off) == 0)
            return FtpTls::Off;
    for (const char *offered : {"offered", "when offered", "try"})
        if (strcasecmp(text.c_str(), offered) == 0)
            return FtpTls::WhenOffered;
    return FtpTls::Required;
}

FtpTls ftpTlsMode(const std::string &serverPath)
{
    return parseFtpTlsMode(UpdateSettings::text(serverPath, UpdateSettings::kTls));
}
