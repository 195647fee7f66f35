#include "ftptls.h"

#include "ftpsettings.h"

#include <strings.h>

namespace {

bool startsWithNoCase(const std::string &text, const char *prefix)
{
    const std::size_t length = std::char_traits<char>::length(prefix);
    return text.size() >= length && strncasecmp(text.c_str(), prefix, length) == 0;
}

} // namespace

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

std::string stripFtpScheme(const std::string &hostText, FtpTls &mode)
{
    if (startsWithNoCase(hostText, kTlsScheme)) {
        mode = FtpTls::Required;
        return hostText.substr(std::char_traits<char>::length(kTlsScheme));
    }
    if (startsWithNoCase(hostText, kPlainScheme))
        return hostText.substr(std::char_traits<char>::length(kPlainScheme));
    return hostText;
}

FtpTlsSettings ftpTlsSettings(const std::string &serverPath, const std::string &caFile)
{
    FtpTlsSettings settings;
    settings.mode = parseFtpTlsMode(UpdateSettings::text(serverPath, UpdateSettings::kTls));
    settings.caFile =
        caFile.empty() ? UpdateSettings::text(serverPath, UpdateSettings::kCaFile) : caFile;
    return settings;
}
